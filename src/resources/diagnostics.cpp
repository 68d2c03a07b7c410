#include "resources/diagnostics.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

std::string Diagnostic::text() const {
    return line > 0 ? file + ":" + std::to_string(line) + ": " + message : file + ": " + message;
}

void WarningPrinter::report(const Diagnostic& d) {
    if (d.severity != Diagnostic::Severity::warning) return;
    std::fprintf(out_, "%s\n", d.text().c_str());
    std::fflush(out_);
}

Diagnostics& loadWarnings() {
    static WarningPrinter printer(stderr);
    return printer;
}

namespace {

size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

}  // namespace

const char* nearestName(const std::string& name, const char* const* candidates) {
    const char* best = nullptr;
    size_t bestDistance = 0;
    for (const char* const* c = candidates; *c; ++c) {
        std::string lower = name;
        for (char& ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
        // A name in another letter case is the likeliest slip of all.
        const size_t d = lower == *c ? 0 : editDistance(name, *c);
        if (!best || d < bestDistance) best = *c, bestDistance = d;
    }
    if (!best) return nullptr;
    const size_t longer = std::max(name.size(), std::strlen(best));
    return bestDistance * 3 <= longer + 2 ? best : nullptr;
}

std::string listNames(const char* const* names) {
    std::string out;
    for (const char* const* n = names; *n; ++n) out += (out.empty() ? "" : ", ") + std::string(*n);
    return out;
}

bool finiteNumberText(const char* text) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text) return false;
    while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r') ++end;
    // Too large for a float is infinity too; too small is 0, which is what it means.
    return *end == 0 && std::isfinite(float(v));
}
