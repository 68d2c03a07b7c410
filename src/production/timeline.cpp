#include "production/timeline.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "data/memfile.h"
#include "resources/diagnostics.h"

const char kTimelineFile[] = "timeline.txt";

size_t Timeline::cutsBefore(float t) const {
    return size_t(std::lower_bound(cuts.begin(), cuts.end(), t) - cuts.begin());
}

const Timeline& builtInTimeline() {
    static const Timeline timeline = [] {
        Timeline t;
        t.cuts = {0,    1,  5,   6,   10,  14,  16,  24,  25,  28,  30,  42,  46,  76,  76.5, 77,  84,  92,
                  92.5, 93, 110, 112, 128, 129, 162, 164, 178, 180, 198, 199, 208, 220, 221,  223, 224, 256};
        // Rises and falls between 0 and 1 once a second during the first six seconds, then holds 0.
        for (int second = 0; second <= 6; ++second) t.pulse.push_back({float(second), float(second % 2)});
        t.flashesFrom = 16.0f;
        t.blackout = 1.75f;
        t.fadeStart = 31.0f;
        t.fadeLength = 0.25f;
        return t;
    }();
    return timeline;
}

namespace {

const char* const kSettings[] = {"cuts", "pulse", "flashes", "blackout", "fade", nullptr};

// A token as an error message quotes it: unprintable bytes as '?', long ones cut short.
std::string quoted(const std::string& token) {
    constexpr size_t kShown = 32;
    std::string out = "'";
    for (size_t i = 0; i < token.size() && i < kShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(token[i]);
        out += c >= 0x20 && c < 0x7f ? char(c) : '?';
    }
    return out + (token.size() > kShown ? "...'" : "'");
}

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::vector<std::string> tokens(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && blank(line[i])) ++i;
        size_t start = i;
        while (i < line.size() && !blank(line[i])) ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

// One line's reading: the first problem found ends it, and nothing of the line is kept.
struct LineError {
    std::string reason;
};

// Whether the token is a decimal number as the file format writes them: an optional minus, digits with an
// optional point (at least one digit), an optional exponent. Keeps out what strtof would also take
// (hexadecimal, inf, nan, leading blanks or plus).
bool decimalText(const std::string& token) {
    size_t i = token.size() > 0 && token[0] == '-' ? 1 : 0, digits = 0;
    auto isDigit = [&](size_t at) { return at < token.size() && token[at] >= '0' && token[at] <= '9'; };
    for (; isDigit(i); ++i) ++digits;
    if (i < token.size() && token[i] == '.')
        for (++i; isDigit(i); ++i) ++digits;
    if (digits == 0) return false;
    if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
        ++i;
        if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
        if (!isDigit(i)) return false;
        while (isDigit(i)) ++i;
    }
    return i == token.size();
}

// The text with the C library's decimal point for the current locale in place of '.', and back.
std::string withPoint(std::string text, char from, char to) {
    std::replace(text.begin(), text.end(), from, to);
    return text;
}
char localePoint() {
    const char* point = std::localeconv()->decimal_point;
    return point && point[0] && !point[1] ? point[0] : '.';
}

// A decimal number, rounded once to the nearest float (as the C library reads "1.5", "2e-3").
float number(const std::string& setting, const std::string& token) {
    if (!decimalText(token)) throw LineError{setting + ": " + quoted(token) + " is not a number"};
    const std::string local = withPoint(token, '.', localePoint());
    const float value = std::strtof(local.c_str(), nullptr);  // too small: 0 or a subnormal, as it rounds
    if (!std::isfinite(value)) throw LineError{setting + ": " + quoted(token) + " is out of a float's range"};
    return value;
}

// A time in seconds: a number, not negative.
float seconds(const std::string& setting, const std::string& token) {
    const float value = number(setting, token);
    if (value < 0) throw LineError{setting + ": " + token + " s is a negative time"};
    return value;
}

void countValues(const std::string& setting, const std::vector<std::string>& words, size_t wanted,
                 const char* what) {
    const size_t found = words.size() - 1;
    if (found == wanted) return;
    throw LineError{
        setting + ": takes " + what + ", found " +
        (found == 0 ? std::string("nothing") : std::to_string(found) + (found == 1 ? " value" : " values"))};
}

