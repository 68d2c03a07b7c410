#include "music/music.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "test_sound.h"

namespace {

void sleep_s(double s) {
    std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

// Runs each test in a fresh working directory with a "data" folder, where the music is looked up.
class MusicTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        ASSERT_FALSE(dir.path().empty());
        ASSERT_EQ(mkdir(dir.file("data").c_str(), 0755), 0);
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        old_cwd = cwd;
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(chdir(old_cwd.c_str()), 0); }

    // A sine at FFT bin `bin` (of a 512-point FFT at `rate`) written as data/<name>; false without lame.
    bool make_music(const std::string& name, int rate, double seconds, int bin = 40, int channels = 2) {
        return test_sound::have_lame() &&
               test_sound::make_sine_mp3(dir.file("data/" + name), rate, channels, seconds,
                                         test_sound::bin_hz(bin, rate), 0.5);
    }

    // The text thrown by load, or "" when it succeeds.
    static std::string load_error(Music& music, const std::string& name) {
        try {
            music.load(name, 0.0);
        } catch (const std::string& e) {
            return e;
        }
        return "";
    }

    test_sound::TempDir dir;
    std::string old_cwd;
};

#define REQUIRE_MUSIC(ok) \
    if (!(ok)) GTEST_SKIP() << "lame is not installed or failed: no MP3 test files"

TEST_F(MusicTest, LoadFailuresNameTheFileAndTheReason) {
    Music music(nullptr);
    EXPECT_EQ(load_error(music, "nosuch.mp3"), "Failed to load nosuch.mp3\nfile not found");

    test_sound::write_file(dir.file("data/notes.mp3"), "just some text\n", 15);
    EXPECT_EQ(load_error(music, "notes.mp3"),
              "Failed to load notes.mp3\nThe file's format is not recognised/supported.");

    test_sound::write_file(dir.file("data/empty.mp3"), "", 0);
    EXPECT_EQ(load_error(music, "empty.mp3"),
              "Failed to load empty.mp3\nZero-length music file. File is proabelby corrupted.");

    try {
        music.play();
        FAIL() << "play without a stream did not throw";
    } catch (const std::string& e) {
        EXPECT_EQ(e, "no music file loaded");
    }
    EXPECT_EQ(music.stream, 0u);
    EXPECT_EQ(music.time(), 0.0);  // no stream: the clock stands at the start
}

TEST_F(MusicTest, ConstructionFailsWithoutAnOutputDevice) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    try {
        Music music(nullptr);
        FAIL() << "construction did not throw";
    } catch (const std::string& e) {
        EXPECT_EQ(e, "could not init bass");
    }
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    Music again(nullptr);  // nothing was left open
}

// The clock is the byte position over the stream's own byte rate: true seconds whatever the file's rate
// and channel count (a fixed 176400 bytes a second ran a mono file at half speed and a 48 kHz one fast).
TEST_F(MusicTest, TimeFollowsThePlayingPosition) {
    REQUIRE_MUSIC(make_music("a.mp3", 44100, 3.0) && make_music("b.mp3", 48000, 3.0) &&
                  make_music("c.mp3", 44100, 3.0, 40, 1));
    // The 44.1 kHz stereo file against the wall clock, the others against it: a busy machine slows the
    // dummy device's clock alike for all of them.
    double reference = 1.0;
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
        SCOPED_TRACE(name);
        Music music(nullptr);
        music.load(name, 0.0);
        EXPECT_EQ(music.time(), 0.0);
        music.play();
        sleep_s(0.2);
        const double t0 = music.time();
        const auto w0 = std::chrono::steady_clock::now();
        sleep_s(1.2);
        const double t1 = music.time();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
        const double speed = (t1 - t0) / wall;
        if (name[0] == 'a') {
            EXPECT_NEAR(speed, 1.0, 0.15);
            reference = speed;
        } else {
            EXPECT_NEAR(speed / reference, 1.0, 0.15);
        }
    }
}

TEST_F(MusicTest, PlayStartsAtTheStartOffset) {
    REQUIRE_MUSIC(make_music("a.mp3", 44100, 4.0));
    Music music(nullptr);
    music.load("a.mp3", 2.5);
    EXPECT_EQ(music.startOffset, 2.5);
    EXPECT_EQ(music.time(), 0.0);
    music.play();
    EXPECT_EQ(music.time(), 2.5);
    sleep_s(0.5);
    EXPECT_GT(music.time(), 2.6);
    EXPECT_LT(music.time(), 3.4);

    // Loading again replaces the stream; without an offset, or with one before the start, play
    // starts at 0.
    for (double offset : {0.0, -3.0}) {
        music.load("a.mp3", offset);
        music.play();
        EXPECT_LT(music.time(), 0.1);
    }
}

TEST_F(MusicTest, SpectrumPeaksAtTheTonesBin) {
    REQUIRE_MUSIC(make_music("tone.mp3", 44100, 3.0, 102));
    Music music(nullptr);
    music.load("tone.mp3", 0.0);
    EXPECT_EQ(*std::max_element(music.spectrum, music.spectrum + 256), 0.0f);
    music.play();
    sleep_s(0.3);
    music.updateSpectrum();
    EXPECT_EQ(std::max_element(music.spectrum, music.spectrum + 256) - music.spectrum, 102);
    EXPECT_NEAR(music.spectrum[102], 0.25f, 0.03f);  // the tone is at half of full scale
}

// The production reads bins by number, tuned at 44.1 kHz: at any rate and channel count a bin stands
// for the same frequency, so a tone at bin 102's frequency (8786 Hz) peaks there with the same height.
TEST_F(MusicTest, SpectrumBinsKeepTheirFrequencyAtEveryRate) {
    const double hz = test_sound::bin_hz(102, 44100);
    const struct {
        const char* name;
        int rate, channels;
    } files[] = {{"s48.mp3", 48000, 2}, {"m48.mp3", 48000, 1}, {"m44.mp3", 44100, 1}, {"s32.mp3", 32000, 2}};
    for (const auto& f : files)
        REQUIRE_MUSIC(test_sound::have_lame() &&
                      test_sound::make_sine_mp3(dir.file(std::string("data/") + f.name), f.rate, f.channels,
                                                3.0, hz, 0.5));
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        Music music(nullptr);
        music.load(f.name, 0.0);
        EXPECT_EQ(music.rate, f.rate);
        EXPECT_EQ(music.channels, f.channels);
        music.play();
        sleep_s(0.3);
        music.updateSpectrum();
        EXPECT_EQ(std::max_element(music.spectrum, music.spectrum + 256) - music.spectrum, 102);
        EXPECT_NEAR(music.spectrum[102], 0.25f, 0.03f);
    }
}

}  // namespace
