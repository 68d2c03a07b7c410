// The production rendered as the capture renders it, timed: start-up to the loading picture and to the first
// frame, frames per second of the frame sequence at 640 by 480 and at twice that size (rendering only: no
// picture files), with and without reading each frame back, and peak memory.
//
//   bench_production [FPS] [DIR] [FRAMES] [PASS_RUNS]
//
// DIR holds the data set (default: the repository's assets/). The time line runs from 0 to past 32 s at FPS
// frames a second (default 60), as a capture at that rate would, or for its first FRAMES frames; each pass
// of the per-pass table runs PASS_RUNS times (default 50). Figures only.
#include "production/production.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/entry.h"
#include "app/frame_loop.h"
#include "app/frame_setup.h"
#include "platform/d3d9/readback.h"

namespace {

using Clock = std::chrono::steady_clock;
int passRuns = 50;

double ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// CPU time of the whole process (all threads: the renderer's own and the rasterizer's), in milliseconds.
// Less disturbed than wall-clock time when other programs share the cores.
double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

void passTable(Production& production);

// The capture's stage without files: the decoded music as the clock; the loading picture's presentation
// is stamped.
class BenchStage : public RenderStage {
public:
    void present() override {
        RenderStage::present();
        loadingShown = Clock::now();
    }
    Clock::time_point loadingShown;
};

struct Pass {
    double seconds = 0;
    size_t frames = 0;
    std::vector<double> frameMs;
    double submitMs = 0, finishMs = 0, readMs = 0, cpuMs = 0;  // sums over the frames
    uint64_t pictureHash = 1469598103934665603ull;
};

void report(const char* name, const Pass& p) {
    std::vector<double> sorted = p.frameMs;
    std::sort(sorted.begin(), sorted.end());
    double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
    double p95 = sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, sorted.size() * 95 / 100)];
    double worst = sorted.empty() ? 0 : sorted.back();
    std::printf("%-28s %6zu frames %8.2f s %8.1f frames/s   median %6.2f ms  95%% %6.2f ms  worst %7.2f ms\n",
                name, p.frames, p.seconds, p.seconds > 0 ? double(p.frames) / p.seconds : 0.0, median, p95,
                worst);
    const double n = p.frames ? double(p.frames) : 1.0;
    std::printf(
        "  where a frame's time goes: GL submission %.2f ms, rasterisation after it %.2f ms, read-back "
        "%.2f ms; CPU time of all threads %.2f ms (%.1f frames/s of CPU time on 2 cores)\n",
        p.submitMs / n, p.finishMs / n, p.readMs / n, p.cpuMs / n, p.cpuMs > 0 ? 2000.0 * n / p.cpuMs : 0.0);
}

// The capture's clock, with each frame timed from asking its time to the end of its presentation, and the
// run cut short after `limit` frames.
class TimedClock : public FrameClock {
public:
    TimedClock(RenderClock& clock, Pass& pass, size_t limit) : clock_(clock), pass_(pass), limit_(limit) {}
    double frameTime(size_t frame) override {
        c0 = cpuMs();
        f0 = Clock::now();
        return clock_.frameTime(frame);
    }
    bool last(size_t frame, float t) const override { return clock_.last(frame, t) || frame + 1 >= limit_; }
    void presented() override {
        d3d9_finish(g_device);
        const Clock::time_point f1 = Clock::now();
        if (pass_.frames == 0) firstFrame = f1;
        pass_.frameMs.push_back(ms(f0, f1));
        pass_.finishMs += ms(read, f1);
        pass_.cpuMs += cpuMs() - c0;
        ++pass_.frames;
    }

    double c0 = 0;
    Clock::time_point f0, read, firstFrame;

private:
    RenderClock& clock_;
    Pass& pass_;
    size_t limit_;
};

// Where a frame's time goes before it is presented: submission, rasterisation and, when asked, reading
// the picture back as the capture does.
class TimedSink : public PictureSink {
public:
    TimedSink(TimedClock& clock, Pass& pass, bool readBack)
        : clock_(clock), pass_(pass), readBack_(readBack) {
        g_device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back_);
        D3DSURFACE_DESC desc{};
        if (back_) back_->GetDesc(&desc);
        width_ = desc.Width;
        pixels_.resize(size_t(desc.Width) * desc.Height);
    }
    ~TimedSink() override {
        if (back_) back_->Release();
    }
    void take(size_t, float) override {
        const Clock::time_point submitted = Clock::now();
        d3d9_finish(g_device);
        const Clock::time_point finished = Clock::now();
        if (readBack_ && back_) {
            d3d9_read_surface(back_, pixels_.data(), width_ * 4);
            for (uint32_t p : pixels_)  // the colour channels, as the capture keeps them
                for (int shift = 16; shift >= 0; shift -= 8)
                    pass_.pictureHash = (pass_.pictureHash ^ ((p >> shift) & 0xFF)) * 1099511628211ull;
        }
        clock_.read = Clock::now();
        pass_.submitMs += ms(clock_.f0, submitted);
        pass_.finishMs += ms(submitted, finished);
        pass_.readMs += ms(finished, clock_.read);
    }

