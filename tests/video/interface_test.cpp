// The calling interface: sizes, argument checks, header rules, and damaged records.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "video_test_util.h"

namespace {

std::vector<uint8_t> makeStream(const char* label, int w, int h, int frames, const char* options) {
    std::vector<uint8_t> data;
    if (!vtest::haveFfmpeg()) return data;
    std::string path = vtest::tempDir() + "/" + label + ".m4v";
    if (vtest::ffmpegEncode(path, w, h, frames, "testsrc2", options)) vtest::readFile(path, data);
    std::remove(path.c_str());
    return data;
}

TEST(VideoInterface, MemorySizes) {
    VdecParams p{};
    p.width = 320;
    p.height = 240;
    VdecSizes s{};
    EXPECT_EQ(vdec_call(1, VDEC_MEMORY_SIZES, &p, &s), VDEC_OK);
    EXPECT_EQ(s.size1, 199168u);
    EXPECT_EQ(s.size2, 199168u);
    EXPECT_EQ(s.size3, 115200u);
    EXPECT_EQ(s.size4, 703488u);
    EXPECT_EQ(s.size5, 11332u);
    EXPECT_EQ(s.size6, 2216u);
    // Odd sizes halve by shifting: 33x17 gives (97 * 81) + 2 * (80 * 72) and 561 + 2 * 140.
    p.width = 33;
    p.height = 17;
    EXPECT_EQ(vdec_call(7, VDEC_MEMORY_SIZES, &p, &s), VDEC_OK);
    EXPECT_EQ(s.size1, 97u * 81 + 2 * 80 * 72);
    EXPECT_EQ(s.size3, 561u + 2 * 140);
}

TEST(VideoInterface, ArgumentChecks) {
    VdecParams p{};
    p.width = 320;
    p.height = 240;
    VdecSizes s{};
    // Handle 0 is refused whatever the opcode, and nothing is written.
    for (uint32_t op :
         {VDEC_DECODE, VDEC_MEMORY_SIZES, VDEC_INIT, VDEC_RELEASE, VDEC_SET_POSTPROC, VDEC_SET_OUTPUT, 5u})
        EXPECT_EQ(vdec_call(0, op, &p, &s), VDEC_BAD_ARGUMENT) << op;
    EXPECT_EQ(s.size1, 0u);
    VdecPostproc pp{101};
    EXPECT_EQ(vdec_call(1, VDEC_SET_POSTPROC, &pp, nullptr), VDEC_BAD_ARGUMENT);
    pp.level = -1;
    EXPECT_EQ(vdec_call(1, VDEC_SET_POSTPROC, &pp, nullptr), VDEC_BAD_ARGUMENT);
    for (int level : {0, 1, 9, 10, 50, 100}) {
        pp.level = level;
        EXPECT_EQ(vdec_call(1, VDEC_SET_POSTPROC, &pp, nullptr), VDEC_OK) << level;
    }
    EXPECT_EQ(vdec_call(1, VDEC_RELEASE, nullptr, nullptr), VDEC_OK);
    // Sizes the decoder cannot hold are refused at initialisation, not at the first picture.
    EXPECT_EQ(vtest::Session(0, 16).initResult(), VDEC_BAD_ARGUMENT);
    EXPECT_EQ(vtest::Session(16, -4).initResult(), VDEC_BAD_ARGUMENT);
    EXPECT_EQ(vtest::Session(2048, 2304).initResult(), VDEC_BAD_ARGUMENT);
    EXPECT_EQ(vtest::Session(9000, 16).initResult(), VDEC_BAD_ARGUMENT);
    EXPECT_EQ(vtest::Session(1920, 1088).initResult(), VDEC_OK);
    EXPECT_EQ(vtest::Session(2, 2).initResult(), VDEC_OK);
}

TEST(VideoInterface, HeaderRules) {
    vtest::Session s(176, 144);
    ASSERT_EQ(s.initResult(), VDEC_OK);
    // A video object start code followed by anything but a layer start code is a frame error.
    const uint8_t voThenVop[] = {0, 0, 1, 0, 0, 0, 1, 0xB6, 0x10, 0, 0, 0};
    EXPECT_EQ(s.decode(voThenVop, sizeof voThenVop), VDEC_FRAME_ERROR);
    // Visual-object-sequence and visual-object headers are not recognised.
    const uint8_t vos[] = {0, 0, 1, 0xB0, 1, 0, 0, 1, 0xB6, 0x10, 0, 0};
    EXPECT_EQ(s.decode(vos, sizeof vos), VDEC_FRAME_ERROR);
    const uint8_t vo[] = {0, 0, 1, 0xB5, 0x09, 0, 0, 1, 0xB6, 0x10, 0, 0};
    EXPECT_EQ(s.decode(vo, sizeof vo), VDEC_FRAME_ERROR);
    // No VOP start code, or nothing at all.
    const uint8_t junk[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(s.decode(junk, sizeof junk), VDEC_FRAME_ERROR);
    EXPECT_EQ(s.decode(junk, 0), VDEC_FRAME_ERROR);
    std::vector<uint8_t> before = s.output();
    EXPECT_EQ(s.decode(vos, sizeof vos), VDEC_FRAME_ERROR);
    EXPECT_TRUE(s.output() == before) << "a refused record must leave the output untouched";
}

TEST(VideoInterface, PictureOnlyRecordsUseTheLastLayer) {
    std::vector<uint8_t> stream = makeStream("layer", 64, 48, 6, "-g 100 -q:v 4");
    if (stream.empty()) GTEST_SKIP() << "ffmpeg not installed";
    auto records = m4v_split(stream.data(), stream.size());
    ASSERT_EQ(records.size(), 6u);
    std::vector<std::vector<uint8_t>> decoded;
    {
        vtest::Session s(64, 48);
        for (auto& r : records) {
            ASSERT_EQ(s.decode(r), VDEC_OK);
            decoded.push_back(s.output());
        }
    }
    // A second initialisation keeps the layer's time base: the picture-only records decode alone.
    vtest::Session s(64, 48);
    for (size_t i = 1; i < records.size(); ++i) ASSERT_EQ(s.decode(records[i]), VDEC_OK) << i;
    // From a fresh picture state the P-VOPs predict from a blank reference, so only the first decodes
    // alike; with the intra picture first the whole sequence matches.
    vtest::Session t(64, 48);
    // Drop the layer headers from the first record: 00 00 01 00, the layer, then the GOV or VOP.
    const std::vector<uint8_t>& first = records[0];
    size_t vop = 0;
    for (size_t i = 4; i + 4 <= first.size(); ++i)
        if (first[i] == 0 && first[i + 1] == 0 && first[i + 2] == 1 &&
            (first[i + 3] == 0xB3 || first[i + 3] == 0xB6)) {
            vop = i;
            break;
        }
    ASSERT_GT(vop, 0u);
    std::vector<uint8_t> bare(first.begin() + long(vop), first.end());
    ASSERT_EQ(t.decode(bare), VDEC_OK);
    EXPECT_TRUE(t.output() == decoded[0]);
    for (size_t i = 1; i < records.size(); ++i) {
        ASSERT_EQ(t.decode(records[i]), VDEC_OK);
        EXPECT_TRUE(t.output() == decoded[i]) << i;
    }
}

TEST(VideoInterface, NotCodedPictureRepeatsTheLastOne) {
    std::vector<uint8_t> stream = makeStream("notcoded", 32, 32, 2, "-g 100 -q:v 4");
    if (stream.empty()) GTEST_SKIP() << "ffmpeg not installed";
    auto records = m4v_split(stream.data(), stream.size());
    vtest::Session s(32, 32);
    ASSERT_EQ(s.decode(records[0]), VDEC_OK);
    ASSERT_EQ(s.decode(records[1]), VDEC_OK);
    std::vector<uint8_t> planesBefore = s.planes();
    // P-VOP, modulo_time_base 0, marker, vop_time_increment (5 bits at 25 Hz), marker, vop_coded 0.
    const uint8_t notCoded[] = {0, 0, 1, 0xB6, 0x50, 0x58, 0x7F};
    std::vector<uint8_t> second = s.output();
    s.clearOutput();
    ASSERT_EQ(s.decode(notCoded, sizeof notCoded), VDEC_OK);
    EXPECT_TRUE(s.output() == second);
    EXPECT_TRUE(s.planes() == planesBefore);
}

// After VDEC_RELEASE the caller may free its buffers: a decode is refused and touches neither them nor
// the output (the sanitizer build would report a read of freed memory), and a new initialisation works.
TEST(VideoInterface, DecodeAfterReleaseIsRefused) {
    std::vector<uint8_t> stream = makeStream("release", 32, 32, 2, "-g 100 -q:v 4");
    if (stream.empty()) GTEST_SKIP() << "ffmpeg not installed";
    auto records = m4v_split(stream.data(), stream.size());
    std::vector<uint8_t> first;
    {
        vtest::Session s(32, 32);
        ASSERT_EQ(s.decode(records[0]), VDEC_OK);
        first = s.output();
        s.release();
    }  // buffers freed here
    std::vector<uint8_t> out(32 * 32 * 4, 0xCD);
    VdecFrame f{};
    f.output = out.data();
    f.bitstream = records[1].data();
    f.length = int32_t(records[1].size());
    f.renderFlag = 1;
    EXPECT_EQ(vdec_call(1, VDEC_DECODE, &f, nullptr), VDEC_FRAME_ERROR);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xCD; }));
    vdec::PlaneView pv[3];
    EXPECT_FALSE(vdec::decoderOutputPicture(pv, nullptr));
    EXPECT_FALSE(vdec::decoderPendingPicture(pv));
    vtest::Session again(32, 32);
    ASSERT_EQ(again.decode(records[0]), VDEC_OK);
    EXPECT_TRUE(again.output() == first);
}

