#pragma once
// Key-frame tracks: one scalar along a cubic Hermite spline with Kochanek-Bartels tangents
// (tension, continuity, bias per key), clamped before the first and after the last key.
#include <cstddef>
#include <vector>

struct TrackKey {
    float time;  // same unit as the evaluation time
    float value;
    float outTangent;  // computed: leaving the key, value units per segment
    float inTangent;   // computed: arriving at the key
    float tension;
    float continuity;
    float bias;
};

class Track {
public:
    void addKey(const TrackKey& key) { keys_.push_back(key); }
    // Fills the tangents from the current keys; call after the last addKey.
    void computeTangents();
    // Index of the segment (key i to key i + 1) that holds t; 0 outside the keys.
    unsigned findSegment(float t) const;
    // Value at t. A track without keys is 0.
    float evaluate(float t) const;

    const std::vector<TrackKey>& keys() const { return keys_; }

private:
    std::vector<TrackKey> keys_;
};