private:
    TimedClock& clock_;
    Pass& pass_;
    bool readBack_;
    IDirect3DSurface9* back_ = nullptr;
    UINT width_ = 0;
    std::vector<uint32_t> pixels_;
};

// Frames per second of the two passes over the time line at each size, for the closing comparison.
struct SizeFigures {
    int scale = 1;
    double renderingOnly = 0, withReadBack = 0;
};

SizeFigures run(int fps, size_t limit, int scale) {
    std::printf("--- at %d x %d (scale %d)\n", 640 * scale, 480 * scale, scale);
    SizeFigures figures;
    figures.scale = scale;
    const Clock::time_point begin = Clock::now();
    FrameSetup setup(kProductionMusic, false, Direct3DCreate9, D3DPRESENT_INTERVAL_IMMEDIATE, 640 * scale,
                     480 * scale);
    const Clock::time_point displayOpen = Clock::now();

    auto benchStage = std::make_unique<BenchStage>();
    BenchStage& stage = *benchStage;
    ProductionShow show(Stagehand{setup.display, setup.scenes, setup.textures}, std::move(benchStage));
    const Clock::time_point loaded = Clock::now();
    RenderClock timeLine(*stage.soundtrack(), fps, {});

    d3d9_stats before{};
    d3d9_get_stats(g_device, &before);

    // Pass 1 also times the first frame; pass 2 reads every frame back as the capture does. The beat index
    // only moves forward, so the second pass repeats the time line with the last orbit's parity rules
    // already advanced: the drawing work per frame is the same. Both run the program's own frame loop.
    for (int pass = 0; pass < 2; ++pass) {
        Pass result;
        TimedClock clock(timeLine, result, limit);
        TimedSink sink(clock, result, pass == 1);
        const Clock::time_point start = Clock::now();
        runFrames(show, clock, sink, LoopKeys{});
        result.seconds = ms(start, Clock::now()) / 1000.0;
        if (pass == 0) {
            std::printf(
                "start-up (from main)          display open %7.1f ms   loading picture %7.1f ms   "
                "loaded %7.1f ms   first frame %7.1f ms\n",
                ms(begin, displayOpen), ms(begin, stage.loadingShown), ms(begin, loaded),
                ms(begin, clock.firstFrame));
            report("frames, rendering only", result);
            figures.renderingOnly = result.seconds > 0 ? double(result.frames) / result.seconds : 0;
            d3d9_stats after{};
            d3d9_get_stats(g_device, &after);
            std::printf(
                "per frame: %.1f draws, %.1f program switches, %.1f uniform groups sent, %.1f levels "
                "regenerated; %llu programs built in all\n",
                double(after.draws - before.draws) / double(result.frames),
                double(after.programBinds - before.programBinds) / double(result.frames),
                double(after.uniformUploads - before.uniformUploads) / double(result.frames),
                double(after.mipRegenerations - before.mipRegenerations) / double(result.frames),
                after.programsBuilt);
        } else {
            report("frames, with read-back", result);
            figures.withReadBack = result.seconds > 0 ? double(result.frames) / result.seconds : 0;
            std::printf("  hash of the pictures read back: %016llx\n",
                        (unsigned long long)result.pictureHash);
        }
    }

    // The frame's passes one by one, on the production's own objects (its scene, with camera and light as
    // the last frame left them; the grids' bulges at their smallest; flash and blackout at fixed opacities).
    // Each pass is repeated; every repetition is timed in three parts: submission (the GL calls returning;
    // includes the rasterisation the driver must finish inside a pass, e.g. before a target is sampled), the
    // rest of the rasterisation (the wait in glFinish), and the CPU time of all threads.
    passTable(show.production());
    return figures;
}

struct PassTime {
    double submitMs = 0, finishMs = 0, cpuMs = 0, draws = 0, switches = 0, regenerations = 0;
};