// The decoder keeps one state for the process: a session set up later takes it over. The earlier one then
// refuses to decode (its buffers are no longer the decoder's) and, when it ends, leaves the later one's
// decoder working; the later one decodes as a session alone would.
TEST(VideoInterface, ALaterSessionTakesTheDecoderOver) {
    std::vector<uint8_t> stream = makeStream("takeover", 32, 32, 3, "-g 100 -q:v 4");
    if (stream.empty()) GTEST_SKIP() << "ffmpeg not installed";
    auto records = m4v_split(stream.data(), stream.size());
    ASSERT_EQ(records.size(), 3u);
    std::vector<std::vector<uint8_t>> alone;
    {
        vtest::Session s(32, 32);
        for (auto& r : records) {
            ASSERT_EQ(s.decode(r), VDEC_OK);
            alone.push_back(s.output());
        }
    }
    auto earlier = std::make_unique<vtest::Session>(32, 32);
    ASSERT_EQ(earlier->decode(records[0]), VDEC_OK);
    vtest::Session later(32, 32);
    EXPECT_EQ(earlier->decode(records[1]), VDEC_FRAME_ERROR);
    ASSERT_EQ(later.decode(records[0]), VDEC_OK);
    earlier.reset();  // its buffers are freed; the sanitizer build would see the decoder still reading them
    for (size_t i = 1; i < records.size(); ++i) {
        ASSERT_EQ(later.decode(records[i]), VDEC_OK) << i;
        EXPECT_TRUE(later.output() == alone[i]) << i;
    }
}

