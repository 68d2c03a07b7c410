// A capture finds out what would stop it before the first frame (no data set here, a folder it cannot
// write into, no ffmpeg for a video) before it removes anything of an earlier capture in the folder; when
// it runs, the earlier pictures and frame log go together.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "app/capture.h"
#include "scratch_dir.h"

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// An earlier capture of 12 frames in `dir`.
void earlierCapture(const std::string& dir) {
    for (int n = 0; n < 12; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%05d.png", n);
        std::ofstream(dir + name) << "picture";
    }
    std::ofstream(dir + "/frames.txt") << "an earlier frame log\n";
}

bool earlierCaptureIntact(const std::string& dir) {
    return exists(dir + "/frame_00000.png") && exists(dir + "/frame_00011.png") &&
           exists(dir + "/frames.txt");
}

CaptureOptions options(const std::string& dir) {
    CaptureOptions capture;
    capture.directory = dir;
    capture.times = {0.0};
    capture.width = 64;
    capture.height = 48;
    capture.progress = false;
    return capture;
}

std::string captureFailure(const CaptureOptions& capture) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(qv_capture(capture), 1);
    return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(CaptureStart, WhatWouldStopTheCaptureLeavesTheEarlierOneAlone) {
    qvtest::WorkDir work("qv_capture_start");
    const std::string out = work / "out";
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    earlierCapture(out);

    // Started from the wrong folder: no data set here.
    EXPECT_EQ(captureFailure(options(out)),
              "Error: Failed to load load.png\ncannot find load.png: there is neither gorvel.yo nor a data "
              "folder in " +
                  work.path().string() + "\n");
    EXPECT_TRUE(earlierCaptureIntact(out));

    // The data set is here, but ffmpeg is not to be found for the video.
    const std::string archive = std::string(QV_SOURCE_DIR) + "/assets/gorvel.yo";
    if (!exists(archive)) GTEST_SKIP() << "the default data set (assets/gorvel.yo) is absent";
    ASSERT_EQ(symlink(archive.c_str(), (work / "gorvel.yo").c_str()), 0);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", work.path().c_str(), 1);
    CaptureOptions video = options(out);
    video.video = out + "/v.mp4";
    const std::string err = captureFailure(video);
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(err, "quorvane: ffmpeg could not be started (is it installed?); no video was made\n");
    EXPECT_TRUE(earlierCaptureIntact(out));

    // A folder in which no file can be made.
    EXPECT_EQ(captureFailure(options("/proc/self")),
              "quorvane: cannot write into the directory /proc/self\n");

    // A capture that runs replaces the earlier one whole: one frame now, and its own frame log.
    ASSERT_EQ(qv_capture(options(out)), 0);
    ShowCursor(FALSE);  // the windowed display shows the cursor once more on the way out, as always
    EXPECT_TRUE(exists(out + "/frame_00000.png"));
    for (int n = 1; n < 12; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%05d.png", n);
        EXPECT_FALSE(exists(out + name)) << name;
    }
    std::ifstream log(out + "/frames.txt");
    std::string line, rest;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_EQ(line.compare(0, 11, "0 0.000000 "), 0) << line;
    EXPECT_FALSE(std::getline(log, rest)) << "a line of the earlier frame log is left: " << rest;
}
