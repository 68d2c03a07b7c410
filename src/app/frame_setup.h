#pragma once
// Start-up steps shared by every way the production runs (live, rendered to files, benchmarks).
#include "app/display.h"
#include "production/soundtrack.h"
#include "resources/device.h"
#include "resources/texture_cache.h"
#include "scene/scene_cache.h"

// Publishes the display's device as the process-wide device for as long as it lives.
struct DevicePublication {
    explicit DevicePublication(IDirect3DDevice9* device) { g_device = device; }
    ~DevicePublication() { g_device = nullptr; }
    DevicePublication(const DevicePublication&) = delete;
    DevicePublication& operator=(const DevicePublication&) = delete;
};

// Linear filtering between texels and between mip levels on samplers 0 to 7, unless a drawer sets otherwise.
inline void setLinearSamplers() {
    for (DWORD sampler = 0; sampler < 8; ++sampler) {
        g_device->SetSamplerState(sampler, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        g_device->SetSamplerState(sampler, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        g_device->SetSamplerState(sampler, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    }
}

// Everything a run holds before its loading phase, built in this order and destroyed in reverse: the music
// read and decoded ahead, the display (a width by height back buffer, 640 by 480 by default; 0 by 0 in full
// screen for the display's resolution) with its device published, the scene cache, then the texture cache
// (both outlive every production object), and linear filtering on every sampler.
struct FrameSetup {
    FrameSetup(const char* musicAhead, bool fullScreen, IDirect3D9* (*direct3DCreate)(UINT sdkVersion),
               UINT presentationInterval, int width = 640, int height = 480)
        : music(musicAhead),
          display("Quorvane", width, height, D3DFMT_X8R8G8B8, fullScreen, direct3DCreate,
                  presentationInterval),
          publication(display.device) {
        setLinearSamplers();
    }

    MusicAhead music;  // read and decoded while the display opens and the rest loads
    Display display;
    DevicePublication publication;
    SceneCache scenes;
    TextureCache textures;
};
