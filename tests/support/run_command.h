#pragma once
// Runs a shell command line for a test: the exit code (-1 when it could not run or was killed), and
// optionally everything it wrote to stdout and stderr; otherwise its output is discarded.
#include <stdio.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

namespace qvtest {

inline int runCommand(const std::string& command, std::string* output = nullptr) {
    int status;
    if (output) {
        output->clear();
        FILE* p = popen((command + " 2>&1").c_str(), "r");
        if (!p) return -1;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) output->append(buf, n);
        status = pclose(p);
    } else {
        status = std::system(("(" + command + ") >/dev/null 2>&1").c_str());
    }
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whether a program is on the PATH.
inline bool haveCommand(const std::string& name) {
    return runCommand("command -v " + name) == 0;
}

}  // namespace qvtest
