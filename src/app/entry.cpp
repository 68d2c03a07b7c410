#include "app/entry.h"

#include <cstdio>
#include <string>

#include "production/production.h"
#include "resources/device.h"

namespace {

// Publishes the display's device as the process-wide device for as long as it lives.
struct DevicePublication {
    explicit DevicePublication(IDirect3DDevice9* device) { g_device = device; }
    ~DevicePublication() { g_device = nullptr; }
    DevicePublication(const DevicePublication&) = delete;
    DevicePublication& operator=(const DevicePublication&) = delete;
};

class ProductionShow : public Show {
public:
    explicit ProductionShow(const Display& display) : production_(display.window) {}
    void start() override { production_.start(); }
    double time() override { return production_.time(); }
    void frame(float t) override { production_.frame(t); }

private:
    Production production_;
};

// Everything built here is an automatic object, so a thrown text unwinds it in reverse order of
// construction before the handler in qv_main shows the text.
void run(const ShowLoader& load, const EntryOptions& options) {
    Display display("Quorvane", 640, 480, D3DFMT_X8R8G8B8, true, options.direct3DCreate);
    DevicePublication publication(display.device);

    // Linear filtering between texels and between mip levels unless a drawer sets otherwise.
    for (DWORD sampler = 0; sampler < 8; ++sampler) {
        g_device->SetSamplerState(sampler, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        g_device->SetSamplerState(sampler, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        g_device->SetSamplerState(sampler, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    }

    std::unique_ptr<Show> show = load(display);
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

std::unique_ptr<Show> loadProduction(const Display& display) {
    return std::make_unique<ProductionShow>(display);
}

int qv_main() {
    return qv_main(loadProduction);
}
