#include "app/display.h"

#include <string>

namespace {
const char* const kClassName = "d3d9";
}

Display::Display(const char* title, int width, int height, D3DFORMAT backBufferFormat, bool fullScreen)
    : Display(title, width, height, backBufferFormat, fullScreen, Direct3DCreate9) {}

Display::Display(const char* title, int width, int height, D3DFORMAT backBufferFormat, bool fullScreen,
                 IDirect3D9* (*direct3DCreate)(UINT sdkVersion), UINT presentationInterval)
    : instance(GetModuleHandleA(nullptr)), direct3d(nullptr), device(nullptr), window(nullptr) {
    bool cursorHidden = false;
    try {
        WNDCLASSA wc{};
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = windowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorA(instance, IDC_ARROW);
        wc.lpszClassName = kClassName;
        RegisterClassA(&wc);  // a failure shows up as a failed window creation

        // A size to be taken from the display: full screen makes the window cover it whatever it was.
        const bool displaySize = width <= 0 || height <= 0;
        window = CreateWindowExA(0, kClassName, title, WS_POPUP | WS_VISIBLE, 0, 0, displaySize ? 640 : width,
                                 displaySize ? 480 : height, nullptr, nullptr, instance, nullptr);
        if (!window) throw std::string("CreateWindowEx failed");

        direct3d = direct3DCreate(D3D_SDK_VERSION);
        if (!direct3d) throw std::string("Direct3DCreate9() failed");

        D3DPRESENT_PARAMETERS parameters{};
        parameters.BackBufferWidth = displaySize ? 0 : static_cast<UINT>(width);
        parameters.BackBufferHeight = displaySize ? 0 : static_cast<UINT>(height);
        parameters.BackBufferCount = 0;
        parameters.MultiSampleType = D3DMULTISAMPLE_NONE;
        parameters.MultiSampleQuality = 0;
        parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
        parameters.hDeviceWindow = nullptr;  // the focus window is used
        parameters.Windowed = fullScreen ? FALSE : TRUE;
        parameters.EnableAutoDepthStencil = TRUE;
        parameters.AutoDepthStencilFormat = D3DFMT_D24S8;
        parameters.Flags = 0;
        parameters.FullScreen_RefreshRateInHz = 0;
        parameters.PresentationInterval = presentationInterval;  // by default waits for the vertical retrace

        if (fullScreen) {
            parameters.BackBufferFormat = backBufferFormat;
            if (displaySize) {
                D3DDISPLAYMODE mode{};
                if (FAILED(direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode)) || mode.Width == 0 ||
                    mode.Height == 0)
                    throw std::string("GetAdapterDisplayMode() failed");
                parameters.BackBufferWidth = mode.Width;
                parameters.BackBufferHeight = mode.Height;
            }
            ShowCursor(FALSE);
            cursorHidden = true;
        } else {
            D3DDISPLAYMODE mode{};
            if (FAILED(direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode)))
                throw std::string("GetAdapterDisplayMode() failed");
            parameters.BackBufferFormat = mode.Format;
        }

        // A failed query leaves the capabilities empty, which reads as no hardware transform and lighting.
        D3DCAPS9 caps{};
        direct3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
        bool hardwareVertices = (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0;
        if (!hardwareVertices) MessageBoxA(nullptr, "Your GPU is from Poland!", "Warning", MB_OK);
        DWORD flags =
            hardwareVertices ? D3DCREATE_HARDWARE_VERTEXPROCESSING : D3DCREATE_SOFTWARE_VERTEXPROCESSING;

        if (FAILED(direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, flags, &parameters,
                                          &device))) {
            device = nullptr;
            throw std::string("CreateDevice() failed");
        }
    } catch (...) {
        // Nothing of a half-built display stays behind, least of all a full-screen window over the
        // message box that reports the failure.
        release(cursorHidden);
        throw;
    }
}

Display::~Display() {
    release(true);
}

void Display::release(bool showCursor) {
    if (showCursor) ShowCursor(TRUE);
    if (device) {
        device->EvictManagedResources();
        device->Release();
        device = nullptr;
    }
    if (direct3d) {
        direct3d->Release();
        direct3d = nullptr;
    }
    if (window) {
        DestroyWindow(window);
        window = nullptr;
    }
    UnregisterClassA(kClassName, instance);
}

LRESULT CALLBACK Display::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            PostQuitMessage(0);
            return 0;
        case WM_SYSCOMMAND:
            if (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER) return 0;  // refused: the run goes on
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
