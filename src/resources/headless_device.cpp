#include "resources/headless_device.h"

#include <string>

#include "resources/device.h"

namespace {
const char* const kClassName = "headless";
}

HeadlessDevice::HeadlessDevice() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);
    window_ =
        CreateWindowExA(0, kClassName, "", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window_) throw std::string("CreateWindowEx failed");
    d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
    if (!d3d_) throw std::string("Direct3DCreate9 failed");
    D3DDISPLAYMODE mode{};
    d3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = 64;
    pp.BackBufferHeight = 64;
    pp.BackBufferFormat = mode.Format;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Windowed = TRUE;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    if (FAILED(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window_,
                                  D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &g_device)))
        throw std::string("CreateDevice() failed");
}

HeadlessDevice::~HeadlessDevice() {
    if (g_device) g_device->Release();
    g_device = nullptr;
    if (d3d_) d3d_->Release();
    if (window_) DestroyWindow(window_);
    UnregisterClassA(kClassName, GetModuleHandleA(nullptr));
}
