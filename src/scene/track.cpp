#include "scene/track.h"

namespace {

// dt / span for the timing term; equal key times would make it 0/0, so such a span counts as evenly
// spaced instead.
float timing(float dt, float span) {
    return span != 0.0f ? dt / span : 0.5f;
}

}  // namespace

void Track::computeTangents() {
    size_t n = keys_.size();
    if (n < 2) return;
    for (size_t i = 0; i + 1 < n; ++i) {
        TrackKey& k = keys_[i];
        TrackKey& next = keys_[i + 1];
        float t = k.tension, c = k.continuity, b = k.bias;
        float d = next.value - k.value;
        float dt = next.time - k.time;

        if (i == 0) {
            k.outTangent = (1 - t) * (1 - c) * (1 - b) * d;
        } else {
            const TrackKey& prev = keys_[i - 1];
            k.outTangent =
                ((1 - t) * (1 + c) * (1 + b) * (k.value - prev.value) + (1 - t) * (1 - c) * (1 - b) * d) *
                timing(dt, next.time - prev.time);
        }

        if (i == n - 2) {
            next.inTangent = (1 - t) * (1 - c) * (1 + b) * d;
        } else {
            const TrackKey& after = keys_[i + 2];
            next.inTangent =
                ((1 - t) * (1 - c) * (1 + b) * d + (1 - t) * (1 + c) * (1 - b) * (after.value - next.value)) *
                timing(dt, after.time - k.time);
        }
    }
}

unsigned Track::findSegment(float t) const {
    size_t n = keys_.size();
    for (size_t i = 0; i < n; ++i) {
        size_t j = i + 1 == n ? 0 : i + 1;
        if (t >= keys_[i].time && t < keys_[j].time) return static_cast<unsigned>(i);
    }
    return 0;
}

float Track::evaluate(float t) const {
    size_t n = keys_.size();
    if (n == 0) return 0.0f;
    if (n == 1) return keys_[0].value;

    size_t i = findSegment(t);
    // Only keys out of order can match the wrap-around pair (last, first).
    if (i + 1 >= n) return keys_[n - 1].value;
    const TrackKey& a = keys_[i];
    const TrackKey& b = keys_[i + 1];
    if (t < a.time) return a.value;
    if (t > b.time) return keys_[n - 1].value;
    float span = b.time - a.time;
    if (!(span > 0.0f)) return b.value;  // zero-length segment: t sits on both keys

    float s = (t - a.time) / span;
    float s2 = s * s, s3 = s2 * s;
    float h = 3 * s2 - 2 * s3;
    return (1 - h) * a.value + h * b.value + (s3 - 2 * s2 + s) * a.outTangent + (s3 - s2) * b.inTangent;
}
