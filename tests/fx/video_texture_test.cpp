// The video texture: construction checks and texts, the picture timing over a real muxed clip, damaged
// records, and the pictures themselves against ffmpeg's decode.
#include "fx/video_texture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "authoring/vpg_mux.h"
#include "data/memfile.h"
#include "fx/vpg.h"
#include "fx_device.h"
#include "fx_support.h"

namespace {

// Stands in for the decoder: names the record it is handed (by its bytes: the first record with those
// bytes, as a still clip repeats some) and paints the picture with that number, so the steps taken and
// the picture uploaded can both be seen.
struct StandIn {
    std::vector<fxtest::Bytes> records;
    std::vector<int> decoded;   // record index of each VDEC_DECODE; -1 for bytes that are no record
    std::vector<int> rendered;  // those of them asked to write their picture
    int releases = 0;
    uint32_t failAt = 0;  // an opcode to fail (VDEC_MEMORY_SIZES ...), 0 for none
    int32_t width = 0, height = 0;
    uint32_t lastHandle = 0;
};
StandIn standIn;

int32_t standInCall(uint32_t handle, uint32_t opcode, void* p1, void* p2) {
    standIn.lastHandle = handle;
    if (handle == 0) return VDEC_BAD_ARGUMENT;
    if (opcode != VDEC_DECODE && opcode == standIn.failAt) return VDEC_BAD_ARGUMENT;
    switch (opcode) {
        case VDEC_MEMORY_SIZES: {
            auto* params = static_cast<VdecParams*>(p1);
            standIn.width = params->width;
            standIn.height = params->height;
            *static_cast<VdecSizes*>(p2) = {
                16, 16, 16, VDEC_STATE_BYTES, VDEC_TABLE_BYTES, VDEC_BITREADER_BYTES};
            return VDEC_OK;
        }
        case VDEC_RELEASE:
            ++standIn.releases;
            return VDEC_OK;
        case VDEC_INIT:
        case VDEC_SET_OUTPUT:
        case VDEC_SET_POSTPROC:
            return VDEC_OK;
        default: {
            auto* frame = static_cast<VdecFrame*>(p1);
            const auto* bits = static_cast<const unsigned char*>(frame->bitstream);
            int index = -1;
            for (size_t k = 0; k < standIn.records.size() && index < 0; ++k)
                if (standIn.records[k].size() == size_t(frame->length) &&
                    std::equal(standIn.records[k].begin(), standIn.records[k].end(), bits))
                    index = int(k);
            standIn.decoded.push_back(index);
            if (index < 0) return VDEC_FRAME_ERROR;
            if (!frame->renderFlag) return VDEC_OK;
            standIn.rendered.push_back(index);
            auto* out = static_cast<uint32_t*>(frame->output);
            for (int32_t i = 0; i < standIn.width * standIn.height; ++i) out[i] = uint32_t(index);
            return VDEC_OK;
        }
    }
}

// The number the stand-in gives record k: the first record with the same bytes.
int named(int k) {
    for (int j = 0; j < k; ++j)
        if (standIn.records[j] == standIn.records[k]) return j;
    return k;
}

std::string constructionText(const char* name, VdecEntry decoder = standInCall) {
    try {
        VideoTexture v(name, decoder);
    } catch (const std::string& s) {
        return s;
    }
    return "";
}

class VideoTextureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { device_ = new fxtest::Device(64, 64); }
    static void TearDownTestSuite() {
        delete device_;
        device_ = nullptr;
    }
    void SetUp() override {
        if (!device_->ok()) GTEST_SKIP() << "no Direct3D device";
        standIn = StandIn{};
    }
    // Puts a container under data/ of the scratch directory.
    void put(const char* name, const fxtest::Bytes& bytes) {
        fxtest::writeBytes(dir_.path() / "data" / name, bytes);
    }
    // The muxed long clip: 250 pictures of 64 by 48 at 25 frames per second.
    void putLongClip() {
        const fxtest::Bytes m4v = fxtest::makeClip("long250", 64, 48, 250, 12);
        ASSERT_FALSE(m4v.empty()) << "ffmpeg could not make the clip";
        VpgMuxResult mux = vpgMux(m4v.data(), m4v.size(), 25.0f);
        ASSERT_EQ(mux.records.size(), 250u);
        standIn.records = mux.records;
        int distinct = 0;
        for (int k = 0; k < 250; ++k) distinct += named(k) == k;
        ASSERT_GT(distinct, 200) << "too few distinct pictures to tell the steps apart";
        put("clip.vpg", vpgBuild(mux.header, mux.records));
    }
    // The record whose number the texture shows (the stand-in's picture).
    static int shown(VideoTexture& v) {
        std::vector<uint32_t> px = fxtest::readTexture(v.texture);
        if (px.empty()) return -2;
        for (uint32_t p : px)
            if ((p & 0xFFFFFF) != (px[0] & 0xFFFFFF)) return -3;
        return int(px[0] & 0xFFFFFF);
    }

