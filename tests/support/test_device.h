#pragma once
// A headless Direct3D 9 device for tests, and read-back of surfaces as pixels (row 0 = top).
//
//     TestDevice dev;                        // 640 x 480 windowed device on a hidden-when-headless window
//     ASSERT_TRUE(dev.ok()) << dev.error();
//     g_device = dev.device();               // when the code under test uses the process-wide pointer
//     ... draw ...
//     std::vector<uint32_t> px = read_back_buffer(dev.device());   // 0xAARRGGBB, width * height
//     EXPECT_EQ(pixel(px, 640, 10, 20), 0xFF0000FFu);
#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"

class TestDevice {
public:
    // A windowed device with a width x height X8R8G8B8 back buffer (the desktop's format) and a D24S8
    // depth-stencil buffer; vsync never throttles it. The window has the back buffer's size unless another
    // is given (presenting then scales the picture into it).
    explicit TestDevice(UINT width = 640, UINT height = 480, UINT windowWidth = 0, UINT windowHeight = 0);
    ~TestDevice();
    TestDevice(const TestDevice&) = delete;
    TestDevice& operator=(const TestDevice&) = delete;

    bool ok() const { return device_ != nullptr; }
    const std::string& error() const { return error_; }
    IDirect3DDevice9* device() const { return device_; }
    IDirect3D9* direct3d() const { return d3d_; }
    HWND window() const { return window_; }
    UINT width() const { return width_; }
    UINT height() const { return height_; }

private:
    HWND window_ = nullptr;
    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    UINT width_, height_;
    std::string error_;
};

// Pixels as D3DCOLOR values (0xAARRGGBB), width * height, row 0 = top. Empty on failure.
std::vector<uint32_t> read_back_buffer(IDirect3DDevice9* device);
// The current render target 0 (the back buffer or a render texture's level).
std::vector<uint32_t> read_render_target(IDirect3DDevice9* device, UINT* width = nullptr,
                                         UINT* height = nullptr);
// Any surface of the layer (back buffer, render target, texture level).
std::vector<uint32_t> read_surface(IDirect3DSurface9* surface, UINT* width = nullptr, UINT* height = nullptr);
// Level `level` of a texture.
std::vector<uint32_t> read_texture(IDirect3DTexture9* texture, UINT level = 0, UINT* width = nullptr,
                                   UINT* height = nullptr);
// The same pixels as bytes R, G, B, A per pixel.
std::vector<uint8_t> to_rgba(const std::vector<uint32_t>& argb);

inline uint32_t pixel(const std::vector<uint32_t>& px, UINT width, UINT x, UINT y) {
    return px[y * width + x];
}
inline int channel_a(uint32_t c) {
    return static_cast<int>(c >> 24);
}
inline int channel_r(uint32_t c) {
    return static_cast<int>((c >> 16) & 0xFF);
}
inline int channel_g(uint32_t c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
inline int channel_b(uint32_t c) {
    return static_cast<int>(c & 0xFF);
}
// Largest per-channel difference of two colours.
int color_distance(uint32_t a, uint32_t b);
