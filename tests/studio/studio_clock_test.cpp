// The studio's transport on a stand-in for the music: what each key does to the time shown and to the sound,
// the cuts it steps through and snaps the loop to, and the loop and the end as the music plays on.
#include "studio/studio_clock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/win32.h"

namespace {

// The music: a position that the test moves as if it played, and the calls the transport made.
struct Music : Transport {
    double position = 0.0;
    bool playing = true;
    std::vector<std::string> calls;
    std::vector<float> cutTimes{0, 1, 5, 6, 10, 14, 16, 24, 25, 28, 30, 42};

    void hold() override {
        playing = false;
        calls.push_back("hold");
    }
    void playFrom(double seconds) override {
        position = seconds;
        playing = true;
        calls.push_back("play " + std::to_string(seconds));
    }
    std::vector<float> cuts() override { return cutTimes; }
};

// A playing clock over it; it counts how often the studio made one afresh.
struct Playing : FrameClock {
    Music& music;
    explicit Playing(Music& m) : music(m) {}
    double frameTime(size_t) override { return music.position; }
    bool last(size_t, float) const override { return false; }
};

struct Studio {
    Music music;
    int made = 0;
    StudioClock clock{[this] {
                          ++made;
                          return std::make_unique<Playing>(music);
                      },
                      music, 32.0};
    size_t frame = 0;
    // The next frame's time, with the music moved on by `played` seconds when it plays.
    double next(double played = 0.0) {
        if (music.playing) music.position += played;
        return clock.frameTime(frame++);
    }
};

}  // namespace

