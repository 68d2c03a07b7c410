#include "app/entry.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/capture.h"
#include "app/frame_setup.h"
#include "production/production.h"

namespace {

class ProductionShow : public Show {
public:
    explicit ProductionShow(const Stagehand& stage)
        : production_(stage.display.window, stage.scenes, stage.textures, live_) {}
    void start() override { production_.start(); }
    double time() override { return production_.time(); }
    void frame(float t) override { production_.frame(t); }

private:
    LiveStage live_;  // outlives the production
    Production production_;
};

// Everything built here is an automatic object, so a thrown text unwinds it in reverse order of
// construction before the handler in qv_main shows the text.
void run(const ShowLoader& load, const EntryOptions& options) {
    MusicAhead music(kProductionMusic);  // read and decoded while the display opens and the rest loads
    Display display("Quorvane", 640, 480, D3DFMT_X8R8G8B8, options.fullScreen, options.direct3DCreate);
    DevicePublication publication(display.device);
    // Destroyed after every production object, texture cache first.
    SceneCache scenes;
    TextureCache textures;
    setLinearSamplers();

    std::unique_ptr<Show> show = load(Stagehand{display, scenes, textures});
    show->start();

    bool quit = false;
    while (!quit) {
        float t = static_cast<float>(show->time());
        show->frame(t);
        if (g_device->Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST)
            throw std::string("Lost device.");

        // Drained completely, also after WM_QUIT.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (msg.message == WM_QUIT) {
                quit = true;
            } else if (msg.message == WM_KEYDOWN) {
                std::printf("time %f\n", static_cast<double>(t));
                std::fflush(stdout);
            }
        }
        // Polled, so Escape ends the run even without the focus.
        if (GetAsyncKeyState(VK_ESCAPE)) quit = true;
        if (t > 32.0f) quit = true;
    }
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
    return std::make_unique<ProductionShow>(stage);
}

int qv_main() {
    return qv_main(loadProduction);
}

int qv_main(int argc, char** argv) {
    CommandLine line = parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (!line.problem.empty()) {
        std::fprintf(stderr, "quorvane: %s\n%s", line.problem.c_str(), kCaptureUsage);
        return 2;
    }
    if (!line.ignored.empty()) {
        std::string list;
        for (const std::string& a : line.ignored) list += " " + a;
        std::fprintf(stderr, "quorvane: ignoring unknown arguments:%s\n", list.c_str());
    }
    if (line.capture) return qv_capture(line.captureOptions, line.entry);
    return qv_main(loadProduction, line.entry);
}
