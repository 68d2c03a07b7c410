// Music shorter than the production: once it has played out the clock goes on at real time, so the live
// run ends by itself after 32 seconds of production time, as a capture of the same data set does.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture_support.h"

using namespace capture_test;

namespace {

// The default data set with a two-second tone as its music, made by ffmpeg's MP3 encoder.
bool shortMusicDataSet(const TempDir& dir) {
    if (!dir.looseFiles({"ferrowake.mp3"})) return false;
    std::string cmd =
        "ffmpeg -loglevel error -y -f lavfi -i 'sine=frequency=440:sample_rate=44100:duration=2' "
        "-ac 2 -c:a libmp3lame '" +
        (dir / "data/ferrowake.mp3") + "'";
    return std::system(cmd.c_str()) == 0 && exists(dir / "data/ferrowake.mp3");
}

}  // namespace

TEST(ShortMusic, LiveAndCaptureRunsBothEndAfterThirtyTwoSeconds) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    if (!haveCommand("ffmpeg") || !haveCommand("timeout")) GTEST_SKIP() << "ffmpeg or timeout is missing";
    TempDir dir;
    ASSERT_TRUE(shortMusicDataSet(dir));

    // Live, on the dummy sound device: the position stops at 2 s; the run must still end by itself (exit
    // 0), and not before 30 of the 32 seconds have passed in real time. The time-out only stops a hang.
    const auto start = std::chrono::steady_clock::now();
    std::string cmd = "cd '" + dir.path() + "' && SDL_AUDIODRIVER=dummy timeout 120 '" +
                      std::string(QV_BINARY_DIR) + "/quorvane' >/dev/null 2>'" + (dir / "live.txt") + "'";
    const int status = std::system(cmd.c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "exit " << WEXITSTATUS(status) << " (124: the time-out, the production never ended)\n"
        << readFile(dir / "live.txt");
    EXPECT_GT(seconds, 30.0);

    // Captured: the same 34 frames, the last past 32 seconds, as with the full-length music.
    Outcome capture = runQuorvane(dir.path(), "--capture out --fps 1 --size 32x24");
    ASSERT_EQ(capture.exitCode, 0) << capture.err;
    std::vector<FrameLine> log = readFrameLog(dir / "out/frames.txt");
    ASSERT_EQ(log.size(), 34u);
    EXPECT_DOUBLE_EQ(log[33].t, 33.0);
}
