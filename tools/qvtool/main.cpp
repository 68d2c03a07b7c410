// qvtool: command-line tool for people who make productions.
#include <cstdio>
#include <cstring>

#define QV_COMMAND(name)                      \
    int qvtool_##name(int argc, char** argv); \
    extern const char* const qvtool_##name##_summary;
#include "qvtool_commands.inc"
#undef QV_COMMAND

namespace {

struct Command {
    const char* name;
    int (*run)(int, char**);
    const char* const* summary;
};

const Command kCommands[] = {
#define QV_COMMAND(name) {#name, qvtool_##name, &qvtool_##name##_summary},
#include "qvtool_commands.inc"
#undef QV_COMMAND
    {nullptr, nullptr, nullptr},
};

int usage(FILE* out) {
    std::fprintf(out, "usage: qvtool COMMAND [ARGS...]\n\ncommands:\n");
    for (const Command* c = kCommands; c->name; ++c) std::fprintf(out, "  %-10s %s\n", c->name, *c->summary);
    return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage(stderr);
    if (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "help"))
        return usage(stdout);
    for (const Command* c = kCommands; c->name; ++c)
        if (!std::strcmp(argv[1], c->name)) return c->run(argc - 1, argv + 1);
    std::fprintf(stderr, "qvtool: unknown command '%s'\n", argv[1]);
    return usage(stderr);
}