// Damaged records give a frame error or a picture; the sanitizer builds check that nothing is read or
// written out of bounds.
TEST(VideoInterface, DamagedRecords) {
    std::vector<uint8_t> stream = makeStream("damage", 96, 64, 8, "-g 4 -flags +mv4 -q:v 3");
    std::vector<uint8_t> dp = makeStream("damage_dp", 96, 64, 8, "-g 4 -data_partitioning 1 -ps 100 -q:v 3");
    std::vector<uint8_t> asp =
        makeStream("damage_asp", 96, 64, 8, "-g 8 -bf 2 -flags +qpel+mv4+ildct+ilme -mpeg_quant 1 -q:v 3");
    std::vector<uint8_t> field =
        makeStream("damage_field", 96, 64, 8, "-g 8 -bf 1 -flags +ildct+ilme -q:v 3");
    if (stream.empty() || dp.empty() || asp.empty() || field.empty()) GTEST_SKIP() << "ffmpeg not installed";
    std::mt19937 rng(1234);
    int pictures = 0, errors = 0;
    for (const std::vector<uint8_t>* src : {&stream, &dp, &asp, &field}) {
        auto records = m4v_split(src->data(), src->size());
        for (int round = 0; round < 40; ++round) {
            vtest::Session s(96, 64);
            for (size_t i = 0; i < records.size(); ++i) {
                std::vector<uint8_t> r = records[i];
                switch (round % 4) {
                    case 0:  // truncated
                        r.resize(rng() % r.size());
                        break;
                    case 1:  // bits flipped
                        for (int k = 0; k < 1 + round / 4; ++k)
                            r[rng() % r.size()] ^= uint8_t(1u << (rng() % 8));
                        break;
                    case 2:  // random bytes after the headers
                        for (size_t k = r.size() / 3; k < r.size(); ++k) r[k] = uint8_t(rng());
                        break;
                    default:  // a random record with a VOP start code
                        r.assign(8 + rng() % 300, 0);
                        for (auto& b : r) b = uint8_t(rng());
                        r[0] = 0, r[1] = 0, r[2] = 1, r[3] = 0xB6;
                        break;
                }
                int32_t res = s.decode(r.data(), r.size());
                ASSERT_TRUE(res == VDEC_OK || res == VDEC_FRAME_ERROR) << res;
                (res == VDEC_OK ? pictures : errors)++;
            }
        }
    }
    EXPECT_GT(errors, 0);
    EXPECT_GT(pictures, 0);
}

}  // namespace

