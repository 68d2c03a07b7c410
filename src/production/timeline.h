#pragma once
// The production's fixed timings: when the picture cuts between the camera's orbits (the beat times, which
// also bring the blackouts). The built-in timeline is the production's own.
#include <vector>

struct Timeline {
    std::vector<float> cuts;  // ascending, in seconds
};

// The production's own timeline.
const Timeline& builtInTimeline();
