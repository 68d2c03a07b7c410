// The production rendered as the capture renders it, timed: start-up to the loading picture and to the first
// frame, frames per second of the frame sequence at 640 by 480 (rendering only: no picture files), with
// and without reading each frame back, and peak memory.
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

#include "app/display.h"
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

void passTable(SceneCache& scenes, TextureCache& textures);

// The capture's stage without files: the decoded music as the clock.
class BenchStage : public Stage {
public:
    std::unique_ptr<Soundtrack> openSoundtrack(HWND, const std::string& name) override {
        auto s = std::make_unique<CaptureSoundtrack>(name);
        soundtrack = s.get();
        return s;
    }
    void present() override {
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        loadingShown = Clock::now();
    }
    CaptureSoundtrack* soundtrack = nullptr;
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

void run(int fps, size_t limit) {
    const Clock::time_point begin = Clock::now();
    Display display("Quorvane", 640, 480, D3DFMT_X8R8G8B8, false, Direct3DCreate9,
                    D3DPRESENT_INTERVAL_IMMEDIATE);
    DevicePublication publication(display.device);
    SceneCache scenes;
    TextureCache textures;
    setLinearSamplers();
    const Clock::time_point displayOpen = Clock::now();

    BenchStage stage;
    Production production(display.window, scenes, textures, stage);
    const Clock::time_point loaded = Clock::now();
    production.start();

    d3d9_stats before{};
    d3d9_get_stats(g_device, &before);
    std::vector<uint32_t> pixels(640 * 480);
    IDirect3DSurface9* back = nullptr;
    g_device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);

    // Pass 1 also times the first frame; pass 2 reads every frame back as the capture does. The beat index
    // only moves forward, so the second pass repeats the time line with the last orbit's parity rules
    // already advanced: the drawing work per frame is the same.
    Clock::time_point firstFrame;
    for (int pass = 0; pass < 2; ++pass) {
        Pass result;
        const Clock::time_point start = Clock::now();
        for (size_t n = 0;; ++n) {
            const double c0 = cpuMs();
            const Clock::time_point f0 = Clock::now();
            stage.soundtrack->setTime(double(n) / fps);
            float t = float(production.time());
            production.frame(t);
            const Clock::time_point submitted = Clock::now();
            d3d9_finish(g_device);
            const Clock::time_point finished = Clock::now();
            if (pass == 1) {
                d3d9_read_surface(back, pixels.data(), 640 * 4);
                for (uint32_t p : pixels)  // the colour channels, as the capture keeps them
                    for (int shift = 16; shift >= 0; shift -= 8)
                        result.pictureHash = (result.pictureHash ^ ((p >> shift) & 0xFF)) * 1099511628211ull;
            }
            const Clock::time_point read = Clock::now();
            g_device->Present(nullptr, nullptr, nullptr, nullptr);
            d3d9_finish(g_device);
            const Clock::time_point f1 = Clock::now();
            if (pass == 0 && n == 0) firstFrame = f1;
            result.frameMs.push_back(ms(f0, f1));
            result.submitMs += ms(f0, submitted);
            result.finishMs += ms(submitted, finished) + ms(read, f1);
            result.readMs += ms(finished, read);
            result.cpuMs += cpuMs() - c0;
            ++result.frames;
            if (t > 32.0f || result.frames >= limit) break;
        }
        result.seconds = ms(start, Clock::now()) / 1000.0;
        if (pass == 0) {
            std::printf(
                "start-up (from main)          display open %7.1f ms   loading picture %7.1f ms   "
                "loaded %7.1f ms   first frame %7.1f ms\n",
                ms(begin, displayOpen), ms(begin, stage.loadingShown), ms(begin, loaded),
                ms(begin, firstFrame));
            report("frames, rendering only", result);
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
            std::printf("  hash of the pictures read back: %016llx\n",
                        (unsigned long long)result.pictureHash);
        }
    }
    if (back) back->Release();

