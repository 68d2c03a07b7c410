#pragma once
// A texture the device draws into, with the binding that makes its top-level surface the render target
// and later puts the previous one back, with its viewport.
#include <cstdint>

#include "resources/texture_source.h"

class RenderTargetBinding {
public:
    uint32_t index = 0;                    // render-target index of the last bind
    IDirect3DSurface9* surface = nullptr;  // level 0 of the texture; one owned reference
    IDirect3DSurface9* saved = nullptr;    // the target current before bind; held only while bound
    D3DVIEWPORT9 savedViewport{};          // its viewport (the picture's part of the back buffer)

    // Makes surface render target index, keeping the previous one. Throws "RenderTarget already set"
    // while bound (the first binding stays); without a surface it does nothing.
    void bind(uint32_t index);
    // Puts the kept target and its viewport back and lets the target go; nothing when not bound.
    void unbind();
};

class RenderTexture : public TextureSource {
public:
    RenderTargetBinding binding;

    // An A8R8G8B8 texture with a full mip chain. Throws "failed to create render-texture" or "failed to
    // get surface from render-texture" (nothing is held then).
    RenderTexture(uint32_t width, uint32_t height, uint32_t usage, uint32_t pool);
    // A texture destroyed while bound first puts the previous target back.
    ~RenderTexture() override;
};
