// The production rendered at other sizes by the built program: a 1280 by 960 capture is the 640 by 480 one
// sampled twice as finely (box-filtered down by 2 it matches; it holds finer detail than the smaller frame
// enlarged), and a capture of another aspect holds the 4:3 picture centred with black around it. The times
// cover the glow's blur, both warping grids, the video's flashes (17.05 s), a blackout near a beat and the
// scene's own detail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/capture.h"
#include "capture_support.h"

#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>

using namespace capture_test;

namespace {

const char* const kTimesArg = "2.5,8.2,12,17.05,24.5";
constexpr int kTimes = 5;

// Every channel of a picture as numbers, the size kept.
struct Plane {
    int width = 0, height = 0;
    std::vector<float> rgb;
    float at(int x, int y, int c) const { return rgb[(size_t(y) * width + x) * 3 + c]; }
};

Plane plane(const Picture& p) {
    Plane out{p.width, p.height, std::vector<float>(p.rgb.begin(), p.rgb.end())};
    return out;
}

// The mean of every k by k block.
Plane boxDown(const Plane& p, int k) {
    Plane out{p.width / k, p.height / k, {}};
    out.rgb.resize(size_t(out.width) * out.height * 3);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            for (int c = 0; c < 3; ++c) {
                float sum = 0;
                for (int dy = 0; dy < k; ++dy)
                    for (int dx = 0; dx < k; ++dx) sum += p.at(k * x + dx, k * y + dy, c);
                out.rgb[(size_t(y) * out.width + x) * 3 + c] = sum / float(k * k);
            }
    return out;
}

// A picture resized by a filter of stb_image_resize (bicubic: Catmull-Rom; area: the box filter).
Picture resized(const Picture& p, int width, int height, stbir_filter filter) {
    Picture out;
    out.width = width;
    out.height = height;
    out.rgb.resize(size_t(width) * height * 3);
    stbir_resize_uint8_generic(p.rgb.data(), p.width, p.height, 0, out.rgb.data(), width, height, 0, 3, -1, 0,
                               STBIR_EDGE_CLAMP, filter, STBIR_COLORSPACE_LINEAR, nullptr);
    return out;
}

Picture crop(const Picture& p, int x0, int y0, int width, int height) {
    Picture out;
    out.width = width;
    out.height = height;
    for (int y = y0; y < y0 + height; ++y) {
        const uint8_t* row = p.at(x0, y);
        out.rgb.insert(out.rgb.end(), row, row + size_t(width) * 3);
    }
    return out;
}

struct Difference {
    double mean = 0;   // mean absolute difference over every channel, in levels of 255
    double worst = 0;  // largest
};

Difference difference(const Plane& a, const Plane& b) {
    Difference d;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        const double e = std::fabs(double(a.rgb[i]) - double(b.rgb[i]));
        d.mean += e;
        d.worst = std::max(d.worst, e);
    }
    d.mean /= double(a.rgb.size());
    return d;
}

// Fine detail: the mean square of the luma's 4-neighbour Laplacian over the inner pixels.
double laplacianEnergy(const Plane& p) {
    auto luma = [&](int x, int y) { return (p.at(x, y, 0) + p.at(x, y, 1) + p.at(x, y, 2)) / 3.0; };
    double sum = 0;
    for (int y = 1; y + 1 < p.height; ++y)
        for (int x = 1; x + 1 < p.width; ++x) {
            const double l =
                4 * luma(x, y) - luma(x - 1, y) - luma(x + 1, y) - luma(x, y - 1) - luma(x, y + 1);
            sum += l * l;
        }
    return sum / (double(p.width - 2) * (p.height - 2));
}