    // The frame's passes one by one, on objects like the production's (its scene, with camera and light as
    // the last frame left them; the grids' bulges at their smallest; flash and blackout at fixed opacities).
    // Each pass is repeated; every repetition is timed in three parts: submission (the GL calls returning;
    // includes the rasterisation the driver must finish inside a pass, e.g. before a target is sampled), the
    // rest of the rasterisation (the wait in glFinish), and the CPU time of all threads.
    passTable(scenes, textures);
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

void passTable(SceneCache& scenes, TextureCache& textures) {
    std::printf("per pass (ms per run, mean of %d runs, GL work finished after each run):\n", passRuns);
    std::printf("  %-40s %8s %8s %8s %8s %6s %8s %6s\n", "pass", "total", "submit", "raster", "cpu", "draws",
                "switches", "mipgen");
    Scene* scene = scenes.get("plinthar.scene");  // the production's, camera 0 included
    RenderTexture target(256, 128, D3DUSAGE_RENDERTARGET | D3DUSAGE_AUTOGENMIPMAP, D3DPOOL_DEFAULT);
    BlurPass b1(&target, 256, 256), b2(&b1, 256, 256), b3(&b2, 256, 256), b4(&b3, 256, 256),
        b5(&b4, 256, 256), b6(&b5, 256, 256);
    Grid grid(80, 60);
    ScreenQuad flash(textures.get("white.png"), 1.0f), black(textures.get("black.png"), 1.0f);
    const float r1 = 0.3f, a1 = 0.9f, r2 = 0.2f, a2 = 0.9f;  // the bulges' lower bounds
    std::vector<std::pair<const char*, std::function<void()>>> passes = {
        {"scene into the 256 x 128 target",
         [&] {
             target.binding.bind(0);
             scene->draw(0, true);
             target.binding.unbind();
         }},
        {"six blur passes",
         [&] {
             b1.apply(true, 1.0f, 1.5f);
             b2.apply(false, 1.0f, 1.0f);
             b3.apply(true, 1.5f, 1.0f);
             b4.apply(false, 1.5f, 1.0f);
             b5.apply(true, 2.0f, 1.25f);
             b6.apply(false, 2.0f, 1.4f);
         }},
        // The grids' draws regenerate the lower levels of both targets as far as they sample them (see
        // "levels regenerated" per frame above); this is the cost of regenerating all of them.
        {"all lower levels of both targets",
         [&] {
             b6.texture->GenerateMipSubLevels();
             target.texture->GenerateMipSubLevels();
         }},
        {"scene, full screen", [&] { scene->draw(0, true); }},
        {"grid 1: blurred scene, bulge",
         [&] {
             grid.reset(0, 0);
             grid.bulge(0, 0, r1, a1);
             grid.upload();
             grid.draw(&b6, D3DBLEND_ONE, D3DBLEND_ONE, 1.0f);
         }},
        {"grid 2: scene, bulge and twirl",
         [&] {
             grid.reset(0, 0);
             grid.bulge(0, 0, r2, a2);
             grid.twirl(0, 0, 1.0f, 0);
             grid.upload();
             grid.draw(&target, D3DBLEND_ONE, D3DBLEND_ONE, 1.0f);
         }},
        {"flash quad (video)", [&] { flash.draw(D3DBLEND_SRCALPHA, D3DBLEND_ONE, 0.6f, 0); }},
        {"blackout quad", [&] { black.draw(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0.5f, 0); }},
        {"fade quad", [&] { black.draw(D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 0.25f, 0); }},
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
    std::printf("data: %s   time line at %d frames/s, 640 x 480, %s\n", dir.c_str(), fps,
                std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") ? "on the display" : "headless");
    if (argc > 4) passRuns = std::max(1, std::atoi(argv[4]));
    try {
        run(fps, argc > 3 ? size_t(std::max(1, std::atoi(argv[3]))) : size_t(-1));
    } catch (const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory (resident)       %8.1f MB\n", double(usage.ru_maxrss) / 1024.0);
    return 0;
}
