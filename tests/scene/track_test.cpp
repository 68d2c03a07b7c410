// Key-frame tracks: the production's pulse track against its closed forms, clamping, and keys the
// production never makes.
#include "scene/track.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

namespace {

TrackKey key(float time, float value, float t = 0, float c = 0, float b = 0) {
    return TrackKey{time, value, 99.0f, 99.0f, t, c, b};
}

// A track of these keys, in this order, with its tangents computed.
Track trackOf(std::initializer_list<TrackKey> keys) {
    Track track;
    for (const TrackKey& k : keys) track.addKey(k);
    track.computeTangents();
    return track;
}

Track pulseTrack() {
    return trackOf({key(0, 0), key(1, 1), key(2, 0), key(3, 1), key(4, 0), key(5, 1), key(6, 0)});
}

TEST(TrackTest, ProductionPulseTrackFollowsItsClosedForm) {
    Track track = pulseTrack();
    const auto& k = track.keys();
    EXPECT_FLOAT_EQ(k[0].outTangent, 1.0f);
    EXPECT_FLOAT_EQ(k[6].inTangent, -1.0f);
    for (int i = 1; i < 6; ++i) {
        EXPECT_FLOAT_EQ(k[i].outTangent, 0.0f) << i;
        EXPECT_FLOAT_EQ(k[i].inTangent, 0.0f) << i;
    }

    EXPECT_FLOAT_EQ(track.evaluate(0.5f), 0.625f);
    for (float s = 0.0f; s < 1.0f; s += 0.125f) {
        float h = 3 * s * s - 2 * s * s * s;
        EXPECT_NEAR(track.evaluate(s), s + s * s - s * s * s, 1e-6f) << s;          // first second
        EXPECT_NEAR(track.evaluate(1 + s), 1 - h, 1e-6f) << s;                      // falling
        EXPECT_NEAR(track.evaluate(2 + s), h, 1e-6f) << s;                          // rising
        EXPECT_NEAR(track.evaluate(5 + s), 1 - 2 * s * s + s * s * s, 1e-6f) << s;  // last second
    }
    for (int i = 0; i <= 6; ++i) EXPECT_FLOAT_EQ(track.evaluate(float(i)), i % 2 ? 1.0f : 0.0f) << i;
    EXPECT_EQ(track.evaluate(-3.0f), 0.0f);
    EXPECT_EQ(track.evaluate(6.0f), 0.0f);
    EXPECT_EQ(track.evaluate(100.0f), 0.0f);
}

TEST(TrackTest, SegmentsAndClamping) {
    Track track = pulseTrack();
    EXPECT_EQ(track.findSegment(0.0f), 0u);
    EXPECT_EQ(track.findSegment(2.5f), 2u);
    EXPECT_EQ(track.findSegment(5.999f), 5u);
    EXPECT_EQ(track.findSegment(6.0f), 0u);
    EXPECT_EQ(track.findSegment(-1.0f), 0u);

    Track rising = trackOf({key(1, 10), key(3, 20)});
    EXPECT_EQ(rising.evaluate(0), 10.0f);
    EXPECT_EQ(rising.evaluate(3), 20.0f);
    EXPECT_EQ(rising.evaluate(7), 20.0f);
    EXPECT_FLOAT_EQ(rising.evaluate(2), 15.0f);
}

TEST(TrackTest, TensionContinuityBiasShapeTheTangents) {
    Track track = trackOf({key(0, 0, 0.5f, 0.0f, 0.0f), key(1, 2, 0.0f, 0.5f, -0.5f), key(3, 2)});
    const auto& k = track.keys();
    EXPECT_FLOAT_EQ(k[0].outTangent, 0.5f * 2);
    // Arriving at key 1 uses key 0's parameters: (1-T)(1-C)(1+B) d + (1-T)(1+C)(1-B) (v2-v1), timed.
    EXPECT_FLOAT_EQ(k[1].inTangent, 0.5f * 2 * 1.0f / 3.0f);
    // Leaving key 1: (1-T)(1+C)(1+B)(v1-v0) + (1-T)(1-C)(1-B) d, times dt / (t2 - t0).
    EXPECT_FLOAT_EQ(k[1].outTangent, (1.5f * 0.5f * 2 + 0.5f * 1.5f * 0) * 2.0f / 3.0f);
    EXPECT_FLOAT_EQ(k[2].inTangent, 0.5f * 1.5f * 0.5f * 0);
}

TEST(TrackTest, DegenerateKeysStayFinite) {
    Track none = trackOf({});
    EXPECT_EQ(none.evaluate(1.0f), 0.0f);

    Track one = trackOf({key(2, 7)});
    EXPECT_EQ(one.keys()[0].outTangent, 99.0f);  // untouched
    EXPECT_EQ(one.evaluate(-5), 7.0f);
    EXPECT_EQ(one.evaluate(2), 7.0f);
    EXPECT_EQ(one.evaluate(50), 7.0f);

    // Equal key times never divide by zero.
    Track equal = trackOf({key(0, 0), key(1, 1), key(1, 5), key(1, 2), key(2, 3)});
    for (const TrackKey& k : equal.keys()) {
        EXPECT_TRUE(std::isfinite(k.inTangent) || k.inTangent == 99.0f);
        EXPECT_TRUE(std::isfinite(k.outTangent) || k.outTangent == 99.0f);
    }
    for (float t = -1; t <= 3; t += 0.25f) EXPECT_TRUE(std::isfinite(equal.evaluate(t))) << t;

    Track pair = trackOf({key(1, 4), key(1, 6)});
    EXPECT_EQ(pair.evaluate(1), 6.0f);
    EXPECT_EQ(pair.evaluate(0), 4.0f);

    // Keys out of order: still finite, no read past the last key.
    Track backwards = trackOf({key(3, 1), key(2, 2), key(1, 3)});
    for (float t = 0; t <= 4; t += 0.5f) EXPECT_TRUE(std::isfinite(backwards.evaluate(t))) << t;
}

}  // namespace
