#pragma once
// The headless device for the tests that draw or make textures, and reading pictures back.
#include <cstdint>
#include <cstring>
#include <vector>

#include "device_scope.h"
#include "platform/d3d9/d3d9.h"
#include "resources/device.h"

namespace fxtest {

// The shared headless device, published as g_device.
using Device = DeviceScope;

// Level 0 of a lockable texture as 32-bit pixels (A8R8G8B8 / X8R8G8B8 in memory: B, G, R, A), row 0 first.
inline std::vector<uint32_t> readTexture(IDirect3DTexture9* texture) {
    std::vector<uint32_t> out;
    D3DSURFACE_DESC desc{};
    if (FAILED(texture->GetLevelDesc(0, &desc))) return out;
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) return out;
    out.resize(size_t(desc.Width) * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y)
        std::memcpy(&out[size_t(y) * desc.Width],
                    static_cast<const unsigned char*>(locked.pBits) + size_t(y) * locked.Pitch,
                    desc.Width * 4);
    texture->UnlockRect(0);
    return out;
}

}  // namespace fxtest

#include "platform/d3d9/readback.h"
#include "resources/texture_source.h"

namespace fxtest {

// A managed A8R8G8B8 texture of one level whose texel (x, y) is colour(x, y) as 0xAARRGGBB.
template <typename Colour>
TextureSource* makeTexture(uint32_t width, uint32_t height, Colour colour) {
    IDirect3DTexture9* t = nullptr;
    if (FAILED(g_device->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr)))
        return nullptr;
    D3DLOCKED_RECT locked{};
    if (FAILED(t->LockRect(0, &locked, nullptr, 0))) {
        t->Release();
        return nullptr;
    }
    for (uint32_t y = 0; y < height; ++y) {
        auto* row =
            reinterpret_cast<uint32_t*>(static_cast<unsigned char*>(locked.pBits) + size_t(y) * locked.Pitch);
        for (uint32_t x = 0; x < width; ++x) row[x] = colour(x, y);
    }
    t->UnlockRect(0);
    return new TextureSource(t);
}

// A surface's pixels as 0xAARRGGBB, row 0 (the top) first.
struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> px;
    uint32_t at(uint32_t x, uint32_t y) const { return px[size_t(y) * width + x]; }
    int red(uint32_t x, uint32_t y) const { return int(at(x, y) >> 16 & 0xFF); }
    int green(uint32_t x, uint32_t y) const { return int(at(x, y) >> 8 & 0xFF); }
    int blue(uint32_t x, uint32_t y) const { return int(at(x, y) & 0xFF); }
};

inline Picture readSurface(IDirect3DSurface9* surface) {
    Picture p;
    D3DSURFACE_DESC desc{};
    if (!surface || FAILED(surface->GetDesc(&desc))) return p;
    p.width = desc.Width;
    p.height = desc.Height;
    p.px.resize(size_t(p.width) * p.height);
    if (FAILED(d3d9_read_surface(surface, p.px.data(), p.width * 4))) p.px.clear();
    return p;
}

// The current render target 0.
inline Picture readTarget() {
    IDirect3DSurface9* s = nullptr;
    g_device->GetRenderTarget(0, &s);
    Picture p = readSurface(s);
    if (s) s->Release();
    return p;
}

// Linear filtering with mip-maps on every sampler, as the entry sets it up.
inline void linearFilters() {
    for (DWORD s = 0; s < 8; ++s) {
        g_device->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        g_device->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        g_device->SetSamplerState(s, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    }
}

}  // namespace fxtest
