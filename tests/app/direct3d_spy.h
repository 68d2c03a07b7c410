#pragma once
// A stand-in for the Direct3D object that records what the display asks of it and can fail each step;
// device creation goes to the real Direct3D object when one is attached.
#include <SDL.h>

#include <cstdio>

#include "platform/d3d9/d3d9.h"
#include "platform/win32/sdl_window.h"
#include "platform/win32/win32.h"

struct Direct3DSpy : IDirect3D9 {
    // Configuration.
    bool useRealDevice = false;
    bool hardwareTransformAndLighting = true;
    HRESULT displayModeResult = D3D_OK;
    D3DFORMAT displayModeFormat = D3DFMT_R5G6B5;
    HRESULT createDeviceResult = D3D_OK;  // used when no real device is made

    // What happened.
    ULONG refs = 0;
    UINT sdkVersion = 0;
    int displayModeCalls = 0;
    int createDeviceCalls = 0;
    HWND focusWindow = nullptr;
    bool focusWindowLive = false;
    bool cursorShownAtCreate = false;
    DWORD behaviorFlags = 0;
    D3DPRESENT_PARAMETERS parameters{};

    IDirect3D9* real = nullptr;

    HRESULT QueryInterface(REFIID, void** out) override {
        if (out) *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        if (--refs == 0) {
            if (real) real->Release();
            real = nullptr;
            std::fprintf(stderr, "direct3d released\n");
        }
        return refs;
    }
    UINT GetAdapterCount() override { return 1; }
    HRESULT GetAdapterDisplayMode(UINT, D3DDISPLAYMODE* mode) override {
        ++displayModeCalls;
        if (FAILED(displayModeResult)) return displayModeResult;
        *mode = D3DDISPLAYMODE{1024, 768, 60, displayModeFormat};
        return D3D_OK;
    }
    HRESULT GetDeviceCaps(UINT, D3DDEVTYPE, D3DCAPS9* caps) override {
        *caps = D3DCAPS9{};
        if (hardwareTransformAndLighting) caps->DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
        return D3D_OK;
    }
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND window, DWORD flags, D3DPRESENT_PARAMETERS* pp,
                         IDirect3DDevice9** device) override {
        std::fprintf(stderr, "CreateDevice\n");
        ++createDeviceCalls;
        focusWindow = window;
        focusWindowLive = IsWindow(window) && SDL_GetWindowFlags(win32_sdl_window(window)) & SDL_WINDOW_SHOWN;
        cursorShownAtCreate = SDL_ShowCursor(SDL_QUERY) == SDL_ENABLE;
        behaviorFlags = flags;
        parameters = *pp;
        if (useRealDevice) return real->CreateDevice(adapter, type, window, flags, pp, device);
        return createDeviceResult;
    }
};

// The spy that the next display gets from its Direct3D creation; null makes the creation fail.
inline Direct3DSpy* g_spy = nullptr;

inline IDirect3D9* createSpy(UINT sdkVersion) {
    if (!g_spy) return nullptr;
    g_spy->sdkVersion = sdkVersion;
    if (g_spy->useRealDevice) {
        g_spy->real = Direct3DCreate9(sdkVersion);
        if (!g_spy->real) return nullptr;
    }
    g_spy->AddRef();
    return g_spy;
}

// The cursor's display counter, read without changing it.
inline int cursorCounter() {
    ShowCursor(TRUE);
    return ShowCursor(FALSE);
}
