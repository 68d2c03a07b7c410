// The studio's write-to-screen time for every file of the default data set that the show reloads, by kind.
//
//   bench_reload [ROUNDS] [DATA]
//
// Copies DATA (default: the repository's assets/data) to a scratch folder, loads the production from it live
// on a 640 by 480 window (SDL_AUDIODRIVER=dummy where there is no sound device), and plays frames as the
// studio does: before each frame the watcher is polled and the changed files reloaded. For each file the
// show uses, ROUNDS times (default 3), the file is written again (the same bytes, in place) and the time is
// taken from the write until Present returns for the first frame drawn after its reload; the reload itself
// (the load and the swap) is timed apart. Prints each kind's median and worst over its files and rounds, the
// worst file, and the frame time and load average meanwhile. Figures only.
#include "studio/reload.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/frame_setup.h"
#include "platform/files/file_watcher.h"
#include "production/production.h"

namespace {

double now() {
    return platform::fileWatcherNow();
}

std::string readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

double loadAverage() {
    double l = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &l) != 1) l = -1;
        std::fclose(f);
    }
    return l;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Sample {
    std::string file;
    double screenMs;  // write to the first frame presented with it
    double loadMs;    // the reload call alone
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string source = argc > 2 ? argv[2] : std::string(QV_SOURCE_DIR) + "/assets/data";
    if (!std::getenv("SDL_AUDIODRIVER") && !std::getenv("PULSE_SERVER"))
        setenv("SDL_AUDIODRIVER", "dummy", 0);

    char tmpl[] = "/tmp/qv-bench-reload-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const std::filesystem::path work = tmpl;
    std::error_code ec;
    std::filesystem::copy(source, work / "data", std::filesystem::copy_options::recursive, ec);
    if (ec || chdir(tmpl) != 0) {
        std::fprintf(stderr, "cannot copy %s: %s\n", source.c_str(), ec.message().c_str());
        return 1;
    }

    std::vector<Sample> samples;
    std::map<std::string, const char*> kindOf;
    std::vector<double> frames;
    const double loadBefore = loadAverage();
    try {
        FrameSetup setup(kProductionMusic, false, Direct3DCreate9, D3DPRESENT_INTERVAL_IMMEDIATE);
        LiveStage stage;
        Production production(setup.display.window, setup.scenes, setup.textures, stage);
        production.start();
        const ReloadTargets targets{setup.scenes, setup.textures, production};
        platform::FileWatcher watcher((work / "data").string());
        if (!watcher.watching()) {
            std::fprintf(stderr, "%s\n", watcher.problem().c_str());
            return 1;
        }
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(work / "data"))
            files.push_back(entry.path().filename());
        std::sort(files.begin(), files.end());

        double t = 1.0;
        for (int round = 0; round < rounds; ++round)
            for (const std::string& file : files) {
                const std::string bytes = readAll(work / "data" / file);
                const double written = now();
                std::ofstream(work / "data" / file, std::ios::binary)
                    .write(bytes.data(), std::streamsize(bytes.size()));
                // Frames as the studio plays them until the file has been reloaded and a frame shows it.
                bool reloaded = false, used = false;
                double loadMs = 0;
                while (!reloaded && now() - written < 5.0) {
                    for (const auto& change : watcher.poll()) {
                        const double before = now();
                        const ReloadOutcome outcome = reloadFile(targets, change.name);
                        if (change.name != file) continue;
                        loadMs = (now() - before) * 1000.0;
                        reloaded = true;
                        used = outcome.kind != nullptr;
                        if (used) kindOf[file] = outcome.kind;
                        if (!outcome.error.empty()) std::fprintf(stderr, "%s\n", outcome.error.c_str());
                    }
                    const double frameStart = now();
                    production.frame(float(t));
                    presentFrame();
                    frames.push_back(now() - frameStart);
                    t = t >= 30.0 ? 1.0 : t + 1.0 / 60.0;
                }
                if (reloaded && used) samples.push_back({file, (now() - written) * 1000.0, loadMs});
            }
    } catch (const std::string& text) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return 1;
    }
    std::filesystem::remove_all(work, ec);

    std::printf("write-to-screen reload time, %d round(s) over every file the show uses (ms)\n", rounds);
    std::printf("%-9s %6s %8s %8s %8s   %s\n", "kind", "files", "median", "worst", "load", "worst file");
    std::map<std::string, std::vector<const Sample*>> byKind;
    for (const Sample& s : samples) byKind[kindOf[s.file]].push_back(&s);
    for (const auto& [kind, list] : byKind) {
        std::vector<double> screen, load;
        const Sample* worst = list.front();
        std::map<std::string, int> names;
        for (const Sample* s : list) {
            screen.push_back(s->screenMs);
            load.push_back(s->loadMs);
            names[s->file]++;
            if (s->screenMs > worst->screenMs) worst = s;
        }
        std::printf("%-9s %6zu %8.0f %8.0f %8.1f   %s\n", kind.c_str(), names.size(), median(screen),
                    worst->screenMs, median(load), worst->file.c_str());
    }
    std::printf("frame time median %.1f ms over %zu frames; load average %.2f before, %.2f after\n",
                median(frames) * 1000.0, frames.size(), loadBefore, loadAverage());
    return 0;
}