TEST(StudioClock, PauseHoldsThePictureAndTheSoundAndResumesWhereItStood) {
    Studio s;
    EXPECT_DOUBLE_EQ(s.next(), 0.0);
    EXPECT_DOUBLE_EQ(s.next(2.5), 2.5);
    EXPECT_TRUE(s.clock.transportKey(VK_SPACE));
    EXPECT_TRUE(s.clock.paused());
    EXPECT_EQ(s.music.calls, std::vector<std::string>{"hold"});
    // The sound still queued in the output moves the position on; the picture stays.
    s.music.position += 0.05;
    for (int i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(s.next(), 2.5);
    s.clock.transportKey(VK_SPACE);
    EXPECT_FALSE(s.clock.paused());
    EXPECT_EQ(s.music.calls.back(), "play " + std::to_string(2.5));
    EXPECT_DOUBLE_EQ(s.next(), 2.5);
    EXPECT_DOUBLE_EQ(s.next(0.1), 2.6);
    // Keys that are not the transport's move nothing.
    EXPECT_FALSE(s.clock.transportKey('X'));
    EXPECT_FALSE(s.clock.transportKey(VK_ESCAPE));
}

TEST(StudioClock, SeeksMoveThePictureAtOnceAndTheSoundWhenItPlays) {
    Studio s;
    s.next(3.0);
    s.clock.transportKey(VK_RIGHT);
    EXPECT_EQ(s.music.calls.back(), "play " + std::to_string(4.0));
    EXPECT_DOUBLE_EQ(s.next(), 4.0);
    // Backwards: a playing clock never goes back, so the studio makes a new one for every move.
    const int made = s.made;
    s.clock.transportKey(VK_LEFT);
    s.clock.transportKey(VK_LEFT);
    EXPECT_GT(s.made, made);
    EXPECT_DOUBLE_EQ(s.next(), 2.0);
    s.clock.transportKey(VK_HOME);
    EXPECT_DOUBLE_EQ(s.next(), 0.0);
    s.clock.transportKey(VK_LEFT);  // clamped at the start
    EXPECT_DOUBLE_EQ(s.next(), 0.0);

    // While paused the picture moves and the sound waits for the resume.
    s.clock.transportKey(VK_SPACE);
    const size_t calls = s.music.calls.size();
    s.clock.transportKey(VK_RIGHT);
    EXPECT_DOUBLE_EQ(s.next(), 1.0);
    EXPECT_DOUBLE_EQ(s.next(), 1.0);
    EXPECT_EQ(s.music.calls.size(), calls);
    s.clock.transportKey(VK_SPACE);
    EXPECT_EQ(s.music.calls.back(), "play " + std::to_string(1.0));
    s.clock.seek(40.0);  // clamped at the end
    EXPECT_DOUBLE_EQ(s.next(), 32.0);
}

TEST(StudioClock, PageUpAndDownStepThroughTheCutsOfTheProductionAsItIsNow) {
    Studio s;
    s.clock.transportKey(VK_SPACE);
    std::vector<double> visited;
    for (int i = 0; i < 12; ++i) {
        s.clock.transportKey(VK_NEXT);
        visited.push_back(s.next());
    }
    // The cuts within the run's 32 seconds; past the last the time stays.
    EXPECT_EQ(visited, (std::vector<double>{1, 5, 6, 10, 14, 16, 24, 25, 28, 30, 30, 30}));
    s.clock.seek(14.2);
    s.clock.transportKey(VK_PRIOR);
    EXPECT_DOUBLE_EQ(s.next(), 14.0);
    s.clock.transportKey(VK_PRIOR);  // from a cut, the one before
    EXPECT_DOUBLE_EQ(s.next(), 10.0);
    s.clock.seek(0.5);
    s.clock.transportKey(VK_PRIOR);
    EXPECT_DOUBLE_EQ(s.next(), 0.0);

    // A reloaded timeline: the next key uses the new cuts.
    s.music.cutTimes = {0, 2.5, 7.25};
    s.clock.transportKey(VK_NEXT);
    EXPECT_DOUBLE_EQ(s.next(), 2.5);
    s.clock.transportKey(VK_NEXT);
    EXPECT_DOUBLE_EQ(s.next(), 7.25);
}

TEST(StudioClock, TheLoopSnapsToTheNearestCutAndWrapsWithTheSound) {
    Studio s;
    // Snapping: the nearest of the cuts and the run's two ends, ties to the earlier.
    const std::vector<std::pair<double, double>> snaps = {
        {0.4, 0.0}, {0.6, 1.0}, {3.0, 1.0}, {3.1, 5.0}, {5.4, 5.0}, {20.1, 24.0}, {19.9, 16.0}, {31.2, 32.0}};
    for (const auto& [t, cut] : snaps) EXPECT_DOUBLE_EQ(s.clock.snap(t), cut) << t;

    s.clock.seek(5.3);
    s.next();
    s.clock.transportKey(VK_OEM_4);  // [
    s.clock.seek(9.2);
    s.next();
    s.clock.transportKey(VK_OEM_6);  // ]
    EXPECT_DOUBLE_EQ(s.clock.loopStart(), 5.0);
    EXPECT_DOUBLE_EQ(s.clock.loopEnd(), 10.0);
    s.clock.transportKey('L');
    EXPECT_TRUE(s.clock.looping());
    EXPECT_DOUBLE_EQ(s.next(0.5), 9.7);
    // Reaching the end goes back to the start, the sound with it, and it goes on playing from there.
    EXPECT_DOUBLE_EQ(s.next(0.4), 5.0);
    EXPECT_EQ(s.music.calls.back(), "play " + std::to_string(5.0));
    EXPECT_DOUBLE_EQ(s.next(0.25), 5.25);
    s.clock.transportKey('L');
    EXPECT_FALSE(s.clock.looping());
    s.clock.seek(9.9);
    s.next();
    EXPECT_DOUBLE_EQ(s.next(0.3), 10.2);

    // A loop whose end does not come after its start does not turn on.
    s.clock.seek(24.2);
    s.next();
    s.clock.transportKey(VK_OEM_4);
    EXPECT_FALSE(s.clock.toggleLoop());
    EXPECT_FALSE(s.clock.looping());
}

TEST(StudioClock, TheEndHoldsTheLastFrameAndSpacePlaysAgainFromTheStart) {
    Studio s;
    s.clock.seek(31.9);
    s.next();
    EXPECT_DOUBLE_EQ(s.next(0.05), 31.95);
    EXPECT_DOUBLE_EQ(s.next(0.1), 32.0);
    EXPECT_TRUE(s.clock.paused());
    EXPECT_EQ(s.music.calls.back(), "hold");
    EXPECT_FALSE(s.clock.last(s.frame, 32.0f));  // the studio never ends by itself
    s.music.position += 1.0;
    EXPECT_DOUBLE_EQ(s.next(), 32.0);
    s.clock.transportKey(VK_SPACE);
    EXPECT_EQ(s.music.calls.back(), "play " + std::to_string(0.0));
    EXPECT_DOUBLE_EQ(s.next(), 0.0);
}
