// Display: what it asks of the Direct3D object, the texts it throws, what it leaves behind when a step
// fails, and its window procedure.
#include "app/display.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "direct3d_spy.h"
#include "test_window.h"

namespace {

std::string constructFailure(bool fullScreen) {
    try {
        Display display("Quorvane", 640, 480, D3DFMT_X8R8G8B8, fullScreen, createSpy);
    } catch (std::string text) {
        return text;
    }
    return "(no failure)";
}

LRESULT CALLBACK refusingCreate(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return message == WM_CREATE ? -1 : DefWindowProcA(hwnd, message, wParam, lParam);
}

// True when no window of the class "d3d9" is left and the class itself is gone.
bool nothingLeft() {
    return qvtest::registerClass("d3d9", DefWindowProcA) &&
           UnregisterClassA("d3d9", GetModuleHandleA(nullptr));
}

std::vector<UINT> drain() {
    std::vector<UINT> out;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        out.push_back(msg.message);
    }
    return out;
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_spy = &spy;
        cursorBefore = cursorCounter();
    }
    void TearDown() override {
        g_spy = nullptr;
        drain();
        EXPECT_EQ(spy.refs, 0u);  // every reference the display took was given back
    }
    Direct3DSpy spy;
    int cursorBefore = 0;
};

}  // namespace