class ScaledCapture : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!haveDefaultDataSet()) return;
        dir_ = new TempDir;
        if (!dir_->archiveOnly()) return;
        const std::string times = std::string(" --times ") + kTimesArg;
        runs_[0] = runQuorvane(dir_->path(), "--capture small" + times, "QV_HEADLESS_TEST=1");
        runs_[1] = runQuorvane(dir_->path(), "--capture large --size 1280x960" + times, "QV_HEADLESS_TEST=1");
        runs_[2] =
            runQuorvane(dir_->path(), "--capture wide --size 1920x1080 --times 12", "QV_HEADLESS_TEST=1");
        runs_[3] =
            runQuorvane(dir_->path(), "--capture tall --size 800x1000 --times 12", "QV_HEADLESS_TEST=1");
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
        for (const Outcome& run : runs_) ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    static Picture picture(const std::string& capture, const std::string& name) {
        return readPicture(dir_->path() + "/" + capture + "/" + name);
    }

    // The picture of another aspect: black bars around the 4:3 picture at (x0, y0), which, brought down to
    // 640 by 480 by the area filter, is the 640 by 480 frame sampled `scale` times as finely.
    static void expectFramed(const std::string& capture, int x0, int y0, int width, int height) {
        SCOPED_TRACE(capture);
        const Picture p = picture(capture, frameName(0));
        ASSERT_TRUE(p.ok());
        int litOutside = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                const bool inside = x >= x0 && x < x0 + width && y >= y0 && y < y0 + height;
                const uint8_t* c = p.at(x, y);
                if (!inside && (c[0] | c[1] | c[2]) != 0) ++litOutside;
            }
        EXPECT_EQ(litOutside, 0) << "the bars are black";
        // The picture reaches its edges: the rows and columns next to the bars hold the picture.
        const Picture inner = crop(p, x0, y0, width, height);
        EXPECT_GT(crop(inner, 0, 0, 1, height).mean() + crop(inner, width - 1, 0, 1, height).mean() +
                      crop(inner, 0, 0, width, 1).mean() + crop(inner, 0, height - 1, width, 1).mean(),
                  1.0);
        const Picture small = picture("small", frameName(2));  // 12 s, as the framed captures
        const Difference d = difference(plane(resized(inner, 640, 480, STBIR_FILTER_BOX)), plane(small));
        std::printf("%s at 12 s: %dx%d picture at (%d, %d); area-filtered to 640x480: mean %.2f worst %.0f\n",
                    capture.c_str(), width, height, x0, y0, d.mean, d.worst);
        EXPECT_LT(d.mean, 4.0);
    }

    static TempDir* dir_;
    static Outcome runs_[4];
};
TempDir* ScaledCapture::dir_ = nullptr;
Outcome ScaledCapture::runs_[4];

}  // namespace

TEST_F(ScaledCapture, TwiceTheSizeBoxFilteredIsTheDesignSizeWithFinerDetail) {
    for (int i = -1; i < kTimes; ++i) {
        const std::string name = i < 0 ? "loading.png" : frameName(i);
        SCOPED_TRACE(name);
        const Picture small = picture("small", name), large = picture("large", name);
        ASSERT_EQ(small.width, 640);
        ASSERT_EQ(small.height, 480);
        ASSERT_EQ(large.width, 1280);
        ASSERT_EQ(large.height, 960);
        const Difference d = difference(boxDown(plane(large), 2), plane(small));
        const double detail = laplacianEnergy(plane(large)) /
                              laplacianEnergy(plane(resized(small, 1280, 960, STBIR_FILTER_CATMULLROM)));
        std::printf(
            "%-15s 1280x960 box-filtered to 640x480: mean %.2f worst %3.0f; detail %.2f x the "
            "640x480 frame enlarged bicubically\n",
            name.c_str(), d.mean, d.worst, detail);
        EXPECT_LT(d.mean, 3.0);
        // The loading picture is a 640 by 480 image: enlarged, it holds no more detail than it has.
        if (i >= 0) {
            EXPECT_GE(detail, 1.3) << "rendered at 1280 by 960, not enlarged";
        }
    }
}

TEST_F(ScaledCapture, OtherAspectsFrameTheFourByThreePictureInBlack) {
    expectFramed("wide", 240, 0, 1440, 1080);  // pillarboxed: 2.25 times the design size
    expectFramed("tall", 0, 200, 800, 600);    // letterboxed: 1.25 times
}

TEST(RenderScaleCommandLine, ScaleAndSizeSetThePicturesSize) {
    CommandLine line = parseCommandLine({"--capture", "d", "--scale", "2"});
    EXPECT_EQ(line.problem, "");
    EXPECT_EQ(line.captureOptions.width, 1280);
    EXPECT_EQ(line.captureOptions.height, 960);
    line = parseCommandLine({"--scale", "1.5", "--windowed"});  // live
    EXPECT_EQ(line.problem, "");
    EXPECT_EQ(line.entry.scale, 1.5);
    EXPECT_FALSE(line.capture);
    line = parseCommandLine({"--capture", "d", "--size", "1920x1080"});
    EXPECT_EQ(line.captureOptions.width, 1920);
    EXPECT_EQ(line.captureOptions.height, 1080);
    EXPECT_EQ(line.entry.scale, 0.0);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--scale"},
                                                {"--scale", "0"},
                                                {"--scale", "x"},
                                                {"--scale", "2x"},
                                                {"--scale", "13"},
                                                {"--scale", "nan"},
                                                {"--scale", "-1"}})
        EXPECT_EQ(parseCommandLine(bad).problem, "--scale needs a factor from 0.25 to 12") << bad.back();
    EXPECT_EQ(parseCommandLine({"--capture", "d", "--size", "800x600", "--scale", "2"}).problem,
              "--size and --scale both set the pictures' size; give one");
}
