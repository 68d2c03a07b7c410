// Post-processing on real pictures: a smooth source coded at a coarse quantiser, decoded at every filter
// set, measured against the source.
#include <gtest/gtest.h>

#include <cmath>

#include "video_test_util.h"

namespace {

constexpr int kW = 352, kH = 288, kFrames = 8;

// Mean absolute luma step between horizontal and vertical neighbours, across 8x8 block edges and inside
// blocks, over every frame.
struct Steps {
    double edge = 0, inside = 0;
};

Steps lumaSteps(const std::vector<uint8_t>& yuv, size_t frameBytes) {
    double e = 0, i = 0;
    size_t ne = 0, ni = 0;
    for (size_t f = 0; f + frameBytes <= yuv.size(); f += frameBytes) {
        const uint8_t* y = yuv.data() + f;
        for (int r = 0; r < kH; ++r)
            for (int c = 0; c < kW; ++c) {
                if (c + 1 < kW) {
                    double d = std::abs(y[r * kW + c + 1] - y[r * kW + c]);
                    if (c % 8 == 7)
                        e += d, ++ne;
                    else
                        i += d, ++ni;
                }
                if (r + 1 < kH) {
                    double d = std::abs(y[(r + 1) * kW + c] - y[r * kW + c]);
                    if (r % 8 == 7)
                        e += d, ++ne;
                    else
                        i += d, ++ni;
                }
            }
    }
    return {e / double(ne), i / double(ni)};
}

double lumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t frameBytes) {
    double se = 0;
    size_t n = 0;
    for (size_t f = 0; f + frameBytes <= std::min(a.size(), b.size()); f += frameBytes)
        for (size_t k = 0; k < size_t(kW) * kH; ++k, ++n) {
            double d = double(a[f + k]) - b[f + k];
            se += d * d;
        }
    return 10.0 * std::log10(255.0 * 255.0 * double(n) / std::max(se, 1.0));
}

TEST(VideoPostproc, FiltersBringCoarsePicturesCloserToTheSource) {
    if (!vtest::haveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
    const std::string dir = vtest::tempDir();
    const std::string m4v = dir + "/pp.m4v", raw = dir + "/pp.yuv";
    {
        // A smooth moving source: slow waves in luma and chroma.
        std::vector<uint8_t> frames;
        for (int t = 0; t < kFrames; ++t) {
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x)
                    frames.push_back(
                        uint8_t(std::lround(128 + 70 * std::sin(x / 41.0 + t * 0.15) * std::cos(y / 33.0) +
                                            25 * std::sin((x + 2 * y) / 57.0 - t * 0.1))));
            for (int c = 0; c < 2; ++c)
                for (int y = 0; y < kH / 2; ++y)
                    for (int x = 0; x < kW / 2; ++x)
                        frames.push_back(
                            uint8_t(std::lround(128 + 40 * std::sin((c ? x : y) / 23.0 + t * 0.1) *
                                                          std::cos((c ? y : x) / 31.0))));
        }
        ASSERT_TRUE(vtest::writeFile(raw, frames));
    }
    const std::string src = "-f rawvideo -pix_fmt yuv420p -s 352x288 -r 25 -i '" + raw + "'";
    const size_t fb = size_t(kW) * kH * 3 / 2;
    std::vector<uint8_t> source;
    ASSERT_TRUE(vtest::readFile(raw, source));
    ASSERT_EQ(source.size(), fb * kFrames);
    for (const char* options : {"-g 4 -q:v 20", "-g 4 -q:v 31", "-g 8 -bf 2 -q:v 26"}) {
        SCOPED_TRACE(options);
        ASSERT_EQ(
            vtest::run("ffmpeg -hide_banner -nostdin -y " + src + " -frames:v " + std::to_string(kFrames) +
                       " -c:v mpeg4 -threads 1 " + options + " -f m4v '" + m4v + "'"),
            0);
        std::vector<uint8_t> stream;
        ASSERT_TRUE(vtest::readFile(m4v, stream));
        const auto records = m4v_split(stream.data(), stream.size());

        vtest::DecodeResult off = vtest::decodeStream(stream);
        ASSERT_EQ(off.frames, kFrames);
        std::vector<uint8_t> plainLast;
        {
            vtest::Session s(kW, kH);
            for (const auto& r : records) ASSERT_EQ(s.decode(r, false), VDEC_OK);
            plainLast = s.planes();
        }
        const double psnr0 = lumaPsnr(off.yuv, source, fb);
        const Steps steps0 = lumaSteps(off.yuv, fb);
        double lastEdge = steps0.edge;
        for (int level : {5, 15, 25, 35, 45, 75}) {
            SCOPED_TRACE(level);
            vtest::DecodeResult on = vtest::decodeStream(stream, false, level);
            ASSERT_EQ(on.frames, kFrames);
            const double p = lumaPsnr(on.yuv, source, fb);
            const Steps st = lumaSteps(on.yuv, fb);
            EXPECT_GT(p, psnr0 + 0.5);
            // Less blocky than the plain decode (under half once both edge directions are filtered), and no
            // set undoes the smoothing of the sets below it.
            const double blockiness0 = steps0.edge / steps0.inside;
            EXPECT_LT(st.edge / st.inside, level < 10 ? 0.9 * blockiness0 : 0.5 * blockiness0);
            EXPECT_LE(st.edge, lastEdge + 1e-9);
            lastEdge = st.edge;
            if (level == 75) {
                EXPECT_GT(p, psnr0 + 1.5) << "the strongest set";
            }

            // The references stay unfiltered: with the filters turned off for the last record, it decodes
            // exactly as in the plain run.
            vtest::Session s(kW, kH);
            ASSERT_EQ(s.setPostproc(level), VDEC_OK);
            for (size_t i = 0; i + 1 < records.size(); ++i) ASSERT_EQ(s.decode(records[i], false), VDEC_OK);
            ASSERT_EQ(s.setPostproc(0), VDEC_OK);
            ASSERT_EQ(s.decode(records.back()), VDEC_OK);
            EXPECT_TRUE(s.planes() == plainLast);
        }
    }
    std::remove(m4v.c_str());
    std::remove(raw.c_str());
}

}  // namespace
