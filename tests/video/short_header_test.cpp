// Pictures with short header (H.263 baseline): the corpus's H.263 streams and streams made with ffmpeg's
// h263 encoder at test time against the reference decodes, and damaged pictures.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "reference_check.h"

namespace {

const std::string kCorpus = std::string(QV_SHARED_DIR) + "/testdata/m4v";

// Decodes the stream and holds it to the reference decode: frame count, at least 48 dB on every frame
// and 52 dB on average.
void expectMatchesReference(const std::string& stream, const std::string& label, int expectedFrames) {
    vtest::expectMatchesReference(stream, label, expectedFrames, 0, "h263");
}

bool encodeH263(const std::string& out, const char* source, int w, int h, int frames, const char* options) {
    const char* sep = std::string(source).find('=') == std::string::npos ? "=" : ":";
    return vtest::run(std::string("ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i ") + source +
                      sep + "size=" + std::to_string(w) + "x" + std::to_string(h) + ":rate=25 -frames:v " +
                      std::to_string(frames) + " -c:v h263 -threads 1 " + options + " -f h263 '" + out +
                      "'") == 0;
}

TEST(VideoShortHeader, CorpusH263StreamsMatchReferenceDecodes) {
    std::ifstream in(kCorpus + "/manifest.tsv");
    if (!in) GTEST_SKIP() << "no test corpus at " << kCorpus;
    if (!vtest::haveFfmpeg()) std::printf("ffmpeg not found: checking frame counts only\n");
    int checked = 0;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '\t')) f.push_back(cell);
        if (f.size() < 9 || f[1] != "h263" || f[8] != "consistent") continue;
        size_t slash = f[0].rfind('/');
        std::string name = f[0].substr(slash + 1, f[0].find('.', slash) - slash - 1);
        expectMatchesReference(kCorpus + "/" + f[0], name, std::stoi(f[4]));
        ++checked;
    }
    EXPECT_EQ(checked, 3);
}

