// Escape held while another window has the keyboard, on a private X server (Xvfb) whose keys are pressed
// through its XTEST extension: the window gets no key message, yet GetAsyncKeyState sees the key.
#include <SDL.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32/sdl_window.h"
#include "platform/win32/win32.h"
#include "test_window.h"
#include "xvfb.h"
// Last: Xlib's macros (None, Bool) would clash with the test framework's names.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

template <typename F>
F symbol(void* lib, const char* name) {
    return lib ? reinterpret_cast<F>(dlsym(lib, name)) : nullptr;
}

LRESULT CALLBACK keyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

TEST(Win32X11Keyboard, EscapeIsSeenWithoutTheFocus) {
    if (SDL_WasInit(SDL_INIT_VIDEO) && std::strcmp(SDL_GetCurrentVideoDriver(), "x11") != 0)
        GTEST_SKIP()
            << "SDL video already runs on another driver in this process (ctest runs each test alone)";
    void* xlib = dlopen("libX11.so.6", RTLD_NOW);
    void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
    auto openDisplay = symbol<Display* (*)(const char*)>(xlib, "XOpenDisplay");
    auto closeDisplay = symbol<int (*)(Display*)>(xlib, "XCloseDisplay");
    auto createWindow = symbol<Window (*)(Display*, Window, int, int, unsigned, unsigned, unsigned,
                                          unsigned long, unsigned long)>(xlib, "XCreateSimpleWindow");
    auto mapWindow = symbol<int (*)(Display*, Window)>(xlib, "XMapWindow");
    auto setFocus = symbol<int (*)(Display*, Window, int, Time)>(xlib, "XSetInputFocus");
    auto sync = symbol<int (*)(Display*, Bool)>(xlib, "XSync");
    auto keycode = symbol<KeyCode (*)(Display*, KeySym)>(xlib, "XKeysymToKeycode");
    auto fakeKey = symbol<int (*)(Display*, unsigned, Bool, unsigned long)>(xtst, "XTestFakeKeyEvent");
    if (!openDisplay || !closeDisplay || !createWindow || !mapWindow || !setFocus || !sync || !keycode ||
        !fakeKey)
        GTEST_SKIP() << "libX11 or libXtst is not installed";
    qvtest::Xvfb server;
    if (server.display.empty())
        GTEST_SKIP() << "Xvfb is not installed or did not start (Debian package xvfb)";

    setenv("DISPLAY", server.display.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    ASSERT_NE(qvtest::registerClass("x11keys", keyProc), 0);
    HWND hwnd = qvtest::showWindow("x11keys");
    ASSERT_NE(hwnd, nullptr);
    ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");

    // Another client's window takes the keyboard.
    Display* other = openDisplay(server.display.c_str());
    ASSERT_NE(other, nullptr);
    const Window root = DefaultRootWindow(other);
    const Window focus = createWindow(other, root, 100, 100, 50, 50, 0, 0, 0);
    mapWindow(other, focus);
    sync(other, False);
    setFocus(other, focus, RevertToParent, CurrentTime);
    sync(other, False);
    const unsigned escape = keycode(other, XK_Escape);
    ASSERT_NE(escape, 0u);

    auto keyMessages = [] {
        int count = 0;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) count += msg.message == WM_KEYDOWN;
        return count;
    };
    keyMessages();
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE) & 0x8000, 0);
    fakeKey(other, escape, True, 0);
    sync(other, False);
    SDL_Delay(50);
    EXPECT_EQ(keyMessages(), 0) << "the window had the keyboard after all";
    EXPECT_NE(GetAsyncKeyState(VK_ESCAPE) & 0x8000, 0);
    fakeKey(other, escape, False, 0);
    sync(other, False);
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE) & 0x8000, 0);

    closeDisplay(other);
    DestroyWindow(hwnd);
    UnregisterClassA("x11keys", GetModuleHandleA(nullptr));
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}
