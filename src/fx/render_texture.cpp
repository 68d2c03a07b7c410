#include "fx/render_texture.h"

#include <string>

#include "resources/device.h"

void RenderTargetBinding::bind(uint32_t i) {
    if (saved) throw std::string("RenderTarget already set");
    if (!surface) return;
    index = i;
    g_device->GetViewport(&savedViewport);
    g_device->GetRenderTarget(index, &saved);
    g_device->SetRenderTarget(index, surface);
}

void RenderTargetBinding::unbind() {
    if (!saved) return;
    g_device->SetRenderTarget(index, saved);
    g_device->SetViewport(&savedViewport);  // setting a target resets the viewport to the whole of it
    saved->Release();
    saved = nullptr;
}

RenderTexture::RenderTexture(uint32_t width, uint32_t height, uint32_t usage, uint32_t pool) {
    if (FAILED(g_device->CreateTexture(width, height, 0, usage, D3DFMT_A8R8G8B8, static_cast<D3DPOOL>(pool),
                                       &texture, nullptr)) ||
        !texture) {
        texture = nullptr;
        throw std::string("failed to create render-texture");
    }
    if (FAILED(texture->GetSurfaceLevel(0, &binding.surface)) || !binding.surface) {
        binding.surface = nullptr;
        texture->Release();
        texture = nullptr;
        throw std::string("failed to get surface from render-texture");
    }
}

RenderTexture::~RenderTexture() {
    binding.unbind();
    if (binding.surface) binding.surface->Release();
}
