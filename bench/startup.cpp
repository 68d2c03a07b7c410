// Time from process start to the first presented frame of the production.
//
//   bench_startup [RUNS] [DIR] [PERIOD_MS] [FRAMES]
//
// Each run starts this program afresh (fork and exec) in DIR, which holds the data set (default: the
// repository's assets/, with the packed archive). The child runs the real entry and production live (set
// SDL_AUDIODRIVER=dummy where there is no sound device) and reports, in milliseconds since the parent started
// it: entering main, the display open (loading phase begins), the loading picture read and drawn, then
// presented, the music's loading (reading and decoding) begun and ended, the loading phase done (the music
// starts), the first frame drawn and presented. It also reports the CPU time the process had used by then
// (all threads), which varies less than the wall-clock time on a machine shared with other work. The parent
// prints every run, the median of each stage and of each step (the time since the stage before; the video
// loads between the loading picture and the music), and the load average around the runs. Then, in its own
// process, it plays FRAMES frames (default 100) live at one frame every PERIOD_MS milliseconds (default
// 100) against a perfect stand-in for the sound, and prints how far each frame's time is from the sound
// heard when it is presented: with the position read alone and with the learned presentation delay.
// Figures only.
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
#include "resources/device.h"

namespace {

const char* const kStartEnv = "QV_BENCH_STARTUP_T0";
const char* const kResultEnv = "QV_BENCH_STARTUP_FD";
constexpr int kStages = 9;
const char* const kStageNames[kStages] = {
    "main",        "display open", "loading picture drawn", "loading picture shown", "music began",
    "music ended", "loaded",       "first frame drawn",     "first frame shown"};

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
double g_cpu[kStages] = {};

void stamp(int stage) {
    g_stage[stage] = double(nowNs() - g_t0) / 1e6;
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    g_cpu[stage] = double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// The live stage, stamped around presenting the loading picture and around loading the music (which the
// loading phase does right after the video).
class TimedStage : public LiveStage {
public:
    void present() override {
        stamp(2);
        LiveStage::present();
        stamp(3);
    }
    std::unique_ptr<Soundtrack> openSoundtrack(HWND window, const std::string& name) override {
        stamp(4);
        auto soundtrack = LiveStage::openSoundtrack(window, name);
        stamp(5);
        return soundtrack;
    }
};

// The production as the entry plays it, stamped at the start of the music and around the first frame.
class TimedShow : public Show {
public:
    explicit TimedShow(const Stagehand& stage) : show_(stage, std::make_unique<TimedStage>()) {}
    void start() override {
        stamp(6);
        show_.start();
    }
    double time() override {
        // Asked for the second frame's time: the first frame has been presented.
        if (frames_ == 1) {
            stamp(8);
            ended_ = true;
        }
        return ended_ ? 1e9 : show_.time();  // past the end: the run stops after this frame
    }
    void frame(float t) override {
        ++frames_;
        show_.frame(t);
        if (frames_ == 1) stamp(7);
    }

private:
    ProductionShow show_;
    int frames_ = 0;
    bool ended_ = false;
};

// ---- Frame time against the sound heard when the frame is presented ----

// The production played by the live entry with a perfect stand-in for the sound: the position heard is
// the time since the music started on the steady clock. Frames are paced to a steady rate (one every
// `period` seconds, as a display's retrace would), and each frame's time is compared with the position
// heard when Present has returned (the next time the entry reads the clock, right after draining the
// messages).
struct HeardFigures {
    size_t frames = 0;
    double sumOffset = 0, sumAbsOffset = 0, worstLead = 0;  // frame time minus heard, in seconds
};

class HeardShow : public Show {
public:
    HeardShow(const Stagehand& stage, HeardFigures& figures, double period, size_t frames)
        : show_(stage, makeStage()), figures_(figures), period_(period), frames_(frames) {}
    void start() override {
        show_.start();
        t0_ = steadySeconds();
    }
    double time() override {
        const double heard = steadySeconds() - t0_;
        if (drawn_ > 1) {  // the first frame is the start, shown at 0 whatever the delay
            const double offset = lastTime_ - heard;
            figures_.sumOffset += offset;
            figures_.sumAbsOffset += std::fabs(offset);
            figures_.worstLead = std::max(figures_.worstLead, offset);
            ++figures_.frames;
        }
        return heard;
    }
    void frame(float t) override {
        stage_->soundtrack()->setTime(t);  // the spectrum of the frame's time, as the live stream gives
        show_.frame(t);
        lastTime_ = t;
        if (++drawn_ > frames_) PostQuitMessage(0);  // the run ends after this frame
        // The next retrace: a steady rate while the frames take less than the period.
        const double next = t0_ + period_ * std::ceil((steadySeconds() - t0_) / period_ + 1e-9);
        const double wait = next - steadySeconds();
        if (wait > 0) usleep(useconds_t(wait * 1e6));
    }

private:
    std::unique_ptr<Stage> makeStage() {
        auto stage = std::make_unique<RenderStage>();
        stage_ = stage.get();
        return stage;
    }
    RenderStage* stage_ = nullptr;
    ProductionShow show_;
    HeardFigures& figures_;
    double period_;
    size_t frames_;
    double t0_ = 0, lastTime_ = 0;
    size_t drawn_ = 0;
};

void heardAtPresentation(const std::string& dir, double period, size_t frames) {
    if (chdir(dir.c_str()) != 0) return;
    std::printf(
        "\nframe time against the sound heard when it is presented (%zu frames, one every %.0f ms, "
        "the production drawn windowed):\n",
        frames, period * 1000);
    for (const bool predicted : {false, true}) {
        HeardFigures figures;
        EntryOptions options;
        options.fullScreen = false;
        if (!predicted) options.monotonicSeconds = [] { return 0.0; };  // no delay measured: none predicted
        const int code = qv_main(
            [&](const Stagehand& stage) {
                return std::make_unique<HeardShow>(stage, figures, period, frames);
            },
            options);
        const double n = figures.frames ? double(figures.frames) : 1.0;
        std::printf(
            "  %-30s mean offset %+7.1f ms   mean |offset| %6.1f ms   frame ahead by at most %6.1f ms%s\n",
            predicted ? "with the predicted delay" : "position read (no prediction)",
            1000 * figures.sumOffset / n, 1000 * figures.sumAbsOffset / n, 1000 * figures.worstLead,
            code == 0 ? "" : "   (the run failed)");
    }
}

int child(int64_t t0, int fd) {
    g_t0 = t0;
    stamp(0);
    int code = qv_main([](const Stagehand& stage) {
        stamp(1);
        return std::make_unique<TimedShow>(stage);
    });
    std::string line = std::to_string(code);
    for (int i = 0; i < kStages; ++i) {
        char item[64];
        std::snprintf(item, sizeof item, " %.3f %.3f", g_stage[i], g_cpu[i]);
        line += item;
    }
    line += "\n";
    if (write(fd, line.data(), line.size()) != ssize_t(line.size())) return 2;
    return code;
}

// ---- Parent ----

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

std::string loadAverage() {
    char text[128] = {};
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (!std::fgets(text, sizeof text, f)) text[0] = 0;
        std::fclose(f);
    }
    std::string s = text;
    size_t cut = 0;
    for (int fields = 0; fields < 3 && cut != std::string::npos; ++fields) cut = s.find(' ', cut + 1);
    return cut == std::string::npos ? s : s.substr(0, cut);
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* t0 = std::getenv(kStartEnv))
        return child(std::atoll(t0), std::atoi(std::getenv(kResultEnv)));

    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string dir = argc > 2 ? argv[2] : std::string(QV_SOURCE_DIR) + "/assets";
    const double heardPeriod = argc > 3 ? std::max(1, std::atoi(argv[3])) / 1000.0 : 0.1;
    const size_t heardFrames = argc > 4 ? size_t(std::max(2, std::atoi(argv[4]))) : 100;
    if (!exists(dir + "/gorvel.yo") && !exists(dir + "/data/plinthar.scene")) {
        std::fprintf(stderr, "no data set in %s (gorvel.yo or data/)\n", dir.c_str());
        return 1;
    }
    std::printf("data: %s\nload average before: %s (on %ld processors)\n", dir.c_str(), loadAverage().c_str(),
                sysconf(_SC_NPROCESSORS_ONLN));
    char exe[4096];
    ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (len <= 0) return 1;
    exe[len] = 0;