namespace {

// With B-VOPs every record still gives a picture: the first I-VOP at once, and again (as a repeat) when
// the next anchor arrives; then display order, one picture per record.
TEST(VideoInterface, PictureOrderWithBVops) {
    std::vector<uint8_t> stream = makeStream("order", 48, 32, 7, "-g 12 -bf 2 -q:v 4");
    if (stream.empty()) GTEST_SKIP() << "ffmpeg not installed";
    auto records = m4v_split(stream.data(), stream.size());
    ASSERT_EQ(records.size(), 7u);  // I P B B P B B
    vtest::Session s(48, 32);
    std::vector<std::vector<uint8_t>> shown;
    std::vector<bool> fresh;
    for (auto& r : records) {
        s.clearOutput();
        ASSERT_EQ(s.decode(r), VDEC_OK);
        bool isNew = false;
        vdec::PlaneView pv[3];
        ASSERT_TRUE(vdec::decoderOutputPicture(pv, &isNew));
        shown.push_back(s.output());
        fresh.push_back(isNew);
    }
    EXPECT_EQ(fresh, (std::vector<bool>{true, false, true, true, true, true, true}));
    EXPECT_TRUE(shown[1] == shown[0]) << "the second call shows the first I-VOP again";
    EXPECT_FALSE(shown[2] == shown[0]);
    vdec::PlaneView pv[3];
    EXPECT_TRUE(vdec::decoderPendingPicture(pv)) << "the last P-VOP waits for its turn";
}

// Pictures smaller than a macroblock, odd sizes among them, post-processed and converted: every write
// stays inside the buffers of the sizes the decoder reported (each has a guard tail that must stay as it
// was), B-VOPs and the post-processed copies in buffer 3 included.
TEST(VideoInterface, TinyPicturesStayInsideTheirBuffers) {
    if (!vtest::haveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 2}, {3, 1}, {1, 3}, {1, 4},
                                         {2, 2}, {5, 3}, {3, 5}, {17, 3}};
    constexpr size_t kGuard = 64;
    auto intact = [](const std::vector<uint8_t>& b) {
        return std::all_of(b.end() - kGuard, b.end(), [](uint8_t v) { return v == 0xA5; });
    };
    const std::string path = vtest::tempDir() + "/tiny.m4v";
    for (auto [w, h] : sizes) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        ASSERT_EQ(
            vtest::run(
                "ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i testsrc2=size=32x32:rate=25 "
                "-vf scale=" +
                std::to_string(w) + ":" + std::to_string(h) +
                " -frames:v 7 -c:v mpeg4 -threads 1 -bf 2 -g 12 -f m4v '" + path + "'"),
            0)
            << size;
        std::vector<uint8_t> stream;
        ASSERT_TRUE(vtest::readFile(path, stream));
        auto records = m4v_split(stream.data(), stream.size());
        ASSERT_EQ(records.size(), 7u) << size;

