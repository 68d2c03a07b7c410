#pragma once
// The production's fixed timings: when the picture cuts between the camera's orbits (which also brings the
// blackouts), how the pulsing material breathes, when the clip starts to flash in, how fast the black around
// a cut clears, and the final fade. The built-in timeline is the production's own; a data set may bring its
// own as the text file timeline.txt (docs/formats.md describes it).
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class Diagnostics;

// One key of the pulse: the material's diffuse alpha at a time.
struct PulseKey {
    float time;   // seconds
    float value;  // 0 to 1
    bool operator==(const PulseKey& o) const { return time == o.time && value == o.value; }
};

struct Timeline {
    std::vector<float> cuts;      // strictly ascending, in seconds; the camera cuts when t passes each
    std::vector<PulseKey> pulse;  // strictly ascending times, at least one key; a smooth track through them
    float flashesFrom = 0;        // from this time on the clip flashes in at every whole second
    float blackout = 0;           // per second: black = 1 - blackout x seconds to the nearer cut; 0: none
    float fadeStart = 0;          // the final fade to black starts after this time...
    float fadeLength = 0;         // ...and covers the picture this many seconds later (positive)

    // The cuts passed at time t: those strictly before it (a cut at exactly t is not yet passed).
    size_t cutsBefore(float t) const;

    bool operator==(const Timeline& o) const {
        return cuts == o.cuts && pulse == o.pulse && flashesFrom == o.flashesFrom && blackout == o.blackout &&
               fadeStart == o.fadeStart && fadeLength == o.fadeLength;
    }
    bool operator!=(const Timeline& o) const { return !(*this == o); }
};

// The data set's optional timeline file.
extern const char kTimelineFile[];  // "timeline.txt"

// The production's own timeline.
const Timeline& builtInTimeline();

// Reads a timeline file's text; settings it leaves out keep the built-in values. Throws the first problem
// as "NAME:LINE: reason".
Timeline parseTimeline(const std::string& text, const std::string& name);
// Reports every problem of a timeline file's text to `out` as errors with their lines; the timeline the
// good lines give (the built-in values elsewhere).
Timeline checkTimeline(const std::string& text, const std::string& name, Diagnostics& out);

// The named file through the data lookup (archive first, then data/), parsed; none when the data set does
// not hold it. Throws the lookup's reason, or the parser's "NAME:LINE: reason".
std::optional<Timeline> readTimelineFile(const std::string& name);
// As readTimelineFile, and a missing file throws "NAME: file not found".
Timeline loadTimelineFile(const std::string& name);

// The timeline as a file that parses back to exactly the same values, with a comment on each setting.
std::string writeTimeline(const Timeline& timeline);
