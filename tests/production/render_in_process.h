#pragma once
// The production rendered in the test's own process, as the capture renders it (the same display,
// samplers, soundtrack clock and frame sequence), at any times in any order.
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/display.h"
#include "app/frame_setup.h"
#include "platform/d3d9/readback.h"
#include "production/production.h"

namespace capture_test {

constexpr int kRenderWidth = 640, kRenderHeight = 480;

// The capture's stage without files: the decoded music as the clock.
class InProcessStage : public Stage {
public:
    std::unique_ptr<Soundtrack> openSoundtrack(HWND, const std::string& name) override {
        auto s = std::make_unique<CaptureSoundtrack>(name);
        soundtrack = s.get();
        return s;
    }
    void present() override { g_device->Present(nullptr, nullptr, nullptr, nullptr); }
    CaptureSoundtrack* soundtrack = nullptr;
};

// One rendered frame: the back buffer as RGB (empty when it could not be read), and what frames.txt logs.
struct RenderedFrame {
    std::vector<uint8_t> rgb;
    unsigned beat = 0;
    Vec3 camera{};
};

// Loads the data set in `dir` and renders a frame at each time, in the order given, calling `before` (when
// given) with the production and the frame's index first. Throws what the loading phase throws; empty when
// `dir` cannot be entered.
inline std::vector<RenderedFrame> renderInProcess(
    const std::string& dir, const std::vector<double>& times,
    const std::function<void(Production&, size_t)>& before = nullptr) {
    char previous[4096];
    if (!getcwd(previous, sizeof previous) || chdir(dir.c_str()) != 0) return {};
    struct Back {
        const char* to;
        ~Back() {
            if (chdir(to) != 0) std::abort();
        }
    } back{previous};
    std::vector<RenderedFrame> frames;
    Display display("Quorvane", kRenderWidth, kRenderHeight, D3DFMT_X8R8G8B8, false, Direct3DCreate9,
                    D3DPRESENT_INTERVAL_IMMEDIATE);
    DevicePublication publication(display.device);
    SceneCache scenes;
    TextureCache textures;
    setLinearSamplers();
    InProcessStage stage;
    Production production(display.window, scenes, textures, stage);
    production.start();
    IDirect3DSurface9* backBuffer = nullptr;
    g_device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
    std::vector<uint32_t> argb(size_t(kRenderWidth) * kRenderHeight);
    for (double t : times) {
        if (before) before(production, frames.size());
        stage.soundtrack->setTime(t);
        production.frame(float(production.time()));
        RenderedFrame frame;
        if (backBuffer && SUCCEEDED(d3d9_read_surface(backBuffer, argb.data(), kRenderWidth * 4))) {
            frame.rgb.resize(argb.size() * 3);
            for (size_t i = 0; i < argb.size(); ++i) {
                frame.rgb[3 * i + 0] = uint8_t(argb[i] >> 16);
                frame.rgb[3 * i + 1] = uint8_t(argb[i] >> 8);
                frame.rgb[3 * i + 2] = uint8_t(argb[i]);
            }
        }
        frame.beat = production.beatIndex();
        frame.camera = production.sceneCamera().transform.position;
        frames.push_back(std::move(frame));
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    if (backBuffer) backBuffer->Release();
    return frames;
}

}  // namespace capture_test
