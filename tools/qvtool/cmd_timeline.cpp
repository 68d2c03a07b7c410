// qvtool timeline: the production's built-in timeline as a timeline.txt, the starting point for a data
// set's own timings.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "production/timeline.h"

extern const char* const qvtool_timeline_summary = "write the built-in timeline as a timeline.txt to edit";

namespace {

int usage(FILE* out) {
    std::fprintf(
        out,
        "usage: qvtool timeline [FILE] [--force]\n"
        "\n"
        "Writes the production's built-in timings (the cuts, the pulse, the flashes, the blackouts,\n"
        "the final fade) in the timeline file format to FILE, or to standard output without FILE or\n"
        "with -. Put the file in the data set as data/timeline.txt (or in the archive) and edit it;\n"
        "docs/formats.md describes the format. An existing FILE is kept unless --force is given.\n");
    return out == stdout ? 0 : 2;
}

}  // namespace

int qvtool_timeline(int argc, char** argv) {
    const char* path = nullptr;
    bool force = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) return usage(stdout);
        if (!std::strcmp(argv[i], "--force"))
            force = true;
        else if (!path && (std::strcmp(argv[i], "-") == 0 || argv[i][0] != '-'))
            path = argv[i];
        else
            return usage(stderr);
    }
    const std::string text = writeTimeline(builtInTimeline());
    if (!path || !std::strcmp(path, "-")) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    struct stat st;
    if (!force && stat(path, &st) == 0) {
        std::fprintf(stderr, "qvtool timeline: %s exists; --force replaces it\n", path);
        return 1;
    }
    FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::fprintf(stderr, "qvtool timeline: cannot write %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "qvtool timeline: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
