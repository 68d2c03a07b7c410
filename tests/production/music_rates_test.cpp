// Music in another common format plays the same show: the default music converted (by ffmpeg, at test
// time) to mono and to 32 and 48 kHz drives the field of view at the beats as the original does, and a
// capture lasts as long.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "capture_support.h"

using namespace capture_test;

namespace {

const char* const kBeats = "0,1,5,6,10,14,16,24,25,28,30";

// The default data set as loose files with its music converted by ffmpeg's filter and encoder options.
bool convertedDataSet(const TempDir& dir, const std::string& options) {
    if (!dir.looseFiles({"ferrowake.mp3"})) return false;
    const std::string cmd = "ffmpeg -loglevel error -y -i '" + assetsDir() + "/data/ferrowake.mp3' " +
                            options + " -c:a libmp3lame -b:a 192k '" + (dir / "data/ferrowake.mp3") + "'";
    return qvtest::runCommand(cmd) == 0 && exists(dir / "data/ferrowake.mp3");
}

std::vector<FrameLine> beatFrames(const std::string& dir) {
    Outcome run = runQuorvane(dir, std::string("--capture beats --size 32x24 --times ") + kBeats);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return readFrameLog(dir + "/beats/frames.txt");
}

}  // namespace

TEST(MusicRates, TheSpectrumFollowsTheBeatsAtEveryRateAndChannelCount) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    if (!haveCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing";
    TempDir original;
    ASSERT_TRUE(original.looseFiles());
    const std::vector<FrameLine> reference = beatFrames(original.path());
    ASSERT_EQ(reference.size(), 11u);

    // Mono as the average of the two channels (the spectrum averages them too; ffmpeg's own downmix
    // would make it louder).
    const struct {
        const char* name;
        const char* options;
    } variants[] = {
        {"mono 44.1 kHz", "-af 'pan=mono|c0=0.5*c0+0.5*c1'"},
        {"stereo 48 kHz", "-ar 48000"},
        {"mono 48 kHz", "-af 'pan=mono|c0=0.5*c0+0.5*c1' -ar 48000"},
        {"stereo 32 kHz", "-ar 32000"},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        TempDir dir;
        ASSERT_TRUE(convertedDataSet(dir, v.options));
        const std::vector<FrameLine> frames = beatFrames(dir.path());
        ASSERT_EQ(frames.size(), reference.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].t, reference[i].t);
            EXPECT_EQ(frames[i].beat, reference[i].beat);
            EXPECT_NEAR(frames[i].fov, reference[i].fov, 0.05 * reference[i].fov)
                << "at " << reference[i].t << " s";
        }
    }
}

TEST(MusicRates, MonoMusicIsCapturedForTheSameFramesAndTimes) {
    if (!haveDefaultDataSet()) GTEST_SKIP() << "the default data set (assets/) is absent";
    if (!haveCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing";
    TempDir original, mono;
    ASSERT_TRUE(original.looseFiles());
    ASSERT_TRUE(convertedDataSet(mono, "-af 'pan=mono|c0=0.5*c0+0.5*c1'"));
    Outcome a = runQuorvane(original.path(), "--capture out --fps 4 --size 32x24");
    Outcome b = runQuorvane(mono.path(), "--capture out --fps 4 --size 32x24");
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;
    const std::vector<FrameLine> x = readFrameLog(original / "out/frames.txt");
    const std::vector<FrameLine> y = readFrameLog(mono / "out/frames.txt");
    ASSERT_EQ(x.size(), y.size());
    EXPECT_EQ(x.size(), 130u);  // 32 s at 4 frames a second, then the first frame past 32 s
    // The beats and the orbits at the same times, and the field of view close all the way through.
    double worst = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        EXPECT_EQ(x[i].t, y[i].t);
        EXPECT_EQ(x[i].beat, y[i].beat);
        worst = std::max(worst, std::fabs(x[i].fov - y[i].fov) / x[i].fov);
    }
    EXPECT_LT(worst, 0.05);
    // No warning: the mono music lasts as long as the original.
    EXPECT_EQ(b.err.find("shorter than"), std::string::npos) << b.err;
}