        VdecParams p{};
        p.width = w;
        p.height = h;
        p.outputFormat = 4;
        VdecSizes s{};
        ASSERT_EQ(vdec_call(1, VDEC_MEMORY_SIZES, &p, &s), VDEC_OK);
        const uint32_t n[6] = {s.size1, s.size2, s.size3, s.size4, s.size5, s.size6};
        std::vector<uint8_t> buf[6];
        for (int i = 0; i < 6; ++i) {
            buf[i].assign(n[i] + kGuard, 0xA5);
            p.buffer[i] = buf[i].data();
        }
        ASSERT_EQ(vdec_call(1, VDEC_INIT, &p, nullptr), VDEC_OK) << size;
        VdecPostproc pp{100};
        ASSERT_EQ(vdec_call(1, VDEC_SET_POSTPROC, &pp, nullptr), VDEC_OK);
        std::vector<uint8_t> out(size_t(w) * h * 4 + kGuard, 0xA5);
        for (auto& r : records) {
            VdecFrame f{};
            f.output = out.data();
            f.bitstream = r.data();
            f.length = int32_t(r.size());
            f.renderFlag = 1;
            EXPECT_EQ(vdec_call(1, VDEC_DECODE, &f, nullptr), VDEC_OK) << size;
        }
        vdec_call(1, VDEC_RELEASE, nullptr, nullptr);
        for (int i = 0; i < 6; ++i) EXPECT_TRUE(intact(buf[i])) << size << ": past buffer " << i + 1;
        EXPECT_TRUE(intact(out)) << size << ": past the output";
    }
    std::remove(path.c_str());
}

}  // namespace

namespace {

// VDEC_SET_OUTPUT with a code outside 1..11 keeps the converter and turns the rows top-down.
TEST(VideoInterface, OutputFormatSelection) {
    std::vector<uint8_t> stream = makeStream("format", 32, 16, 1, "-q:v 3");
    if (stream.empty()) GTEST_SKIP() << "ffmpeg not installed";
    auto records = m4v_split(stream.data(), stream.size());
    std::vector<uint8_t> topDown, bottomUp, outside;
    {
        vtest::Session s(32, 16, 8);
        ASSERT_EQ(s.decode(records[0]), VDEC_OK);
        topDown = s.output();
    }
    {
        vtest::Session s(32, 16, 4);
        ASSERT_EQ(s.decode(records[0]), VDEC_OK);
        bottomUp = s.output();
        VdecParams p{};
        p.outputFormat = 12;
        ASSERT_EQ(vdec_call(1, VDEC_SET_OUTPUT, &p, nullptr), VDEC_OK);
        ASSERT_EQ(s.decode(records[0]), VDEC_OK);
        outside = s.output();
    }
    EXPECT_TRUE(outside == topDown);
    EXPECT_FALSE(bottomUp == topDown);
    for (int r = 0; r < 16; ++r)
        EXPECT_TRUE(std::equal(bottomUp.begin() + r * 128, bottomUp.begin() + r * 128 + 128,
                               topDown.begin() + (15 - r) * 128));
}

}  // namespace

