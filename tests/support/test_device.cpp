#include "test_device.h"

#include <algorithm>
#include <cstdlib>

#include "platform/d3d9/readback.h"
#include "platform/win32/win32.h"

namespace {

const char kClassName[] = "qv_test_device";

LRESULT CALLBACK test_window_proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

TestDevice::TestDevice(UINT width, UINT height, UINT windowWidth, UINT windowHeight)
    : width_(width), height_(height) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = test_window_proc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);  // already registered by an earlier device: fine
    window_ = CreateWindowExA(0, kClassName, "test", WS_POPUP | WS_VISIBLE, 0, 0,
                              static_cast<int>(windowWidth ? windowWidth : width),
                              static_cast<int>(windowHeight ? windowHeight : height), nullptr, nullptr,
                              instance, nullptr);
    if (!window_) {
        error_ = "CreateWindowExA failed";
        return;
    }
    d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
    if (!d3d_) {
        error_ = "Direct3DCreate9 failed";
        return;
    }
    D3DDISPLAYMODE mode;
    if (FAILED(d3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode))) {
        error_ = "GetAdapterDisplayMode failed";
        return;
    }
    D3DPRESENT_PARAMETERS pp = {};
    pp.BackBufferWidth = width;
    pp.BackBufferHeight = height;
    pp.BackBufferFormat = mode.Format;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Windowed = TRUE;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D24S8;
    pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    const HRESULT hr = d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                          D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device_);
    if (FAILED(hr)) {
        device_ = nullptr;
        error_ = "CreateDevice failed: " + std::to_string(static_cast<uint32_t>(hr));
    }
}

TestDevice::~TestDevice() {
    if (device_) device_->Release();
    if (d3d_) d3d_->Release();
    if (window_) DestroyWindow(window_);
}

std::vector<uint32_t> read_surface(IDirect3DSurface9* surface, UINT* width, UINT* height) {
    std::vector<uint32_t> px;
    D3DSURFACE_DESC desc;
    if (!surface || FAILED(surface->GetDesc(&desc))) return px;
    px.resize(static_cast<size_t>(desc.Width) * desc.Height);
    if (FAILED(d3d9_read_surface(surface, px.data(), desc.Width * 4))) px.clear();
    if (width) *width = desc.Width;
    if (height) *height = desc.Height;
    return px;
}

std::vector<uint32_t> read_back_buffer(IDirect3DDevice9* device) {
    IDirect3DSurface9* back = nullptr;
    if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back))) return {};
    std::vector<uint32_t> px = read_surface(back);
    back->Release();
    return px;
}

std::vector<uint32_t> read_render_target(IDirect3DDevice9* device, UINT* width, UINT* height) {
    IDirect3DSurface9* target = nullptr;
    if (FAILED(device->GetRenderTarget(0, &target))) return {};
    std::vector<uint32_t> px = read_surface(target, width, height);
    target->Release();
    return px;
}

std::vector<uint32_t> read_texture(IDirect3DTexture9* texture, UINT level, UINT* width, UINT* height) {
    IDirect3DSurface9* surface = nullptr;
    if (!texture || FAILED(texture->GetSurfaceLevel(level, &surface))) return {};
    std::vector<uint32_t> px = read_surface(surface, width, height);
    surface->Release();
    return px;
}

std::vector<uint8_t> to_rgba(const std::vector<uint32_t>& argb) {
    std::vector<uint8_t> out(argb.size() * 4);
    for (size_t i = 0; i < argb.size(); ++i) {
        out[i * 4 + 0] = static_cast<uint8_t>(argb[i] >> 16);
        out[i * 4 + 1] = static_cast<uint8_t>(argb[i] >> 8);
        out[i * 4 + 2] = static_cast<uint8_t>(argb[i]);
        out[i * 4 + 3] = static_cast<uint8_t>(argb[i] >> 24);
    }
    return out;
}

int color_distance(uint32_t a, uint32_t b) {
    int d = 0;
    for (int shift = 0; shift < 32; shift += 8)
        d = std::max(d,
                     std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    return d;
}