TEST_F(DisplayTest, FullScreenDeviceRequest) {
    spy.createDeviceResult = E_FAIL;
    EXPECT_EQ(constructFailure(true), "CreateDevice() failed");
    EXPECT_EQ(spy.sdkVersion, 32u);
    EXPECT_EQ(spy.createDeviceCalls, 1);
    EXPECT_EQ(spy.displayModeCalls, 0);  // full screen uses the given format
    EXPECT_TRUE(spy.focusWindowLive);
    EXPECT_FALSE(spy.cursorShownAtCreate);
    EXPECT_EQ(spy.behaviorFlags, DWORD{D3DCREATE_HARDWARE_VERTEXPROCESSING});
    const D3DPRESENT_PARAMETERS& p = spy.parameters;
    EXPECT_EQ(p.BackBufferWidth, 640u);
    EXPECT_EQ(p.BackBufferHeight, 480u);
    EXPECT_EQ(p.BackBufferFormat, D3DFMT_X8R8G8B8);
    EXPECT_EQ(p.BackBufferCount, 0u);
    EXPECT_EQ(p.MultiSampleType, D3DMULTISAMPLE_NONE);
    EXPECT_EQ(p.MultiSampleQuality, 0u);
    EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(p.hDeviceWindow, nullptr);
    EXPECT_EQ(p.Windowed, FALSE);
    EXPECT_EQ(p.EnableAutoDepthStencil, TRUE);
    EXPECT_EQ(p.AutoDepthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(p.Flags, 0u);
    EXPECT_EQ(p.FullScreen_RefreshRateInHz, 0u);
    EXPECT_EQ(p.PresentationInterval, UINT{D3DPRESENT_INTERVAL_DEFAULT});
    // The failed display hid the cursor and shows it again; window and class are gone.
    EXPECT_FALSE(IsWindow(spy.focusWindow));
    EXPECT_EQ(cursorCounter(), cursorBefore);
    EXPECT_TRUE(nothingLeft());
}

TEST_F(DisplayTest, WindowedDeviceFollowsTheDesktopFormat) {
    spy.createDeviceResult = E_FAIL;
    EXPECT_EQ(constructFailure(false), "CreateDevice() failed");
    EXPECT_EQ(spy.displayModeCalls, 1);
    EXPECT_EQ(spy.parameters.BackBufferFormat, D3DFMT_R5G6B5);
    EXPECT_EQ(spy.parameters.Windowed, TRUE);
    EXPECT_TRUE(spy.cursorShownAtCreate);
    EXPECT_EQ(cursorCounter(), cursorBefore);
    EXPECT_TRUE(nothingLeft());

    spy.displayModeResult = E_FAIL;
    EXPECT_EQ(constructFailure(false), "GetAdapterDisplayMode() failed");
    EXPECT_EQ(spy.createDeviceCalls, 1);  // not asked again
    EXPECT_EQ(cursorCounter(), cursorBefore);
    EXPECT_TRUE(nothingLeft());
}

TEST_F(DisplayTest, MissingTransformAndLightingWarnsBeforeTheDeviceAndUsesSoftwareVertices) {
    spy.hardwareTransformAndLighting = false;
    spy.createDeviceResult = E_FAIL;
    testing::internal::CaptureStderr();
    std::string failure = constructFailure(true);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(failure, "CreateDevice() failed");
    EXPECT_EQ(err, "Warning: Your GPU is from Poland!\nCreateDevice\ndirect3d released\n");
    EXPECT_EQ(spy.behaviorFlags, DWORD{D3DCREATE_SOFTWARE_VERTEXPROCESSING});
}

TEST_F(DisplayTest, EarlyFailuresLeaveNothingBehind) {
    g_spy = nullptr;
    EXPECT_EQ(constructFailure(true), "Direct3DCreate9() failed");
    EXPECT_EQ(cursorCounter(), cursorBefore);
    EXPECT_TRUE(nothingLeft());

    // A class of that name already registered by someone else, whose procedure refuses the window.
    g_spy = &spy;
    ASSERT_NE(qvtest::registerClass("d3d9", refusingCreate), 0);
    EXPECT_EQ(constructFailure(true), "CreateWindowEx failed");
    EXPECT_EQ(spy.sdkVersion, 0u);  // no Direct3D object was asked for
    EXPECT_EQ(cursorCounter(), cursorBefore);
    EXPECT_TRUE(nothingLeft());
}

TEST(DisplayWindowProc, CloseEndsTheRunAndScreenSaverRequestsAreRefused) {
    ASSERT_NE(qvtest::registerClass("proc", Display::windowProc), 0);
    HWND hwnd = qvtest::showWindow("proc", 640, 480);
    ASSERT_NE(hwnd, nullptr);
    drain();
    EXPECT_EQ(SDL_IsScreenSaverEnabled(), SDL_FALSE);  // the request at the window's first pump was refused

    EXPECT_EQ(SendMessageA(hwnd, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 0);
    EXPECT_EQ(SendMessageA(hwnd, WM_SYSCOMMAND, SC_MONITORPOWER, 2), 0);
    EXPECT_TRUE(drain().empty());

    // A close request, directly, from the system menu, from Alt+F4 and from SDL: the window stays, the run
    // ends.
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(drain(), (std::vector<UINT>{WM_CLOSE, WM_QUIT}));
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(drain(), (std::vector<UINT>{WM_SYSCOMMAND, WM_QUIT}));
    PostMessageA(hwnd, WM_SYSKEYDOWN, VK_F4, 1 | (LPARAM{1} << 29));
    EXPECT_EQ(drain(), (std::vector<UINT>{WM_SYSKEYDOWN, WM_QUIT}));
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    e.window.windowID = SDL_GetWindowID(win32_sdl_window(hwnd));
    SDL_PushEvent(&e);
    EXPECT_EQ(drain(), (std::vector<UINT>{WM_CLOSE, WM_QUIT}));
    EXPECT_TRUE(IsWindow(hwnd));

    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_TRUE(UnregisterClassA("proc", GetModuleHandleA(nullptr)));
}

TEST(DisplayOnTheRealDevice, FullScreenDisplayAndItsTeardown) {
    int cursorBefore = cursorCounter();
    HWND window = nullptr;
    {
        Display display("Quorvane", 640, 480, D3DFMT_X8R8G8B8, true);
        ASSERT_NE(display.device, nullptr);
        ASSERT_NE(display.direct3d, nullptr);
        window = display.window;
        EXPECT_EQ(display.instance, GetModuleHandleA(nullptr));
        SDL_Window* sdl = win32_sdl_window(window);
        ASSERT_NE(sdl, nullptr);
        EXPECT_STREQ(SDL_GetWindowTitle(sdl), "Quorvane");
        EXPECT_TRUE(SDL_GetWindowFlags(sdl) & SDL_WINDOW_BORDERLESS);
        // Desktop full screen: the 640 by 480 back buffer is scaled to the screen, the mode is not changed.
        EXPECT_EQ(SDL_GetWindowFlags(sdl) & SDL_WINDOW_FULLSCREEN_DESKTOP,
                  Uint32{SDL_WINDOW_FULLSCREEN_DESKTOP});
        EXPECT_EQ(cursorCounter(), cursorBefore - 1);
        EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(cursorCounter(), cursorBefore);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    EXPECT_TRUE(nothingLeft());
}
