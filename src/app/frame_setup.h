#pragma once
// Start-up steps shared by the live entry and the renderer.
#include "resources/device.h"

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