// Sub-QCIF, QCIF and 4CIF; GOB headers (with empty ones between), quantiser changes per macroblock,
// large motion, intra refresh.
TEST(VideoShortHeader, GeneratedStreamsMatchReferenceDecodes) {
    if (!vtest::haveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    struct Case {
        const char* label;
        const char* source;
        int w, h, frames;
        const char* options;
    } cases[] = {
        {"h263_128x96", "testsrc2", 128, 96, 12, "-g 12 -q:v 4"},
        {"h263_176x144_gob", "testsrc2", 176, 144, 12, "-g 6 -ps 150 -q:v 6"},
        {"h263_176x144_dquant", "mandelbrot", 176, 144, 12,
         "-g 25 -qmin 2 -qmax 20 -q:v 3 -mbd rd -aq-mode 1"},
        {"h263_128x96_gob_motion", "life=mold=10:seed=3", 128, 96, 10, "-g 10 -ps 100 -q:v 2"},
        {"h263_704x576_gob", "mandelbrot", 704, 576, 3, "-g 3 -ps 400 -q:v 4"},  // two rows a GOB
    };
    for (const Case& c : cases) {
        std::string path = vtest::tempDir() + "/" + c.label + ".h263";
        ASSERT_TRUE(encodeH263(path, c.source, c.w, c.h, c.frames, c.options)) << c.label;
        expectMatchesReference(path, c.label, c.frames);
        std::remove(path.c_str());
    }
}

// Damaged pictures: frame errors for what the header refuses (another size, optional modes, reserved
// formats), and frame errors or pictures, never a crash, for truncated, bit-flipped and random records.
// A later intact I picture decodes as if nothing had happened.
TEST(VideoShortHeader, DamagedPicturesGiveFrameErrors) {
    if (!vtest::haveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    std::string path = vtest::tempDir() + "/damaged.h263";
    ASSERT_TRUE(encodeH263(path, "testsrc2", 176, 144, 6, "-g 3 -ps 120 -q:v 5"));
    std::vector<uint8_t> data;
    ASSERT_TRUE(vtest::readFile(path, data));
    std::remove(path.c_str());
    std::vector<std::vector<uint8_t>> records = m4v_split(data.data(), data.size());
    ASSERT_EQ(records.size(), 6u);

    vtest::Session clean(176, 144);
    ASSERT_EQ(clean.decode(records[0]), VDEC_OK);
    std::vector<uint8_t> intact = clean.planes();

    {
        vtest::Session other(128, 96);  // the picture header says QCIF
        EXPECT_EQ(other.decode(records[0]), VDEC_FRAME_ERROR);
    }
    vtest::Session s(176, 144);
    // Header fields at bit 22 + 8: marker, zero, three flags, source_format, coding type, four mode bits.
    auto withBits = [&](int bit, int count, uint32_t value) {
        std::vector<uint8_t> r = records[0];
        for (int i = 0; i < count; ++i) {
            int b = bit + i;
            uint8_t mask = uint8_t(0x80 >> (b & 7));
            if ((value >> (count - 1 - i)) & 1)
                r[size_t(b >> 3)] |= mask;
            else
                r[size_t(b >> 3)] &= uint8_t(~mask);
        }
        return r;
    };
    EXPECT_EQ(s.decode(withBits(30, 1, 0)), VDEC_FRAME_ERROR);     // marker bit
    EXPECT_EQ(s.decode(withBits(35, 3, 7)), VDEC_FRAME_ERROR);     // extended picture type
    EXPECT_EQ(s.decode(withBits(35, 3, 0)), VDEC_FRAME_ERROR);     // reserved format
    EXPECT_EQ(s.decode(withBits(35, 3, 3)), VDEC_FRAME_ERROR);     // CIF in a QCIF session
    EXPECT_EQ(s.decode(withBits(39, 1, 1)), VDEC_FRAME_ERROR);     // unrestricted motion vectors
    EXPECT_EQ(s.decode(withBits(42, 1, 1)), VDEC_FRAME_ERROR);     // PB-frames
    EXPECT_EQ(s.decode(records[0].data(), 12), VDEC_FRAME_ERROR);  // header and a few macroblocks

    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> r = records[size_t(round) % records.size()];
        switch (round % 3) {
            case 0:  // truncated
                r.resize(3 + rng() % (r.size() - 3));
                break;
            case 1:  // bits flipped after the start code
                for (int k = 0; k < 1 + round % 8; ++k)
                    r[3 + rng() % (r.size() - 3)] ^= uint8_t(1u << (rng() % 8));
                break;
            default:  // random macroblock data behind a valid picture header
                for (size_t k = 6; k < r.size(); ++k) r[k] = uint8_t(rng());
                break;
        }
        int32_t result = s.decode(r);
        EXPECT_TRUE(result == VDEC_OK || result == VDEC_FRAME_ERROR) << "round " << round;
    }
    ASSERT_EQ(s.decode(records[0]), VDEC_OK);
    EXPECT_TRUE(s.planes() == intact);
}

// MPEG-4 records keep their layer settings across a short-header picture in the same session.
TEST(VideoShortHeader, LayerSettingsSurviveShortHeaderPictures) {
    if (!vtest::haveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    std::string m4v = vtest::tempDir() + "/layer.m4v", h263 = vtest::tempDir() + "/layer.h263";
    ASSERT_TRUE(vtest::ffmpegEncode(m4v, 128, 96, 3, "testsrc2", "-g 3 -mpeg_quant 1 -q:v 3"));
    ASSERT_TRUE(encodeH263(h263, "testsrc2", 128, 96, 1, "-q:v 3"));
    std::vector<uint8_t> a, b;
    ASSERT_TRUE(vtest::readFile(m4v, a));
    ASSERT_TRUE(vtest::readFile(h263, b));
    std::remove(m4v.c_str());
    std::remove(h263.c_str());
    auto mpeg4 = m4v_split(a.data(), a.size());
    auto shortHeader = m4v_split(b.data(), b.size());
    ASSERT_EQ(mpeg4.size(), 3u);
    ASSERT_EQ(shortHeader.size(), 1u);

    vtest::Session ref(128, 96);
    for (const auto& r : mpeg4) ASSERT_EQ(ref.decode(r), VDEC_OK);
    std::vector<uint8_t> expected = ref.planes();

    vtest::Session s(128, 96);
    ASSERT_EQ(s.decode(mpeg4[0]), VDEC_OK);
    std::vector<uint8_t> first = s.planes();
    ASSERT_EQ(s.decode(shortHeader[0]), VDEC_OK);
    EXPECT_FALSE(s.planes() == first);
    // Re-anchor on the layer's I-VOP (its record without the layer header), then its P-VOPs.
    ASSERT_EQ(s.decode(mpeg4[0]), VDEC_OK);
    ASSERT_EQ(s.decode(mpeg4[1]), VDEC_OK);
    ASSERT_EQ(s.decode(mpeg4[2]), VDEC_OK);
    EXPECT_TRUE(s.planes() == expected);
}

}  // namespace
