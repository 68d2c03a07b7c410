// Time from process start to the first presented frame of the production.
//
//   bench_startup [RUNS] [DIR]
//
// Each run starts this program afresh (fork and exec) in DIR, which holds the data set (default: the
// repository's assets/, with the packed archive). The child runs the real entry and production live (set
// SDL_AUDIODRIVER=dummy where there is no sound device) and reports, in milliseconds since the parent started
// it: entering main, the display open (loading phase begins), the loading picture presented, the loading
// phase done (music starts) and the first frame presented. The parent prints every run and the median of
// each stage. Figures only.
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
#include "production/production.h"

namespace {

const char* const kStartEnv = "QV_BENCH_STARTUP_T0";
const char* const kResultEnv = "QV_BENCH_STARTUP_FD";
constexpr int kStages = 5;
const char* const kStageNames[kStages] = {"main", "display open", "loading picture", "loaded", "first frame"};

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

// The live stage, stamped when the loading picture has been presented.
class TimedStage : public LiveStage {
public:
    void present() override {
        LiveStage::present();
        stamp(2);
    }
};

// The production as the entry plays it, stamped at the start of the music and after the first frame.
class TimedShow : public Show {
public:
    explicit TimedShow(const Stagehand& stage)
        : production_(stage.display.window, stage.scenes, stage.textures, stage_) {}
    void start() override {
        stamp(3);
        production_.start();
    }
    double time() override {
        // Asked for the second frame's time: the first frame has been presented.
        if (frames_ == 1) {
            stamp(4);
            ended_ = true;
        }
        return ended_ ? 1e9 : production_.time();  // past the end: the run stops after this frame
    }
    void frame(float t) override {
        ++frames_;
        production_.frame(t);
    }

private:
    TimedStage stage_;
    Production production_;
    int frames_ = 0;
    bool ended_ = false;
};

int child(int64_t t0, int fd) {
    g_t0 = t0;
    stamp(0);
    int code = qv_main([](const Stagehand& stage) {
        stamp(1);
        return std::make_unique<TimedShow>(stage);
    });
    char line[256];
    int n = std::snprintf(line, sizeof line, "%d %.3f %.3f %.3f %.3f %.3f\n", code, g_stage[0], g_stage[1],
                          g_stage[2], g_stage[3], g_stage[4]);
    if (write(fd, line, size_t(n)) != n) return 2;
    return code;
}

// ---- Parent ----

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* t0 = std::getenv(kStartEnv))
        return child(std::atoll(t0), std::atoi(std::getenv(kResultEnv)));

    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string dir = argc > 2 ? argv[2] : std::string(QV_SOURCE_DIR) + "/assets";
    if (!exists(dir + "/gorvel.yo") && !exists(dir + "/data/plinthar.scene")) {
        std::fprintf(stderr, "no data set in %s (gorvel.yo or data/)\n", dir.c_str());
        return 1;
    }
    std::printf("data: %s\n", dir.c_str());
    char exe[4096];
    ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (len <= 0) return 1;
    exe[len] = 0;

    std::vector<double> stages[kStages];
    std::printf("%-6s %8s %14s %17s %8s %13s   (ms since the process was started)\n", "run", kStageNames[0],
                kStageNames[1], kStageNames[2], kStageNames[3], kStageNames[4]);
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
        if (std::sscanf(out.c_str(), "%d %lf %lf %lf %lf %lf", &code, &s[0], &s[1], &s[2], &s[3], &s[4]) !=
                6 ||
            code != 0) {
            std::printf("%-5d run failed (exit status %d)\n", run,
                        WIFEXITED(status) ? WEXITSTATUS(status) : -1);
            continue;
        }
        std::printf("%-6d %8.1f %14.1f %17.1f %8.1f %13.1f\n", run, s[0], s[1], s[2], s[3], s[4]);
        for (int i = 0; i < kStages; ++i) stages[i].push_back(s[i]);
    }
    if (!stages[4].empty())
        std::printf("%-6s %8.1f %14.1f %17.1f %8.1f %13.1f\n", "median", median(stages[0]), median(stages[1]),
                    median(stages[2]), median(stages[3]), median(stages[4]));
    return 0;
}