    static fxtest::Device* device_;
    fxtest::ScratchDir dir_;
};
fxtest::Device* VideoTextureTest::device_ = nullptr;

}  // namespace

TEST_F(VideoTextureTest, ConstructionTexts) {
    fxtest::Bytes good = vpgBuild({16, 16, 1, 25.0f}, {{1, 2, 3}});
    put("good.vpg", good);
    EXPECT_EQ(constructionText("absent.vpg"), "file not found");  // a data folder without the file
    EXPECT_EQ(constructionText("good.vpg"), "");
    fxtest::Bytes eighth = good;
    eighth[7] = 'H';  // "VOTRAMPH"
    put("eighth.vpg", eighth);
    EXPECT_EQ(constructionText("eighth.vpg"), "not a VPG-file.");
    put("tiny.vpg", fxtest::Bytes(good.begin(), good.begin() + 6));
    EXPECT_EQ(constructionText("tiny.vpg"), "not a VPG-file.");
    put("cut.vpg", fxtest::Bytes(good.begin(), good.begin() + 21));  // ends inside the frame rate
    EXPECT_EQ(constructionText("cut.vpg"), "not a VPG-file.");

    // Headers that cannot be played are refused before the decoder is set up.
    struct Bad {
        uint32_t w, h, n;
        float rate;
    } bad[] = {{16, 16, 0, 25},  {16, 16, 1, 0},        {16, 16, 1, -25},
               {16, 16, 1, NAN}, {16, 16, 1, INFINITY}, {0, 16, 1, 25},
               {16, 0, 1, 25},   {65536, 65536, 1, 25}, {16, 16, 2, 25}};
    for (const Bad& b : bad) {
        put("bad.vpg", vpgBuild({b.w, b.h, b.n, b.rate}, {{1, 2, 3}}));
        EXPECT_EQ(constructionText("bad.vpg"), "not a VPG-file.")
            << b.w << "x" << b.h << " n " << b.n << " " << b.rate;
    }

    // A header that counts more pictures than the file holds whole records for is refused, however much
    // room the records it has take; the same records under their own count play.
    const std::vector<fxtest::Bytes> three = {fxtest::Bytes(40, 1), fxtest::Bytes(40, 2),
                                              fxtest::Bytes(40, 3)};
    put("short.vpg", vpgBuild({16, 16, 5, 25.0f}, three));
    EXPECT_EQ(constructionText("short.vpg"), "not a VPG-file.");
    put("whole.vpg", vpgBuild({16, 16, 3, 25.0f}, three));
    EXPECT_EQ(constructionText("whole.vpg"), "");

    const std::pair<uint32_t, const char*> steps[] = {{VDEC_MEMORY_SIZES, "failed to init decoder. (1)"},
                                                      {VDEC_INIT, "failed to init decoder. (2)"},
                                                      {VDEC_SET_OUTPUT, "failed to init decoder. (3)"},
                                                      {VDEC_SET_POSTPROC, "failed to init decoder. (4)"}};
    for (const auto& s : steps) {
        standIn.failAt = s.first;
        EXPECT_EQ(constructionText("good.vpg"), s.second);
    }
    standIn.failAt = 0;

    // Wider than any texture the device makes.
    put("wide.vpg", vpgBuild({65536, 1, 1, 25.0f}, {{1}}));
    EXPECT_EQ(constructionText("wide.vpg"), "failed to create video-texture.");
}

