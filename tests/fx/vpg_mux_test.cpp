// Muxing ffmpeg's MPEG-4 elementary streams into VPG records.
#include "authoring/vpg_mux.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fx_support.h"

namespace {

bool startsWith(const fxtest::Bytes& b, std::initializer_list<unsigned char> prefix) {
    return b.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), b.begin());
}

// Offsets of every 00 00 01 xx in a record, by xx.
std::vector<unsigned char> startCodes(const fxtest::Bytes& b) {
    std::vector<unsigned char> codes;
    for (size_t i = 0; i + 3 < b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) codes.push_back(b[i + 3]);
    return codes;
}

}  // namespace

TEST(VpgMux, SplitsFfmpegStreamIntoOneRecordPerVop) {
    const fxtest::Bytes m4v = fxtest::makeClip("mux25", 176, 144, 25, 12);
    if (m4v.empty()) GTEST_SKIP() << "ffmpeg could not make a clip";
    const VpgMuxResult mux = vpgMux(m4v.data(), m4v.size(), 25.0f);
    EXPECT_EQ(mux.header.width, 176u);
    EXPECT_EQ(mux.header.height, 144u);
    EXPECT_EQ(mux.header.frameCount, 25u);
    EXPECT_EQ(mux.header.frameRate, 25.0f);
    ASSERT_EQ(mux.records.size(), 25u);

    size_t kept = 0;
    for (size_t k = 0; k < mux.records.size(); ++k) {
        const fxtest::Bytes& r = mux.records[k];
        kept += r.size();
        const std::vector<unsigned char> codes = startCodes(r);
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.back(), 0xB6) << k;  // the picture comes last
        for (unsigned char c : codes) {
            EXPECT_NE(c, 0xB0) << k;  // visual object sequence
            EXPECT_NE(c, 0xB5) << k;  // visual object
            EXPECT_NE(c, 0xB2) << k;  // user data
        }
        const VpgRecordSummary s = vpgInspectRecord(r.data(), r.size());
        EXPECT_TRUE(s.hasVop);
        // ffmpeg's default: an I-VOP every 12 pictures, with a group header; P-VOPs between.
        EXPECT_EQ(s.codingType, k % 12 == 0 ? 0 : 1) << k;
        EXPECT_EQ(s.hasGroup, k % 12 == 0) << k;
        // The layer header goes in front of the first VOP only; ffmpeg's repeats are the same bytes.
        EXPECT_EQ(s.hasLayer, k == 0) << k;
    }
    EXPECT_TRUE(startsWith(mux.records[0], {0, 0, 1, 0x00}));
    const VpgRecordSummary first = vpgInspectRecord(mux.records[0].data(), mux.records[0].size());
    EXPECT_EQ(first.width, 176u);
    EXPECT_EQ(first.height, 144u);
    EXPECT_EQ(kept + mux.droppedBytes, m4v.size());
}

TEST(VpgMux, LayerWithoutVideoObjectGetsOneAndChangedLayersStay) {
    const fxtest::Bytes m4v = fxtest::makeClip("mux25", 176, 144, 25, 12);
    if (m4v.empty()) GTEST_SKIP() << "ffmpeg could not make a clip";
    // Keep only the layer header and the pictures: no 00000100 in front of the layer.
    const VpgMuxResult full = vpgMux(m4v.data(), m4v.size(), 25.0f);
    size_t vol = 0;
    for (size_t i = 0; i + 3 < m4v.size(); ++i)
        if (m4v[i] == 0 && m4v[i + 1] == 0 && m4v[i + 2] == 1 && m4v[i + 3] == 0x20) {
            vol = i;
            break;
        }
    ASSERT_GT(vol, 0u);
    const fxtest::Bytes bare(m4v.begin() + vol, m4v.end());
    const VpgMuxResult mux = vpgMux(bare.data(), bare.size(), 25.0f);
    ASSERT_EQ(mux.records.size(), 25u);
    EXPECT_TRUE(startsWith(mux.records[0], {0, 0, 1, 0x00, 0, 0, 1, 0x20}));
    EXPECT_EQ(mux.records[0], full.records[0]);

    // Two different streams back to back: the second layer header is kept in front of its first VOP.
    const fxtest::Bytes other = fxtest::makeClip("mux_small", 64, 48, 3, 12);
    ASSERT_FALSE(other.empty());
    fxtest::Bytes both = m4v;
    both.insert(both.end(), other.begin(), other.end());
    const VpgMuxResult joined = vpgMux(both.data(), both.size(), 25.0f);
    ASSERT_EQ(joined.records.size(), 28u);
    const VpgRecordSummary s = vpgInspectRecord(joined.records[25].data(), joined.records[25].size());
    EXPECT_TRUE(s.hasLayer);
    EXPECT_EQ(s.width, 64u);
    EXPECT_EQ(joined.header.width, 176u);
}

TEST(VpgMux, StreamsThatCannotBePlayedAreRefused) {
    auto text = [](const fxtest::Bytes& b, float fps) -> std::string {
        try {
            vpgMux(b.data(), b.size(), fps);
        } catch (const std::string& s) {
            return s;
        }
        return "";
    };
    EXPECT_EQ(text({}, 25), "no VOP in the stream");
    EXPECT_EQ(text({1, 2, 3, 4, 5}, 25), "no VOP in the stream");
    EXPECT_EQ(text({0, 0, 1, 0xB6, 0x10, 0x20}, 25), "no video object layer header before the first VOP");
    const fxtest::Bytes m4v = fxtest::makeClip("mux25", 176, 144, 25, 12);
    if (m4v.empty()) GTEST_SKIP() << "ffmpeg could not make a clip";
    // ffmpeg does not mark a fixed VOP rate, so the rate must be given.
    EXPECT_EQ(text(m4v, 0), "the stream has no fixed frame rate: give one");
    // A layer header cut short.
    size_t vol = 0;
    for (size_t i = 0; i + 3 < m4v.size(); ++i)
        if (m4v[i] == 0 && m4v[i + 1] == 0 && m4v[i + 2] == 1 && m4v[i + 3] == 0x20) {
            vol = i;
            break;
        }
    fxtest::Bytes cut(m4v.begin() + vol, m4v.begin() + vol + 6);
    const fxtest::Bytes vop = {0, 0, 1, 0xB6, 0x10, 0x20};
    cut.insert(cut.end(), vop.begin(), vop.end());
    EXPECT_EQ(text(cut, 25), "unreadable or unsupported video object layer header");
}
