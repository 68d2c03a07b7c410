// A frame is a function of its time in both directions: the production drawn at times in an order that seeks
// back and forth (into the pulse, a blackout, the clip's flashes, across a cut, the final fade) shows at
// each time exactly what a fresh run rendering that time alone shows, picture and frame log alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture_support.h"
#include "render_in_process.h"

using namespace capture_test;

TEST(Seek, FramesAfterSeeksEqualFreshRunsAtTheirTimes) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    // 17: a flash at full strength; 3 and 0.5: the pulse, 0.5 in the blackout between two cuts; 12.5 and 29
    // plain picture on either orbit, the clip at opposite ends of its loop; 16.02: a flash and a blackout;
    // 23.99 and 24.01 either side of the cut at 24; 1: exactly on a cut (not yet passed); 31.1: the fade
    // beginning; 31.2 and 3 again, after the later times.
    const std::vector<double> seeks = {17,    3,    12.5, 3,    29, 0.5,  16.02, 24.01,
                                       23.99, 31.1, 1,    16.5, 3,  31.2, 0.5};
    TempDir dir;
    ASSERT_TRUE(dir.archiveOnly());
    std::vector<RenderedFrame> seen;
    try {
        seen = renderInProcess(dir.path(), seeks);
    } catch (const std::string& text) {
        FAIL() << text;
    }
    ASSERT_EQ(seen.size(), seeks.size());

    for (size_t i = 0; i < seeks.size(); ++i) {
        const double t = seeks[i];
        SCOPED_TRACE("t = " + timeText(t) + " (seek " + std::to_string(i) + ")");
        // One fresh run per distinct time.
        const size_t first = size_t(std::find(seeks.begin(), seeks.end(), t) - seeks.begin());
        const std::string out = "fresh" + std::to_string(first);
        if (first == i) {
            Outcome run = runQuorvane(dir.path(), "--capture " + out + " --times " + timeText(t));
            ASSERT_EQ(run.exitCode, 0) << run.err;
        }
        Picture fresh = readPicture(dir / (out + "/" + frameName(0)));
        ASSERT_TRUE(fresh.ok());
        ASSERT_EQ(fresh.width, kRenderWidth);
        ASSERT_EQ(fresh.height, kRenderHeight);
        const std::vector<FrameLine> log = readFrameLog(dir / (out + "/frames.txt"));
        ASSERT_EQ(log.size(), 1u);

        EXPECT_EQ(seen[i].beat, log[0].beat);
        EXPECT_NEAR(seen[i].camera.x, log[0].x, 5e-5);
        EXPECT_NEAR(seen[i].camera.y, log[0].y, 5e-5);
        EXPECT_NEAR(seen[i].camera.z, log[0].z, 5e-5);
        ASSERT_EQ(seen[i].rgb.size(), fresh.rgb.size());
        if (seen[i].rgb != fresh.rgb) {
            size_t differing = 0;
            for (size_t k = 0; k < fresh.rgb.size(); ++k) differing += seen[i].rgb[k] != fresh.rgb[k];
            ADD_FAILURE() << differing << " of " << fresh.rgb.size() << " bytes differ from the fresh run's";
        }
    }
    // The times are not trivially alike: the same time twice is the same, different times are not.
    EXPECT_EQ(seen[1].rgb, seen[3].rgb);
    EXPECT_NE(seen[1].rgb, seen[2].rgb);
    EXPECT_NE(seen[7].beat, seen[8].beat);
}
