// Timeline file reader on arbitrary text. Whatever it accepts holds the format's promises (cuts and pulse
// keys strictly ascending, times finite and not negative, pulse values 0 to 1, a positive fade), and what
// it reads the writer writes back to exactly the same timeline.
//
// Cap, for throughput: texts of at most kMaxInput bytes (the options file gives libFuzzer the same -max_len).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "production/timeline.h"
#include "resources/diagnostics.h"

namespace {

constexpr size_t kMaxInput = 4096;

bool time(float t) {
    return std::isfinite(t) && t >= 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    DiagnosticList found;
    const Timeline t = checkTimeline(text, "fuzz.txt", found);
    for (size_t i = 0; i < t.cuts.size(); ++i)
        if (!time(t.cuts[i]) || (i > 0 && !(t.cuts[i] > t.cuts[i - 1]))) __builtin_trap();
    if (t.pulse.empty()) __builtin_trap();
    for (size_t i = 0; i < t.pulse.size(); ++i)
        if (!time(t.pulse[i].time) || !(t.pulse[i].value >= 0 && t.pulse[i].value <= 1) ||
            (i > 0 && !(t.pulse[i].time > t.pulse[i - 1].time)))
            __builtin_trap();
    if (!time(t.flashesFrom) || !time(t.fadeStart) || !(t.fadeLength > 0) || !std::isfinite(t.fadeLength) ||
        !(t.blackout >= 0) || !std::isfinite(t.blackout))
        __builtin_trap();
    if (parseTimeline(writeTimeline(t), "fuzz.txt") != t) __builtin_trap();
    return 0;
}
