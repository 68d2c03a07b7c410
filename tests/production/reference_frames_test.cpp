// The default production's pictures at chosen times, rendered as the capture renders them (the same display,
// samplers, soundtrack clock and frame sequence, in this process), held to pictures recorded before the
// renderer was made faster. Each frame's 640 x 480 back buffer must hash to the recorded value; and however
// the hash table is re-recorded for an unavoidable change of arithmetic, the picture must stay within one
// level per channel of the first recording, kept as 4 x 4 averages (160 x 120 PNG files, never re-recorded).
//
// QV_RECORD_FRAMES=DIR writes frames.txt and the PNG files into DIR instead of comparing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture_support.h"
#include "render_in_process.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

using namespace capture_test;

namespace {

constexpr int kFps = 60;
constexpr int kWidth = kRenderWidth, kHeight = kRenderHeight;
constexpr int kBlock = 4, kSmallWidth = kWidth / kBlock, kSmallHeight = kHeight / kBlock;

// Frames of a 60 frames/s capture, in time order: the pulsing start,
// quiet stretches of both orbits, a frame on a beat and two close to beats (blackouts of different depth),
// the video's flash at a whole second and small a second later, and the final fade.
const int kFrames[] = {30, 347, 615, 968, 1020, 1050, 1218, 1437, 1440, 1686, 1866, 1890};

std::string referenceDir() {
    return std::string(QV_SOURCE_DIR) + "/tests/production/reference";
}

// FNV-1a over the RGB bytes, as the capture would write them.
uint64_t hashRgb(const std::vector<uint8_t>& rgb) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : rgb) h = (h ^ b) * 1099511628211ull;
    return h;
}

// Means of 4 x 4 blocks, rounded: a picture within one level of another averages to within one level.
std::vector<uint8_t> reduce(const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> out(size_t(kSmallWidth) * kSmallHeight * 3);
    for (int y = 0; y < kSmallHeight; ++y)
        for (int x = 0; x < kSmallWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = 0; dy < kBlock; ++dy)
                    for (int dx = 0; dx < kBlock; ++dx)
                        sum += rgb[(size_t(kBlock * y + dy) * kWidth + kBlock * x + dx) * 3 + c];
                out[(size_t(y) * kSmallWidth + x) * 3 + c] =
                    uint8_t((sum + kBlock * kBlock / 2) / (kBlock * kBlock));
            }
    return out;
}

// Renders the production at each frame's time and returns the back buffers as RGB.
std::vector<std::vector<uint8_t>> render(const std::string& dir) {
    std::vector<double> times;
    for (int n : kFrames) times.push_back(double(n) / kFps);
    std::vector<std::vector<uint8_t>> pictures;
    for (RenderedFrame& frame : renderInProcess(dir, times)) pictures.push_back(std::move(frame.rgb));
    return pictures;
}

std::string pictureName(int frame) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%05d.png", frame);
    return name;
}

}  // namespace

TEST(ReferenceFrames, DefaultProductionMatchesTheRecordedPictures) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    TempDir dir;
    ASSERT_TRUE(dir.archiveOnly());
    std::vector<std::vector<uint8_t>> pictures;
    try {
        pictures = render(dir.path());
    } catch (const std::string& text) {
        FAIL() << text;
    }
    const size_t count = sizeof kFrames / sizeof kFrames[0];
    ASSERT_EQ(pictures.size(), count);
    for (size_t i = 0; i < count; ++i)
        ASSERT_EQ(pictures[i].size(), size_t(kWidth) * kHeight * 3) << kFrames[i];

    if (const char* out = std::getenv("QV_RECORD_FRAMES")) {
        std::string table;
        for (size_t i = 0; i < count; ++i) {
            char line[64];
            std::snprintf(line, sizeof line, "%d %016llx\n", kFrames[i],
                          (unsigned long long)hashRgb(pictures[i]));
            table += line;
            std::string path = std::string(out) + "/" + pictureName(kFrames[i]);
            std::vector<uint8_t> small = reduce(pictures[i]);
            ASSERT_TRUE(
                stbi_write_png(path.c_str(), kSmallWidth, kSmallHeight, 3, small.data(), kSmallWidth * 3))
                << path;
        }
        ASSERT_TRUE(writeFile(std::string(out) + "/frames.txt", table));
        GTEST_SKIP() << "recorded into " << out;
    }

    // The recorded hashes, one "frame hash" line each.
    std::istringstream table(readFile(referenceDir() + "/frames.txt"));
    std::vector<std::pair<int, std::string>> recorded;
    int frame;
    std::string hash;
    while (table >> frame >> hash) recorded.emplace_back(frame, hash);
    ASSERT_EQ(recorded.size(), count) << referenceDir() << "/frames.txt";

    for (size_t i = 0; i < count; ++i) {
        const int n = kFrames[i];
        ASSERT_EQ(recorded[i].first, n);
        char mine[24];
        std::snprintf(mine, sizeof mine, "%016llx", (unsigned long long)hashRgb(pictures[i]));
        EXPECT_EQ(recorded[i].second, mine) << "frame " << n << " (t = " << double(n) / kFps << " s) changed";

        Picture first = readPicture(referenceDir() + "/" + pictureName(n));
        ASSERT_TRUE(first.ok()) << pictureName(n);
        ASSERT_EQ(first.width, kSmallWidth);
        ASSERT_EQ(first.height, kSmallHeight);
        std::vector<uint8_t> small = reduce(pictures[i]);
        int worst = 0;
        size_t off = 0;
        for (size_t k = 0; k < small.size(); ++k) {
            int d = std::abs(int(small[k]) - int(first.rgb[k]));
            if (d > 1) ++off;
            worst = std::max(worst, d);
        }
        EXPECT_LE(worst, 1) << "frame " << n << ": " << off << " channel values more than one level away";
    }
    // The chosen times are not one picture: the flash, the blackout and the fade show.
    EXPECT_NE(pictures[3], pictures[4]);
    EXPECT_NE(pictures[6], pictures[7]);
    EXPECT_NE(pictures[10], pictures[11]);
}
