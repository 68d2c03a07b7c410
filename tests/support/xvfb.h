#pragma once
// A private X server for tests that need a real display: Xvfb on the first free display number (told
// through -displayfd), 640 by 480, stopped by its process id when the object goes. `display` stays empty
// when Xvfb is not installed or did not start.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qvtest {

struct Xvfb {
    pid_t pid = -1;
    std::string display;
    Xvfb() {
        if (system("command -v Xvfb >/dev/null 2>&1") != 0) return;
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            if (!freopen("/dev/null", "w", stderr)) _exit(126);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char buf[32] = {};
        ssize_t n = 0, got;
        while (n < static_cast<ssize_t>(sizeof buf) - 1 &&
               (got = read(fds[0], buf + n, sizeof buf - 1 - n)) > 0) {
            n += got;
            if (std::strchr(buf, '\n')) break;
        }
        close(fds[0]);
        if (n > 0 && buf[0] >= '0' && buf[0] <= '9')
            display = ":" + std::string(buf, std::strcspn(buf, "\n"));
    }
    ~Xvfb() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status;
            waitpid(pid, &status, 0);
        }
    }
};

}  // namespace qvtest
