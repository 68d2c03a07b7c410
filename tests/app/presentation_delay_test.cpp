// The prediction that makes a live frame show the sound heard when it is presented: what it learns from
// measured delays, and the two promises it keeps whatever it measures (time never runs backwards; nothing
// ahead of the sound at the start).
#include "app/presentation_delay.h"

#include <gtest/gtest.h>

#include <random>

TEST(PresentationDelay, StartsAtTheSoundAndConvergesOnASteadyDelay) {
    PresentationDelay delay;
    // Nothing measured yet: the first frame after loading shows exactly what is heard, 0 at the start.
    EXPECT_EQ(delay.frameTime(0.0), 0.0);
    // While the sound has not begun the frames stay at its start, whatever was measured.
    delay.measured(0.030);
    EXPECT_EQ(delay.frameTime(0.0), 0.0);
    EXPECT_EQ(delay.frameTime(0.0), 0.0);

    // A steady 30 ms from reading the clock to the return of Present, with one stall among the frames: the
    // prediction is the steady delay, and each frame shows the position read plus it.
    for (int frame = 0; frame < 20; ++frame) delay.measured(frame == 12 ? 0.4 : 0.030);
    EXPECT_DOUBLE_EQ(delay.delay(), 0.030);
    EXPECT_DOUBLE_EQ(delay.frameTime(1.0), 1.030);
    EXPECT_DOUBLE_EQ(delay.frameTime(1.02), 1.050);

    // The delay changes (another frame rate): the prediction follows within a few frames.
    for (int frame = 0; frame < 5; ++frame) delay.measured(0.012);
    EXPECT_DOUBLE_EQ(delay.delay(), 0.012);
}

// Where the output says how far off the sound of the start still is, the frames before it are timed to it:
// the start while it will not be heard by the time they are presented, then as far into the sound as it
// will have played, and on from there without a jump.
TEST(PresentationDelay, FramesBeforeTheSoundAreTimedToItsStart) {
    PresentationDelay delay;
    EXPECT_EQ(delay.frameTime(0.0, 0.050), 0.0);  // nothing measured: the start, whatever is known
    for (int frame = 0; frame < 9; ++frame) delay.measured(0.030);
    EXPECT_EQ(delay.frameTime(0.0, 0.050), 0.0);           // heard 20 ms after this frame shows
    EXPECT_EQ(delay.frameTime(0.0, 0.030), 0.0);           // heard as it shows
    EXPECT_DOUBLE_EQ(delay.frameTime(0.0, 0.012), 0.018);  // heard 18 ms before it shows
    EXPECT_DOUBLE_EQ(delay.frameTime(0.0, 0.0), 0.030);    // heard from now on
    EXPECT_DOUBLE_EQ(delay.frameTime(0.016, 0.0), 0.046);
    // Not known (the output has not said yet): the start until the sound is under way.
    PresentationDelay unknown;
    for (int frame = 0; frame < 9; ++frame) unknown.measured(0.030);
    EXPECT_EQ(unknown.frameTime(0.0, -1.0), 0.0);
    // A seek elsewhere: the position stands at the target, which the frames show until its sound comes.
    EXPECT_DOUBLE_EQ(delay.frameTime(10.0, 0.200), 10.0);
    EXPECT_DOUBLE_EQ(delay.frameTime(10.0, 0.010), 10.020);
}

// Frames that get faster (the machine's load goes away): the predicted delay falls by more than a frame's
// sound at once. The picture neither goes back nor stands still; it goes on slowly and is at the new
// prediction within a few frames.
TEST(PresentationDelay, AFallingDelaySlowsThePictureWithoutStoppingIt) {
    PresentationDelay delay;
    double heard = 0.0;
    for (int frame = 0; frame < 20; ++frame) {
        heard += 0.130;
        delay.frameTime(heard);
        delay.measured(0.130);
    }
    double previous = delay.frameTime(heard += 0.130);
    int caughtUp = -1;  // the first frame at the new prediction
    for (int frame = 0; frame < 20; ++frame) {
        delay.measured(0.040);
        heard += 0.040;
        const double t = delay.frameTime(heard);
        ASSERT_GT(t, previous) << "frame " << frame << " stands still";
        ASSERT_LE(t - previous, 0.040 * 1.0001) << "frame " << frame << " runs faster than the sound";
        previous = t;
        if (caughtUp < 0 && t <= heard + 0.040 + 1e-9) caughtUp = frame;
    }
    EXPECT_DOUBLE_EQ(delay.delay(), 0.040);
    EXPECT_GE(caughtUp, 0) << "the picture is not back at the prediction";
    EXPECT_LT(caughtUp, 12);
}

TEST(PresentationDelay, StaysWithinItsRange) {
    PresentationDelay late;
    for (int frame = 0; frame < 10; ++frame) late.measured(3.0);  // a debugger, a machine swapping
    EXPECT_DOUBLE_EQ(late.delay(), PresentationDelay::kMaxSeconds);
    PresentationDelay odd;
    for (double seconds : {-0.5, -0.5, -0.5, 0.0 / 0.0, 1.0 / 0.0})
        odd.measured(seconds);  // a clock stepped back
    EXPECT_EQ(odd.delay(), 0.0);
    EXPECT_EQ(odd.frameTime(0.0 / 0.0), 0.0);  // a position that cannot be read
}

// Over a long run with a jittering position (as a sound server's reports come) and delays that jump about,
// the frames' times never go backwards and never lead the position read by more than the largest delay.
TEST(PresentationDelay, TimeNeverRunsBackwards) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-0.02, 0.02), delays(0.0, 0.3);
    PresentationDelay delay;
    double previous = 0.0, heard = 0.0;
    for (int frame = 0; frame < 5000; ++frame) {
        heard = std::max(0.0, heard + 0.016 + jitter(random));
        if (frame % 500 == 0)
            heard = std::max(0.0, heard - 0.2);  // a position reported late, once in a while
        const double t = delay.frameTime(heard);
        ASSERT_GE(t, previous) << "frame " << frame;
        ASSERT_LE(t, std::max(previous, heard + PresentationDelay::kMaxSeconds)) << "frame " << frame;
        previous = t;
        delay.measured(frame % 7 == 0 ? delays(random) : 0.020 + jitter(random) / 4);
    }
}