TEST_F(VideoTextureTest, HandlesCountUpOnlyForBuiltTextures) {
    put("good.vpg", vpgBuild({16, 16, 1, 25.0f}, {{1, 2, 3}}));
    const uint32_t saved = nextDecoderHandle;
    nextDecoderHandle = 1;  // as at the start of the process
    VideoTexture first("good.vpg", standInCall);
    EXPECT_EQ(first.decoderHandle, 1u);
    EXPECT_EQ(constructionText("absent.vpg"), "file not found");
    standIn.failAt = VDEC_INIT;
    EXPECT_EQ(constructionText("good.vpg"), "failed to init decoder. (2)");
    EXPECT_EQ(standIn.lastHandle, first.decoderHandle + 1);  // the failed one asked with the next handle
    standIn.failAt = 0;
    VideoTexture second("good.vpg", standInCall);
    EXPECT_EQ(second.decoderHandle, 2u);
    EXPECT_EQ(nextDecoderHandle, 3u);
    nextDecoderHandle = std::max(saved, nextDecoderHandle);
    EXPECT_EQ(second.width, 16u);
    EXPECT_EQ(second.frameCount, 1u);
    EXPECT_EQ(second.frameRate, 25.0f);
    EXPECT_EQ(second.firstRecord, 24u);
    EXPECT_EQ(second.recordCounter, second.frameCount + 1);  // nothing decoded yet
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(second.texture->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(desc.Usage, DWORD(D3DUSAGE_AUTOGENMIPMAP));
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
}

TEST_F(VideoTextureTest, TimingOfAMuxedClip) {
    putLongClip();
    VideoTexture v("clip.vpg", standInCall);
    EXPECT_EQ(v.frameCount, 250u);

    // Target 0 (10 s is one whole loop) right after construction shows record 0; the same target again
    // decodes nothing.
    v.update(10.0f);
    EXPECT_EQ(standIn.decoded, (std::vector<int>{named(0)}));
    EXPECT_EQ(shown(v), named(0));
    v.update(0.02f);
    EXPECT_EQ(standIn.decoded.size(), 1u);

    // Target k shows record k, in the first loop as in every later one.
    v.update(3.5f / 25);
    EXPECT_EQ(standIn.decoded, (std::vector<int>{named(0), named(1), named(2), named(3)}));
    EXPECT_EQ(shown(v), named(3));

    // Same target again: no decode and no upload (a scribbled pixel buffer stays off the texture).
    std::memset(v.pixels, 0x55, size_t(v.width) * v.height * 4);
    v.update(3.9f / 25);
    EXPECT_EQ(standIn.decoded.size(), 4u);
    EXPECT_EQ(shown(v), named(3));

    // A jump from target 3 to 10 decodes 7 records and converts and uploads only the last.
    v.update(10.2f / 25);
    EXPECT_EQ(standIn.decoded.size(), 11u);
    EXPECT_EQ(standIn.decoded.back(), named(10));
    EXPECT_EQ(standIn.rendered, (std::vector<int>{named(0), named(3), named(10)}));
    EXPECT_EQ(shown(v), named(10));
    EXPECT_EQ(v.recordCounter, 10u);

    // 9.99 s is target 249: the rest of the loop.
    v.update(9.99f);
    EXPECT_EQ(standIn.decoded.size(), 250u);
    EXPECT_EQ(shown(v), named(249));
    for (int k = 0; k < 250; ++k) EXPECT_EQ(standIn.decoded[k], named(k));
}

TEST_F(VideoTextureTest, GoingBackRewindsAtOnce) {
    putLongClip();
    VideoTexture v("clip.vpg", standInCall);
    v.update(5.5f / 25);
    ASSERT_EQ(standIn.decoded,
              (std::vector<int>{named(0), named(1), named(2), named(3), named(4), named(5)}));
    standIn.decoded.clear();
    v.update(2.5f / 25);
    // A seek back: the rewind, then 0, 1, 2 (the rest of the clip is not decoded first).
    EXPECT_EQ(standIn.decoded, (std::vector<int>{named(0), named(1), named(2)}));
    EXPECT_EQ(shown(v), named(2));
    EXPECT_EQ(v.recordCounter, 2u);

    // The loop: 10.0 s later is the same target, target 249 shows record 249, and the wrap from there to
    // target 1 decodes records 0 and 1 only.
    standIn.decoded.clear();
    v.update(10.1f);
    EXPECT_TRUE(standIn.decoded.empty());
    v.update(9.99f);
    EXPECT_EQ(standIn.decoded.back(), named(249));
    EXPECT_EQ(shown(v), named(249));
    standIn.decoded.clear();
    v.update(10.05f);
    EXPECT_EQ(standIn.decoded, (std::vector<int>{named(0), named(1)}));
    EXPECT_EQ(shown(v), named(1));
    standIn.decoded.clear();
    v.update(-4.0f);  // a negative time is target 0
    EXPECT_EQ(standIn.decoded, (std::vector<int>{named(0)}));
    EXPECT_EQ(shown(v), named(0));

    // Every target after any other shows its own record: a sweep of jumps both ways.
    for (int from : {0, 7, 120, 249})
        for (int to : {0, 1, 6, 119, 120, 248, 249}) {
            v.update((float(from) + 0.5f) / 25);
            v.update((float(to) + 0.5f) / 25);
            ASSERT_EQ(shown(v), named(to)) << "from " << from << " to " << to;
        }
}

// With the real decoder: a picture reached by any seek (back across key frames, forward past several, the
// loop's wrap) is byte for byte the one a forward run, converting every picture, shows at that target.
TEST_F(VideoTextureTest, SeeksShowTheForwardRunsPictures) {
    const int n = 60;
    const fxtest::Bytes m4v = fxtest::makeClip("seek60", 96, 64, n, 12);
    ASSERT_FALSE(m4v.empty()) << "ffmpeg could not make the clip";
    VpgMuxResult mux = vpgMux(m4v.data(), m4v.size(), 25.0f);
    ASSERT_EQ(mux.records.size(), size_t(n));
    put("seek.vpg", vpgBuild(mux.header, mux.records));
    auto at = [](int target) { return (float(target) + 0.5f) / 25; };
    const size_t bytes = 96 * 64 * 4;

    std::vector<fxtest::Bytes> forward;
    try {
        VideoTexture v("seek.vpg");
        for (int target = 0; target < n; ++target) {
            v.update(at(target));
            forward.emplace_back(v.pixels, v.pixels + bytes);
        }
    } catch (const std::string& e) {
        FAIL() << e;
    }
    ASSERT_NE(forward[5], forward[30]);

    const int seeks[] = {30, 3, 59, 13, 12, 11, 47, 0, 25, 24, 58, 59, 1, 36};
    try {
        VideoTexture v("seek.vpg");
        for (int target : seeks) {
            v.update(at(target));
            ASSERT_TRUE(std::equal(forward[target].begin(), forward[target].end(), v.pixels))
                << "target " << target;
        }
        // Through the wrap: the end of one loop, then the start of the next.
        v.update(at(n - 1));
        v.update(at(n + 4));
        EXPECT_TRUE(std::equal(forward[4].begin(), forward[4].end(), v.pixels));
    } catch (const std::string& e) {
        FAIL() << e;
    }
}

TEST_F(VideoTextureTest, DamagedRecordsAndDecoderErrors) {
    auto play = [&](const fxtest::Bytes& bytes, std::initializer_list<float> times) -> std::string {
        put("damaged.vpg", bytes);
        try {
            VideoTexture v("damaged.vpg", standInCall);
            for (float t : times) v.update(t);
        } catch (const std::string& s) {
            return s;
        }
        return "";
    };
    // Three records at 10 per second: targets 0 to 2; going back from 2 to 0 rewinds.
    standIn.records = {{1, 2, 3}, {4, 5}, {6}};
    const fxtest::Bytes good = vpgBuild({16, 16, 3, 10.0f}, standIn.records);
    EXPECT_EQ(play(good, {0.25f, 0.05f}), "");
    EXPECT_EQ(standIn.decoded, (std::vector<int>{0, 1, 2, 0}));

    // The last record runs past the end of the file: fewer whole records than the header counts, refused
    // at load.
    const fxtest::Bytes cut(good.begin(), good.end() - 1);
    EXPECT_EQ(play(cut, {0.05f}), "not a VPG-file.");

    // A record longer than the bitstream buffer, though the file holds it, is refused at load too;
    // exactly the buffer is fine.
    const fxtest::Bytes big = vpgBuild({16, 16, 2, 10.0f}, {fxtest::Bytes(kVpgMaxRecordBytes + 1, 7), {1}});
    EXPECT_EQ(play(big, {0.05f}), "not a VPG-file.");
    standIn.records = {fxtest::Bytes(kVpgMaxRecordBytes, 7), {1}};
    standIn.decoded.clear();
    EXPECT_EQ(play(vpgBuild({16, 16, 2, 10.0f}, standIn.records), {0.15f}), "");
    EXPECT_EQ(standIn.decoded, (std::vector<int>{0, 1}));

    // A record the decoder cannot read.
    standIn.records = {{1, 2, 3}};
    EXPECT_EQ(play(vpgBuild({16, 16, 2, 10.0f}, {{9, 9}, {1, 2, 3}}), {0.05f}),
              "damaged.vpg: error in stream!! (record 0)");
}

// A record of a real clip that the decoder refuses names the file and the record, whether it is reached
// in the first loop or after a rewind; the records before it play.
TEST_F(VideoTextureTest, DamagedRecordOfARealClipNamesTheFileAndTheRecord) {
    const fxtest::Bytes m4v = fxtest::makeClip("damaged8", 64, 48, 8, 4);
    ASSERT_FALSE(m4v.empty()) << "ffmpeg could not make the clip";
    VpgMuxResult mux = vpgMux(m4v.data(), m4v.size(), 25.0f);
    ASSERT_EQ(mux.records.size(), 8u);
    // A visual-object start code where record 5's VOP start code stood: no picture can be read there.
    fxtest::Bytes& fifth = mux.records[5];
    ASSERT_GE(fifth.size(), 4u);
    ASSERT_EQ(fifth[3], 0xB6) << "record 5 does not open with its VOP";
    fifth[3] = 0xB5;
    put("broken.vpg", vpgBuild(mux.header, mux.records));
    auto playTo = [](VideoTexture& v, std::initializer_list<float> times) -> std::string {
        try {
            for (float t : times) v.update(t);
        } catch (const std::string& s) {
            return s;
        }
        return "";
    };
    VideoTexture first("broken.vpg");
    EXPECT_EQ(playTo(first, {0.5f / 25, 4.5f / 25}), "");
    EXPECT_EQ(playTo(first, {5.5f / 25}), "broken.vpg: error in stream!! (record 5)");
    VideoTexture second("broken.vpg");
    EXPECT_EQ(playTo(second, {7.5f / 25, 2.5f / 25}), "broken.vpg: error in stream!! (record 5)");
}

TEST_F(VideoTextureTest, DestructionReleasesTheDecoder) {
    put("good.vpg", vpgBuild({16, 16, 1, 25.0f}, {{1, 2, 3}}));
    { VideoTexture v("good.vpg", standInCall); }
    EXPECT_EQ(standIn.releases, 1);
    standIn.failAt = VDEC_SET_OUTPUT;
    EXPECT_EQ(constructionText("good.vpg"), "failed to init decoder. (3)");
    EXPECT_EQ(standIn.releases, 2);  // a half-built texture gives back what it took
    standIn.failAt = 0;
    EXPECT_EQ(constructionText("absent.vpg"), "file not found");
    EXPECT_EQ(standIn.releases, 2);  // no decoder was set up
}

namespace {
// Part of the conversion to 32-bit pixels as the decoder does it, from ffmpeg's planes.
int clampByte(int v) {
    return v < 0 ? 0 : v > 255 ? 255 : v;
}
void yuvToBgr(int y, int u, int v, int* b, int* g, int* r) {
    const int yy = y < 16 ? 0 : y - 16;
    const int l = (8 * yy * 9576) >> 16, uu = 8 * (u - 128), vv = 8 * (v - 128);
    *r = clampByte(l + ((vv * 13123) >> 16));
    *g = clampByte(l + ((uu * -3218) >> 16) + ((vv * -6686) >> 16));
    *b = clampByte(l + ((uu * 16591) >> 16));
}
}  // namespace

TEST_F(VideoTextureTest, PicturesMatchTheReferenceDecodeUpsideDown) {
    const int w = 176, h = 144, n = 8;
    const fxtest::Bytes m4v = fxtest::makeClip("picture8", w, h, n, 4);
    const fxtest::Bytes ref = fxtest::referenceDecode("picture8");
    ASSERT_FALSE(m4v.empty());
    ASSERT_EQ(ref.size(), size_t(w) * h * 3 / 2 * n);
    VpgMuxResult mux = vpgMux(m4v.data(), m4v.size(), 25.0f);
    put("real.vpg", vpgBuild(mux.header, mux.records));
    std::unique_ptr<VideoTexture> texture;
    try {
        texture.reset(new VideoTexture("real.vpg"));
    } catch (const std::string& e) {
        FAIL() << e;
    }
    VideoTexture& v = *texture;
    // Between updates other textures are drawn beside the video on a second stage, and refilled every other
    // picture, as the frame does with its other textures; the picture is read from what drawing samples,
    // not from the memory copy.
    IDirect3DTexture9* others[2] = {};
    for (IDirect3DTexture9*& o : others)
        ASSERT_EQ(g_device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &o, nullptr), D3D_OK);
    g_device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    g_device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    g_device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    const struct {
        float x, y, z, u, v;
    } triangle[3] = {{-1, -1, 0.5f, 0, 1}, {-1, 1, 0.5f, 0, 0}, {1, 1, 0.5f, 1, 0}};
    IDirect3DSurface9* level0 = nullptr;
    ASSERT_EQ(v.texture->GetSurfaceLevel(0, &level0), D3D_OK);
    // Targets 0 to n - 1, then a wrap back to 2 and on to the end again.
    std::vector<int> targets;
    for (int target = 0; target < n; ++target) targets.push_back(target);
    for (int target = 2; target < n; ++target) targets.push_back(target);
    for (size_t step = 0; step < targets.size(); ++step) {
        const int target = targets[step];
        IDirect3DTexture9* other = others[step % 2];
        g_device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);
        g_device->SetTexture(0, v.texture);
        g_device->SetTexture(1, other);
        g_device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle, sizeof triangle[0]);
        try {
            v.update((float(step >= size_t(n) ? n + target : target) + 0.5f) / 25);
        } catch (const std::string& e) {
            FAIL() << "target " << target << ": " << e;
        }
        if (step % 2 == 0) {
            D3DLOCKED_RECT locked{};
            ASSERT_EQ(other->LockRect(0, &locked, nullptr, 0), D3D_OK);
            std::memset(locked.pBits, int(step * 37 & 0xFF), size_t(locked.Pitch) * 8);
            other->UnlockRect(0);
        }
        // What drawing samples equals the memory copy (without the X byte).
        std::vector<uint32_t> px = fxtest::readSurface(level0).px, copy = fxtest::readTexture(v.texture);
        for (uint32_t& p : px) p &= 0x00FFFFFF;
        for (uint32_t& p : copy) p &= 0x00FFFFFF;
        ASSERT_TRUE(px == copy) << "target " << target << ": the texture does not hold the uploaded picture";
        const int record = target;
        const unsigned char* yp = &ref[size_t(record) * w * h * 3 / 2];
        const unsigned char *up = yp + w * h, *vp = up + w * h / 4;
        ASSERT_EQ(px.size(), size_t(w) * h);
        double total = 0;
        int worst = 0, far = 0;
        for (int row = 0; row < h; ++row) {
            const int py = h - 1 - row;  // texture row 0 holds the coded picture's last row
            for (int x = 0; x < w; ++x) {
                int b, g, r;
                yuvToBgr(yp[py * w + x], up[(py / 2) * (w / 2) + x / 2], vp[(py / 2) * (w / 2) + x / 2], &b,
                         &g, &r);
                const uint32_t p = px[size_t(row) * w + x];
                const int d[3] = {std::abs(int(p & 0xFF) - b), std::abs(int((p >> 8) & 0xFF) - g),
                                  std::abs(int((p >> 16) & 0xFF) - r)};
                for (int k : d) {
                    total += k;
                    worst = std::max(worst, k);
                    far += k > 8;
                }
            }
        }
        const double mean = total / (3.0 * w * h);
        EXPECT_LT(mean, 1.0) << "record " << record;
        EXPECT_LT(far, w * h * 3 / 1000) << "record " << record << ", largest difference " << worst;
    }
    g_device->SetTexture(0, nullptr);
    g_device->SetTexture(1, nullptr);
    level0->Release();
    for (IDirect3DTexture9* o : others) o->Release();
}
