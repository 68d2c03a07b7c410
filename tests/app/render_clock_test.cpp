// The renderer's frame times at whole and fractional rates: each frame's time exact to the last bit over
// the whole run, the run's frame count, the frames of a span against a search through every frame, and
// the first sample of each frame in the sound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "app/frame_loop.h"
#include "production/production.h"

namespace {

const std::vector<FrameRate> kRates = {{60, 1},       {25, 1},       {1, 1},  {1000, 1}, {60000, 1001},
                                       {24000, 1001}, {30000, 1001}, {50, 2}, {1, 3},    {999999, 1000}};

// n * den / num to the nearest double, worked out in long division on whole numbers: the quotient's bits
// one by one, then rounded to nearest, ties to even.
double exactTime(uint64_t n, uint64_t num, uint64_t den) {
    const uint64_t q = n * den;
    if (q == 0) return 0.0;
    uint64_t whole = q / num, rest = q % num;
    // Enough bits after the point that the quotient holds 55 significant ones.
    int bits = 0;
    while (whole < (uint64_t(1) << 54)) {
        rest *= 2;
        whole = whole * 2 + (rest >= num ? 1 : 0);
        if (rest >= num) rest -= num;
        ++bits;
    }
    // Keep 53 significant bits; the two below decide the rounding with the remainder.
    int drop = 0;
    while ((whole >> drop) >= (uint64_t(1) << 53)) ++drop;
    uint64_t kept = whole >> drop;
    const uint64_t below = whole & ((uint64_t(1) << drop) - 1), half = uint64_t(1) << (drop - 1);
    if (below > half || (below == half && (rest > 0 || (kept & 1)))) ++kept;
    return std::ldexp(double(kept), drop - bits);
}

}  // namespace

TEST(RenderClock, FrameTimesAreExactOverTheWholeRunAndItEndsAfterThirtyTwoSeconds) {
    for (const FrameRate& rate : kRates) {
        SCOPED_TRACE(std::to_string(rate.num) + "/" + std::to_string(rate.den));
        const size_t count = runFrameCount(rate.num, rate.den);
        ASSERT_GE(count, 2u);
        // Frame count - 2 is still drawn, frame count - 1 is the first past the end.
        EXPECT_FALSE(pastTheEnd(float(rate.time(count - 2))));
        EXPECT_TRUE(pastTheEnd(float(rate.time(count - 1))));
        for (uint64_t n = 0; n < count + 10; ++n)
            ASSERT_EQ(rate.time(n), exactTime(n, uint64_t(rate.num), uint64_t(rate.den))) << "frame " << n;
    }
    // 59.94 frames a second: 1920 frames (1919 at 32.015 s is the first past the end), and after a day's
    // frames the time is still whole where it must be; adding 1001/60000 up would have drifted.
    const FrameRate ntsc(60000, 1001);
    EXPECT_EQ(runFrameCount(60000, 1001), 1920u);
    EXPECT_EQ(ntsc.time(60000), 1001.0);
    EXPECT_EQ(ntsc.time(60000 * 86), 1001.0 * 86);
    double added = 0;
    for (int n = 0; n < 60000; ++n) added += 1001.0 / 60000;
    EXPECT_NE(added, 1001.0) << "the check above would not tell exact times from summed ones";
    // Whole rates as always: frame n at n / fps, 1922 frames at 60.
    EXPECT_EQ(runFrameCount(60), 1922u);
    EXPECT_EQ(FrameRate(60).time(1921), 1921.0 / 60);
}

TEST(RenderClock, ASpanHoldsExactlyTheFramesWhoseTimesFallInIt) {
    std::mt19937 random(28);
    for (const FrameRate& rate : kRates) {
        SCOPED_TRACE(std::to_string(rate.num) + "/" + std::to_string(rate.den));
        const size_t run = runFrameCount(rate.num, rate.den);
        std::vector<TimeSpan> spans = {{16, 18}, {0, 0}, {0, 1000}, {32, 32}, {31.9, 40}, {40, 50}, {16, 16}};
        // Spans ending on frame times exactly, and spans anywhere.
        for (int i = 0; i < 40; ++i) {
            const double a = rate.time(random() % run), b = rate.time(random() % run);
            spans.push_back({std::min(a, b), std::max(a, b)});
            const double c = std::uniform_real_distribution<double>(0, 35)(random);
            spans.push_back({c, c + std::uniform_real_distribution<double>(0, 3)(random)});
        }
        for (const TimeSpan& span : spans) {
            size_t first = run, count = 0;
            for (size_t n = 0; n < run; ++n) {
                const double t = rate.time(n);
                if (t < span.from || t > span.to) continue;
                if (count == 0) first = n;
                ++count;
            }
            const FrameRange range = framesIn(rate, span);
            EXPECT_EQ(range.count, count) << span.from << ":" << span.to;
            if (count > 0) {
                EXPECT_EQ(range.first, first) << span.from << ":" << span.to;
            }
        }
    }
    // 16 to 18 s at 59.94: frames 960 (16.016 s) to 1078 (17.985 s).
    const FrameRange ntsc = framesIn(FrameRate(60000, 1001), TimeSpan{16, 18});
    EXPECT_EQ(ntsc.first, 960u);
    EXPECT_EQ(ntsc.count, 119u);
}

TEST(RenderClock, EachFrameBeginsAtItsNearestSample) {
    std::mt19937 random(44100);
    for (const FrameRate& rate : kRates) {
        for (int sampleRate : {8000, 44100, 48000, 96000}) {
            for (int i = 0; i < 2000; ++i) {
                const uint64_t n = i < 100 ? uint64_t(i) : random() % 40000;
                // n * den * rate / num, halves up, in 128-bit whole numbers.
                const unsigned __int128 twice =
                    (unsigned __int128)(n * uint64_t(rate.den)) * uint64_t(sampleRate) * 2;
                const uint64_t expected = uint64_t((twice + uint64_t(rate.num)) / (2 * uint64_t(rate.num)));
                ASSERT_EQ(rate.sample(n, sampleRate), expected)
                    << rate.num << "/" << rate.den << " at " << sampleRate << ", frame " << n;
            }
        }
    }
    // Frame 960 at 59.94 begins 16.016 s in: sample 706305.6 of 44.1 kHz sound, rounded up.
    EXPECT_EQ(FrameRate(60000, 1001).sample(960, 44100), 706306u);
}
