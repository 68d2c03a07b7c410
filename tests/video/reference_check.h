#pragma once
// Holding a decode to ffmpeg's: the check the conformance and short-header tests share.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "video_test_util.h"

namespace vtest {

// Decodes the stream and holds it to ffmpeg's decode of it (format "m4v" or "h263"): no frame errors,
// expectedFrames pictures (0: any number), as many as the reference, at least 48 dB on every frame and
// 52 dB on average, and with maxDifference > 0 no sample further from the reference than that (the
// inverse DCTs' rounding alone stays within a few levels over a short stream; a wrong prediction rule
// does not). Without ffmpeg only the decode itself is checked.
inline void expectMatchesReference(const std::string& stream, const std::string& label, int expectedFrames,
                                   int maxDifference = 0, const std::string& format = "m4v") {
    std::vector<uint8_t> data;
    ASSERT_TRUE(readFile(stream, data)) << stream;
    int w = 0, h = 0;
    ASSERT_TRUE(m4v_layer_size(data.data(), data.size(), &w, &h)) << label;
    DecodeResult ours = decodeStream(data);
    EXPECT_EQ(ours.errors, 0) << label;
    if (expectedFrames) {
        EXPECT_EQ(ours.frames, expectedFrames) << label;
    }
    if (!haveFfmpeg()) return;
    std::string refPath = tempDir() + "/" + label + ".ref.yuv";
    ASSERT_TRUE(ffmpegDecode(stream, refPath, format)) << label;
    std::vector<uint8_t> ref;
    ASSERT_TRUE(readFile(refPath, ref));
    std::remove(refPath.c_str());
    size_t fb = size_t(w) * h + 2 * size_t((w + 1) / 2) * ((h + 1) / 2);
    EXPECT_EQ(ours.yuv.size(), ref.size()) << label << ": frame count differs from the reference decode";
    Comparison c = compare(ours.yuv, ref, fb);
    std::printf("%-32s %3d frames  min %6.2f dB  avg %6.2f dB  exact %d\n", label.c_str(), c.frames,
                c.minPsnr, c.avgPsnr, c.exact);
    if (expectedFrames) {
        EXPECT_EQ(c.frames, expectedFrames) << label;
    }
    EXPECT_GE(c.minPsnr, 48.0) << label;
    EXPECT_GE(c.avgPsnr, 52.0) << label;
    if (maxDifference > 0 && ours.yuv.size() == ref.size()) {
        int worst = 0;
        for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(ours.yuv[i] - ref[i]));
        EXPECT_LE(worst, maxDifference) << label;
    }
}

}  // namespace vtest
