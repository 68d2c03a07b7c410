#pragma once
// The size the production is rendered at. Its pictures are designed for 640 by 480 pixels; a back buffer of
// another size holds the 4:3 picture at the largest size that fits, centred, black around it, and every
// size and offset measured in design pixels is k times as many back-buffer pixels. k = 1 is the design.
#include <cstdint>

#include "platform/d3d9/d3d9.h"

struct RenderScale {
    static constexpr uint32_t kDesignWidth = 640;
    static constexpr uint32_t kDesignHeight = 480;

    float k = 1.0f;                                    // back-buffer pixels per design pixel
    D3DVIEWPORT9 picture{0, 0, 640, 480, 0.0f, 1.0f};  // the 4:3 picture within the back buffer
    uint32_t backBufferWidth = 640, backBufferHeight = 480;

    // The scale of a width by height back buffer (both at least 1).
    static RenderScale forBackBuffer(uint32_t width, uint32_t height);
    // The scale of the device's back buffer; also makes the device draw with its pixel scale k, so that
    // Direct3D's half-pixel offset stays half a design pixel. Design scale when there is no back buffer.
    static RenderScale ofDevice(IDirect3DDevice9* device);

    // A size in design pixels as back-buffer pixels: rounded, at least 1.
    uint32_t pixels(uint32_t designPixels) const;
    // Whether black bars surround the picture.
    bool bars() const { return picture.Width != backBufferWidth || picture.Height != backBufferHeight; }
    // Starts the picture on the back buffer (the current render target): the bars cleared black, the
    // viewport on the picture. Between BeginScene and EndScene.
    void beginPicture(IDirect3DDevice9* device) const;
};
