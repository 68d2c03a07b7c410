// A frame depends on its time alone: the production rendered at every frame of a stretch (as a live viewer
// and a full capture see it) gives the same pictures as a capture of only some of those times. The stretches
// hold the video's flash and its uploads every frame, beat cuts with their blackouts, and the final fade.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture_support.h"

using namespace capture_test;

namespace {

constexpr int kFps = 60;

// Frame numbers at 60 frames a second, as the full run numbers them: 15.75 s to 17.5 s (the flash from 16 s
// on, the video texture updated at every frame), 23.9 s to 24.1 s (the beat at 24 s), 30.95 s to 31.3 s (the
// fade).
std::vector<int> denseFrames() {
    std::vector<int> frames;
    auto stretch = [&](int from, int to) {
        for (int n = from; n <= to; ++n) frames.push_back(n);
    };
    stretch(945, 1050);
    stretch(1434, 1446);
    stretch(1857, 1878);
    return frames;
}

// A time exactly as the full run computes it for frame n, printed so that it reads back to the same double.
std::string timeOf(int n) {
    return timeText(double(n) / kFps);
}

std::string timesArg(const std::vector<int>& frames) {
    std::string arg;
    for (int n : frames) arg += (arg.empty() ? "" : ",") + timeOf(n);
    return arg;
}

double meanDifference(const Picture& a, const Picture& b) {
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
    return a.rgb.empty() ? 0 : sum / double(a.rgb.size());
}

}  // namespace

TEST(History, EveryFrameAndChosenTimesGiveTheSamePictures) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    const std::vector<int> dense = denseFrames();
    // Chosen times: a few from each stretch, the first of them well after the stretch began (a later start).
    const std::vector<int> sparse = {990, 1020, 1035, 1050, 1440, 1446, 1866, 1878};
    TempDir dir;
    ASSERT_TRUE(dir.archiveOnly());
    Outcome all = runQuorvane(dir.path(), "--capture every --size 320x240 --times " + timesArg(dense));
    ASSERT_EQ(all.exitCode, 0) << all.err;
    Outcome some = runQuorvane(dir.path(), "--capture some --size 320x240 --times " + timesArg(sparse));
    ASSERT_EQ(some.exitCode, 0) << some.err;

    int differing = 0;
    for (size_t i = 0; i < sparse.size(); ++i) {
        size_t at = 0;
        while (dense[at] != sparse[i]) ++at;
        Picture a = readPicture(dir / ("every/" + frameName(int(at))));
        Picture b = readPicture(dir / ("some/" + frameName(int(i))));
        ASSERT_TRUE(a.ok() && b.ok()) << "frame " << sparse[i];
        ASSERT_EQ(a.width, b.width);
        ASSERT_EQ(a.height, b.height);
        if (a.rgb != b.rgb) {
            ++differing;
            ADD_FAILURE() << "t = " << timeOf(sparse[i])
                          << ": every-frame and chosen-time pictures differ by " << meanDifference(a, b)
                          << " levels on average";
        }
    }
    // The stretches are not trivially equal: the flash moves from frame to frame.
    Picture first = readPicture(dir / ("every/" + frameName(45))),
            later = readPicture(dir / ("every/" + frameName(75)));
    ASSERT_TRUE(first.ok() && later.ok());
    EXPECT_GT(meanDifference(first, later), 1.0);
    EXPECT_EQ(differing, 0);
}