// Applies one line (its words, the setting first) to the timeline.
void applyLine(const std::vector<std::string>& words, Timeline& timeline) {
    const std::string& setting = words[0];
    if (setting == "cuts") {
        std::vector<float> cuts;
        for (size_t i = 1; i < words.size(); ++i) {
            const float at = seconds(setting, words[i]);
            if (!cuts.empty() && !(at > cuts.back()))
                throw LineError{"cuts: " + words[i] + " does not come after " + words[i - 1] +
                                " (the cuts must be strictly ascending)"};
            cuts.push_back(at);
        }
        timeline.cuts = std::move(cuts);
    } else if (setting == "pulse") {
        if (words.size() < 2) throw LineError{"pulse: needs at least one key TIME:VALUE"};
        std::vector<PulseKey> keys;
        for (size_t i = 1; i < words.size(); ++i) {
            const size_t colon = words[i].find(':');
            if (colon == std::string::npos)
                throw LineError{"pulse: " + quoted(words[i]) + " is not a key TIME:VALUE"};
            const std::string time = words[i].substr(0, colon), value = words[i].substr(colon + 1);
            const PulseKey key{seconds(setting, time), number(setting, value)};
            if (!(key.value >= 0 && key.value <= 1))
                throw LineError{"pulse: the value " + value + " at " + time + " s is outside 0 to 1"};
            if (!keys.empty() && !(key.time > keys.back().time))
                throw LineError{"pulse: the key at " + time + " s does not come after the one at " +
                                words[i - 1].substr(0, words[i - 1].find(':')) +
                                " s (the keys must be strictly ascending in time)"};
            keys.push_back(key);
        }
        timeline.pulse = std::move(keys);
    } else if (setting == "flashes") {
        countValues(setting, words, 1, "one time in seconds");
        timeline.flashesFrom = seconds(setting, words[1]);
    } else if (setting == "blackout") {
        countValues(setting, words, 1, "one factor per second");
        const float factor = number(setting, words[1]);
        if (factor < 0) throw LineError{"blackout: the factor " + words[1] + " is negative (0 turns it off)"};
        timeline.blackout = factor;
    } else if (setting == "fade") {
        countValues(setting, words, 2, "a start and a length in seconds");
        const float start = seconds(setting, words[1]);
        const float length = number(setting, words[2]);
        if (!(length > 0)) throw LineError{"fade: the length " + words[2] + " s is not positive"};
        timeline.fadeStart = start;
        timeline.fadeLength = length;
    } else {
        const char* near = nearestName(setting, kSettings);
        throw LineError{"unknown setting " + quoted(setting) +
                        (near ? std::string(" (did you mean '") + near + "'?)" : std::string()) +
                        "; the settings are " + listNames(kSettings)};
    }
}

// The shortest text that reads back to the same float: positional ("76.5", "0.001") for ordinary
// magnitudes, with an exponent ("1e+20", "1.4e-45") beyond them.
std::string text(float value) {
    const char point = localePoint();
    char buffer[64];
    int digits = 1;
    for (;; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*e", digits - 1, double(value));
        if (std::strtof(buffer, nullptr) == value || digits >= 9) break;  // 9 digits always read back
    }
    const char* e = std::strchr(buffer, 'e');
    const int exponent = e ? std::atoi(e + 1) : 0;
    if (value != 0 && exponent >= -5 && exponent < 16)
        std::snprintf(buffer, sizeof buffer, "%.*f", std::max(0, digits - 1 - exponent), double(value));
    else if (value == 0)
        std::snprintf(buffer, sizeof buffer, "%s", std::signbit(value) ? "-0" : "0");
    return withPoint(buffer, point, '.');
}

}  // namespace

Timeline checkTimeline(const std::string& text, const std::string& name, Diagnostics& out) {
    Timeline timeline = builtInTimeline();
    std::map<std::string, int> seen;  // setting -> the line that gave it
    int lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        const std::vector<std::string> words = tokens(line);
        if (words.empty()) continue;
        try {
            const auto first = seen.find(words[0]);
            if (first != seen.end())
                throw LineError{words[0] + ": given again (first on line " + std::to_string(first->second) +
                                ")"};
            applyLine(words, timeline);
            seen[words[0]] = lineNumber;
        } catch (const LineError& e) {
            out.error(name, lineNumber, e.reason);
        }
    }
    return timeline;
}

Timeline parseTimeline(const std::string& text, const std::string& name) {
    DiagnosticList problems;
    Timeline timeline = checkTimeline(text, name, problems);
    if (!problems.empty()) throw problems.list().front().text();
    return timeline;
}

std::optional<Timeline> readTimelineFile(const std::string& name) {
    std::unique_ptr<MemoryFile, int (*)(MemoryFile*)> file(memfile_open(name.c_str()), memfile_close);
    if (!file) return std::nullopt;
    return parseTimeline(std::string(reinterpret_cast<const char*>(file->data), file->length), name);
}

Timeline loadTimelineFile(const std::string& name) {
    std::optional<Timeline> timeline = readTimelineFile(name);
    if (!timeline) throw name + ": file not found";
    return *timeline;
}

std::string writeTimeline(const Timeline& timeline) {
    std::string out =
        "# Quorvane timeline: the production's timings, in seconds. Each line is a setting and its values;\n"
        "# '#' starts a comment. A setting left out keeps the built-in value.\n"
        "\n"
        "# The camera cuts between its two orbits as the time passes each cut (strictly ascending).\n"
        "cuts";
    for (float cut : timeline.cuts) out += " " + text(cut);
    out +=
        "\n\n# The pulsing material's opacity: keys TIME:VALUE (0 to 1), a smooth curve through them, held\n"
        "# before the first key and after the last.\n"
        "pulse";
    for (const PulseKey& key : timeline.pulse) out += " " + text(key.time) + ":" + text(key.value);
    out += "\n\n# From this time on the clip flashes in at every whole second and fades out within it.\n";
    out += "flashes " + text(timeline.flashesFrom) + "\n";
    out +=
        "\n# Black around each cut: 1 - FACTOR x the seconds to the nearer cut, so it clears 1/FACTOR s "
        "away\n"
        "# from a cut (0: no blackouts).\n";
    out += "blackout " + text(timeline.blackout) + "\n";
    out += "\n# The final fade to black: the time it starts and how long it takes to cover the picture.\n";
    out += "fade " + text(timeline.fadeStart) + " " + text(timeline.fadeLength) + "\n";
    return out;
}