namespace {

// The first initialisation of a process presets a time-increment resolution of 15 (4-bit increments),
// so a clip of bare VOPs coded at 15 Hz decodes without any layer header. Checked in a fresh process.
TEST(VideoInterface, FirstInitialisationPresetsFifteenHertz) {
    std::vector<uint8_t> stream;
    if (vtest::haveFfmpeg()) {
        std::string path = vtest::tempDir() + "/preset15.m4v";
        if (vtest::run(
                "ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i testsrc2=size=32x32:rate=15 "
                "-frames:v 3 -c:v mpeg4 -threads 1 -g 3 -q:v 4 -f m4v '" +
                path + "'") == 0)
            vtest::readFile(path, stream);
        std::remove(path.c_str());
    }
    if (stream.empty()) GTEST_SKIP() << "ffmpeg not installed";
    auto records = m4v_split(stream.data(), stream.size());
    ASSERT_EQ(records.size(), 3u);
    // Each record without its layer headers: from the group-of-VOP or VOP start code on.
    std::vector<std::vector<uint8_t>> bare;
    for (const auto& r : records) {
        size_t at = 0;
        while (at + 4 <= r.size() && !(r[at] == 0 && r[at + 1] == 0 && r[at + 2] == 1 && r[at + 3] >= 0xB3))
            ++at;
        ASSERT_LE(at + 4, r.size());
        bare.emplace_back(r.begin() + long(at), r.end());
    }
    // The decoding runs in a freshly started process (nothing calls the decoder before it here).
    auto bareMatchesFull = [&]() {
        std::vector<std::vector<uint8_t>> bareOut;
        std::vector<std::vector<uint8_t>> fullOut;
        {
            vtest::Session s(32, 32);  // the process's first initialisation
            for (const auto& r : bare)
                bareOut.push_back(s.decode(r) == VDEC_OK ? s.output() : std::vector<uint8_t>());
        }
        {
            vtest::Session s(32, 32);
            for (const auto& r : records)
                fullOut.push_back(s.decode(r) == VDEC_OK ? s.output() : std::vector<uint8_t>());
        }
        return bareOut == fullOut && !fullOut[2].empty();
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(bareMatchesFull() ? 0 : 1), testing::ExitedWithCode(0), "");
}

}  // namespace

namespace {

// The smallest odd pictures: buffer 3 (w h + 2 (w h / 4) bytes) has no room after the luma for even one
// rounded-up chroma plane of the post-processed picture. A 1x17 stream (found by fuzzing) decoded at
// every filter set; the sanitizer build reports any write past the buffers.
TEST(VideoInterface, PostprocessingOfTinyOddPicturesStaysInItsBuffers) {
    std::vector<uint8_t> stream;
    ASSERT_TRUE(vtest::readFile(std::string(QV_SOURCE_DIR) + "/tests/fuzz/vdec/corpus/odd_1x17_postproc.m4v",
                                stream));
    int w = 0, h = 0;
    ASSERT_TRUE(m4v_layer_size(stream.data(), stream.size(), &w, &h));
    ASSERT_EQ(w * 100 + h, 117);
    for (int level : {1, 10, 20, 30, 40, 50}) {
        vtest::DecodeResult r = vtest::decodeStream(stream, true, level);
        // Every picture output is 1x17 with 1x9 chroma planes.
        EXPECT_GT(r.frames, 0) << level;
        EXPECT_EQ(r.yuv.size(), size_t(r.frames) * (17 + 2 * 9)) << level;
    }
}

}  // namespace