    std::vector<double> stages[kStages], cpu[kStages], steps[kStages], stepCpu[kStages];
    std::printf("%-4s", "run");
    for (int i = 0; i < kStages; ++i) std::printf(" %9.9s", kStageNames[i]);
    std::printf("   (ms since the process was started; CPU ms below)\n");
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
        double s[kStages] = {}, c[kStages] = {};
        const char* at = out.c_str();
        char* end = nullptr;
        int code = int(std::strtol(at, &end, 10));
        bool ok = end != at;
        for (int i = 0; ok && i < kStages; ++i) {
            at = end;
            s[i] = std::strtod(at, &end);
            ok = end != at;
            at = end;
            c[i] = std::strtod(at, &end);
            ok = ok && end != at;
        }
        if (!ok || code != 0) {
            std::printf("%-4d run failed (exit status %d)\n", run,
                        WIFEXITED(status) ? WEXITSTATUS(status) : -1);
            continue;
        }
        std::printf("%-4d", run);
        for (int i = 0; i < kStages; ++i) std::printf(" %9.1f", s[i]);
        std::printf("\n%-4s", "");
        for (int i = 0; i < kStages; ++i) std::printf(" %9.1f", c[i]);
        std::printf("\n");
        for (int i = 0; i < kStages; ++i) {
            stages[i].push_back(s[i]);
            cpu[i].push_back(c[i]);
            steps[i].push_back(i ? s[i] - s[i - 1] : s[i]);
            stepCpu[i].push_back(i ? c[i] - c[i - 1] : c[i]);
        }
    }
    std::printf("load average after: %s\n", loadAverage().c_str());
    if (stages[0].empty()) return 1;
    std::printf("\nmedians over %zu runs (ms)\n%-22s %9s %9s %9s %9s\n", stages[0].size(), "stage", "at",
                "step", "CPU at", "step CPU");
    for (int i = 0; i < kStages; ++i)
        std::printf("%-22s %9.1f %9.1f %9.1f %9.1f\n", kStageNames[i], median(stages[i]), median(steps[i]),
                    median(cpu[i]), median(stepCpu[i]));
    heardAtPresentation(dir, heardPeriod, heardFrames);
    return 0;
}
