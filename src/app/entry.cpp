#include "app/entry.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/capture.h"
#include "app/frame_loop.h"
#include "app/frame_setup.h"

namespace {

// Everything built here is an automatic object, so a thrown text unwinds it in reverse order of
// construction before the handler in qv_main shows the text.
void run(const ShowLoader& load, const EntryOptions& options) {
    // The display's resolution (0 by 0) in full screen, 640 by 480 in a window, unless a scale is asked.
    int width = options.fullScreen ? 0 : 640, height = options.fullScreen ? 0 : 480;
    if (options.scale > 0) {
        width = int(std::lround(640.0 * options.scale));
        height = int(std::lround(480.0 * options.scale));
    }
    FrameSetup setup(kProductionMusic, options.fullScreen, options.direct3DCreate,
                     D3DPRESENT_INTERVAL_DEFAULT, width, height);
    std::unique_ptr<Show> show = load(Stagehand{setup.display, setup.scenes, setup.textures});
    LiveClock clock(*show, options.monotonicSeconds);
    PictureSink window;  // the pictures go to the window only
    runFrames(*show, clock, window, kViewerKeys);
}

}  // namespace

int qv_main(const ShowLoader& load, const EntryOptions& options) {
    try {
        run(load, options);
    } catch (std::string text) {
        MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK);
        return 1;
    }
    return 0;
}

std::unique_ptr<Show> loadProduction(const Stagehand& stage) {
    return std::make_unique<ProductionShow>(stage, std::make_unique<LiveStage>());
}

int qv_main() {
    return qv_main(loadProduction);
}

int qv_main(int argc, char** argv, StudioEntry studio) {
    CommandLine line = parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (!line.problem.empty()) {
        std::fprintf(stderr, "quorvane: %s\n%s", line.problem.c_str(), kCaptureUsage);
        return 2;
    }
    if (!line.ignored.empty())
        std::fprintf(stderr, "quorvane: ignoring unknown arguments: %s\n",
                     ignoredArguments(line.ignored).c_str());
    if (line.capture) return qv_capture(line.captureOptions, line.entry);
    if (line.studio) {
        if (studio) return studio(line.studioFolder, line.entry);
        std::fprintf(stderr, "quorvane: this program has no studio\n");
        return 2;
    }
    return qv_main(loadProduction, line.entry);
}