PassTime timePass(const std::function<void()>& pass, int runs) {
    d3d9_stats s0{}, s1{};
    g_device->BeginScene();
    pass();  // warm-up: programs built, textures made resident
    g_device->EndScene();
    d3d9_finish(g_device);
    d3d9_get_stats(g_device, &s0);
    PassTime t;
    for (int i = 0; i < runs; ++i) {
        const double c0 = cpuMs();
        const Clock::time_point t0 = Clock::now();
        g_device->BeginScene();
        pass();
        g_device->EndScene();
        const Clock::time_point t1 = Clock::now();
        d3d9_finish(g_device);
        const Clock::time_point t2 = Clock::now();
        t.submitMs += ms(t0, t1);
        t.finishMs += ms(t1, t2);
        t.cpuMs += cpuMs() - c0;
    }
    d3d9_get_stats(g_device, &s1);
    t.submitMs /= runs, t.finishMs /= runs, t.cpuMs /= runs;
    t.draws = double(s1.draws - s0.draws) / runs;
    t.switches = double(s1.programBinds - s0.programBinds) / runs;
    t.regenerations = double(s1.mipRegenerations - s0.mipRegenerations) / runs;
    return t;
}

void passTable(Production& production) {
    std::printf("per pass (ms per run, mean of %d runs, GL work finished after each run):\n", passRuns);
    std::printf("  %-40s %8s %8s %8s %8s %6s %8s %6s\n", "pass", "total", "submit", "raster", "cpu", "draws",
                "switches", "mipgen");
    const float r1 = 0.3f, a1 = 0.9f, r2 = 0.2f, a2 = 0.9f;  // the bulges' lower bounds
    std::vector<std::pair<const char*, std::function<void()>>> passes = {
        {"scene into the 256 x 128 target", [&] { production.drawSceneIntoTarget(); }},
        {"six blur passes", [&] { production.blurChain(); }},
        // The grids' draws regenerate the lower levels of both targets as far as they sample them (see
        // "levels regenerated" per frame above); this is the cost of regenerating all of them.
        {"all lower levels of both targets", [&] { production.regenerateTargetLevels(); }},
        {"scene, full screen", [&] { production.drawScene(); }},
        {"grid 1: blurred scene, bulge", [&] { production.addGlow(r1, a1); }},
        {"grid 2: scene, bulge and twirl", [&] { production.addWarpedScene(r2, a2); }},
        {"flash quad (video)", [&] { production.flash(0.6f); }},
        {"blackout quad", [&] { production.black(0.5f); }},
        {"fade quad", [&] { production.black(0.25f); }},
        {"present (the back buffer to the window)",
         [&] {
             g_device->EndScene();  // a frame presents after its scene
             g_device->Present(nullptr, nullptr, nullptr, nullptr);
             g_device->BeginScene();
         }},
        {"clear only", [&] { g_device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0); }},
    };
    PassTime sum;
    for (auto& [name, pass] : passes) {
        const PassTime t = timePass(pass, passRuns);
        std::printf("  %-40s %8.2f %8.2f %8.2f %8.2f %6.1f %8.1f %6.1f\n", name, t.submitMs + t.finishMs,
                    t.submitMs, t.finishMs, t.cpuMs, t.draws, t.switches, t.regenerations);
        if (std::string(name) != "clear only") {
            sum.submitMs += t.submitMs, sum.finishMs += t.finishMs, sum.cpuMs += t.cpuMs;
            sum.draws += t.draws, sum.switches += t.switches, sum.regenerations += t.regenerations;
        }
    }
    std::printf("  %-40s %8.2f %8.2f %8.2f %8.2f %6.1f %8.1f %6.1f\n", "sum of the passes above the clear",
                sum.submitMs + sum.finishMs, sum.submitMs, sum.finishMs, sum.cpuMs, sum.draws, sum.switches,
                sum.regenerations);
}

}  // namespace

int main(int argc, char** argv) {
    int fps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    std::string dir = argc > 2 ? argv[2] : std::string(QV_SOURCE_DIR) + "/assets";
    if (chdir(dir.c_str()) != 0) {
        std::fprintf(stderr, "cannot enter %s\n", dir.c_str());
        return 1;
    }
    std::printf("data: %s   time line at %d frames/s, 640 x 480 and 1280 x 960, %s\n", dir.c_str(), fps,
                std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") ? "on the display" : "headless");
    if (argc > 4) passRuns = std::max(1, std::atoi(argv[4]));
    try {
        const size_t limit = argc > 3 ? size_t(std::max(1, std::atoi(argv[3]))) : size_t(-1);
        std::vector<SizeFigures> sizes;
        for (int scale : {1, 2}) sizes.push_back(run(fps, limit, scale));
        std::printf("frames/s by size              rendering only    with read-back\n");
        for (const SizeFigures& f : sizes)
            std::printf("  %4d x %-4d (scale %d)       %8.1f          %8.1f\n", 640 * f.scale, 480 * f.scale,
                        f.scale, f.renderingOnly, f.withReadBack);
    } catch (const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory (resident)       %8.1f MB\n", double(usage.ru_maxrss) / 1024.0);
    return 0;
}
