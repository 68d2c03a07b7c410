// Time from process start to the first presented frame of the production.
//
//   bench_startup [RUNS] [DIR]
//
// Each run starts this program afresh (fork and exec) in DIR, which must hold data/ferrowake.mp3 (default:
// the current directory when it does, otherwise a temporary directory with a 34-second stand-in made by
// lame). The child runs the real entry and production and reports, in milliseconds since the parent started
// it: entering main, the display open (loading phase begins), the loading phase done (music starts) and the
// first frame presented. The parent prints every run and the median of each stage. Figures only.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/entry.h"

namespace {

const char* const kStartEnv = "QV_BENCH_STARTUP_T0";
const char* const kResultEnv = "QV_BENCH_STARTUP_FD";
constexpr int kStages = 4;
const char* const kStageNames[kStages] = {"main", "display open", "loaded", "first frame"};

int64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// ---- Child: the real production, stamped at each stage ----

int64_t g_t0 = 0;
double g_stage[kStages] = {};

void stamp(int stage) {
    g_stage[stage] = double(nowNs() - g_t0) / 1e6;
}

class TimedShow : public Show {
public:
    explicit TimedShow(std::unique_ptr<Show> inner) : inner_(std::move(inner)) {}
    void start() override {
        stamp(2);
        inner_->start();
    }
    double time() override {
        // Asked for the second frame's time: the first frame has been presented.
        if (frames_ == 1) {
            stamp(3);
            ended_ = true;
        }
        return ended_ ? 1e9 : inner_->time();  // past the end: the run stops after this frame
    }
    void frame(float t) override {
        ++frames_;
        inner_->frame(t);
    }

private:
    std::unique_ptr<Show> inner_;
    int frames_ = 0;
    bool ended_ = false;
};

int child(int64_t t0, int fd) {
    g_t0 = t0;
    stamp(0);
    int code = qv_main([](const Stagehand& stage) {
        stamp(1);
        return std::make_unique<TimedShow>(loadProduction(stage));
    });
    char line[256];
    int n = std::snprintf(line, sizeof line, "%d %.3f %.3f %.3f %.3f\n", code, g_stage[0], g_stage[1],
                          g_stage[2], g_stage[3]);
    if (write(fd, line, size_t(n)) != n) return 2;
    return code;
}

// ---- Parent ----

bool makeStandIn(const std::string& dir) {
    if (std::system("command -v lame >/dev/null 2>&1") != 0) return false;
    std::string raw = dir + "/tone.raw";
    FILE* f = std::fopen(raw.c_str(), "wb");
    if (!f) return false;
    // 34 seconds of a chord at 44.1 kHz, 16-bit stereo: about the length and rate of the soundtrack.
    const int rate = 44100, frames = rate * 34;
    std::vector<int16_t> buffer(2 * 4096);
    for (int i = 0; i < frames;) {
        int n = std::min(4096, frames - i);
        for (int j = 0; j < n; ++j, ++i) {
            double s = 0.25 * std::sin(2 * M_PI * 220.0 * i / rate) +
                       0.2 * std::sin(2 * M_PI * 330.0 * i / rate) +
                       0.15 * std::sin(2 * M_PI * 523.0 * i / rate);
            buffer[2 * j] = buffer[2 * j + 1] = int16_t(s * 32767);
        }
        std::fwrite(buffer.data(), sizeof(int16_t), size_t(2 * n), f);
    }
    std::fclose(f);
    mkdir((dir + "/data").c_str(), 0755);
    std::string cmd = "lame --silent -r -s 44.1 --bitwidth 16 --signed --little-endian -m j -b 192 '" + raw +
                      "' '" + dir + "/data/ferrowake.mp3'";
    bool ok = std::system(cmd.c_str()) == 0;
    std::remove(raw.c_str());
    return ok;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* t0 = std::getenv(kStartEnv))
        return child(std::atoll(t0), std::atoi(std::getenv(kResultEnv)));

    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string dir = argc > 2 ? argv[2] : ".";
    std::string standIn;
    if (!exists(dir + "/data/ferrowake.mp3")) {
        char pattern[] = "/tmp/qv_startup_XXXXXX";
        if (!mkdtemp(pattern) || !makeStandIn(pattern)) {
            std::fprintf(stderr, "no data/ferrowake.mp3 in %s and no stand-in could be made (lame)\n",
                         dir.c_str());
            return 1;
        }
        dir = standIn = pattern;
        std::printf("data: 34 s stand-in soundtrack made with lame in %s\n", dir.c_str());
    } else {
        std::printf("data: %s/data\n", dir.c_str());
    }
    char exe[4096];
    ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (len <= 0) return 1;
    exe[len] = 0;

    std::vector<double> stages[kStages];
    std::printf("%-5s %12s %14s %10s %13s   (ms since the process was started)\n", "run", kStageNames[0],
                kStageNames[1], kStageNames[2], kStageNames[3]);
    for (int run = 1; run <= runs; ++run) {
        int fds[2];
        if (pipe(fds) != 0) return 1;
        int64_t t0 = nowNs();
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            if (chdir(dir.c_str()) != 0) _exit(3);
            setenv(kStartEnv, std::to_string(t0).c_str(), 1);
            setenv(kResultEnv, std::to_string(fds[1]).c_str(), 1);
            execl(exe, exe, static_cast<char*>(nullptr));
            _exit(4);
        }
        close(fds[1]);
        std::string out;
        char buf[256];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        int code = -1;
        double s[kStages] = {};
        if (std::sscanf(out.c_str(), "%d %lf %lf %lf %lf", &code, &s[0], &s[1], &s[2], &s[3]) != 5 ||
            code != 0) {
            std::printf("%-5d run failed (exit status %d)\n", run,
                        WIFEXITED(status) ? WEXITSTATUS(status) : -1);
            continue;
        }
        std::printf("%-5d %12.1f %14.1f %10.1f %13.1f\n", run, s[0], s[1], s[2], s[3]);
        for (int i = 0; i < kStages; ++i) stages[i].push_back(s[i]);
    }
    if (!stages[3].empty())
        std::printf("%-5s %12.1f %14.1f %10.1f %13.1f\n", "median", median(stages[0]), median(stages[1]),
                    median(stages[2]), median(stages[3]));
    if (!standIn.empty()) {
        std::remove((standIn + "/data/ferrowake.mp3").c_str());
        rmdir((standIn + "/data").c_str());
        rmdir(standIn.c_str());
    }
    return 0;
}
