// Window classes and windows: registration rules, the SDL window behind a handle, and the messages a
// window procedure receives while a window is created and destroyed.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/headless.h"
#include "platform/win32/sdl_window.h"
#include "platform/win32/win32.h"

namespace {

std::vector<UINT> g_received;
CREATESTRUCTA g_create{};

LRESULT CALLBACK recordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_received.push_back(message);
    if (message == WM_CREATE) g_create = *reinterpret_cast<CREATESTRUCTA*>(lParam);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK refusingCreateProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) return -1;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

WNDCLASSA makeClass(const char* name, WNDPROC proc) {
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = name;
    return wc;
}

}  // namespace

TEST(Win32Classes, RegistrationRulesAndLastErrors) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(GetModuleHandleA(nullptr), instance);
    EXPECT_EQ(GetModuleHandleA("user32.dll"), nullptr);

    WNDCLASSA wc = makeClass("classrules", recordingProc);
    ATOM atom = RegisterClassA(&wc);
    EXPECT_NE(atom, 0);
    WNDCLASSA again = makeClass("CLASSRULES", recordingProc);  // names compare without case
    EXPECT_EQ(RegisterClassA(&again), 0);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_CLASS_ALREADY_EXISTS});

    EXPECT_EQ(CreateWindowExA(0, "noclass", "x", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, instance, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_CANNOT_FIND_WND_CLASS});

    HWND hwnd =
        CreateWindowExA(0, "classrules", "x", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, instance, nullptr);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_FALSE(UnregisterClassA("classrules", instance));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_CLASS_HAS_WINDOWS});
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_TRUE(UnregisterClassA("classrules", instance));
    EXPECT_FALSE(UnregisterClassA("classrules", instance));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_CLASS_DOES_NOT_EXIST});

    // Predefined cursors come from the null module only; the program's module has none.
    EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
    EXPECT_EQ(LoadCursorA(instance, IDC_ARROW), nullptr);
}

TEST(Win32Windows, PopupWindowIsABorderlessOpenGLWindowWithTheTitle) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc = makeClass("popup", recordingProc);
    ASSERT_NE(RegisterClassA(&wc), 0);
    g_received.clear();
    int token = 7;
    HWND hwnd = CreateWindowExA(0, "popup", "Quorvane", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480, nullptr,
                                nullptr, instance, &token);
    ASSERT_NE(hwnd, nullptr) << SDL_GetError();
    EXPECT_TRUE(IsWindow(hwnd));
    ASSERT_GE(g_received.size(), 2u);
    EXPECT_EQ(g_received[0], UINT{WM_NCCREATE});
    EXPECT_EQ(g_received[1], UINT{WM_CREATE});
    EXPECT_EQ(g_create.lpCreateParams, &token);
    EXPECT_EQ(g_create.cx, 640);
    EXPECT_EQ(g_create.cy, 480);
    EXPECT_STREQ(g_create.lpszName, "Quorvane");

    SDL_Window* sdl = win32_sdl_window(hwnd);
    ASSERT_NE(sdl, nullptr);
    EXPECT_STREQ(SDL_GetWindowTitle(sdl), "Quorvane");
    Uint32 flags = SDL_GetWindowFlags(sdl);
    EXPECT_TRUE(flags & SDL_WINDOW_OPENGL);
    EXPECT_TRUE(flags & SDL_WINDOW_BORDERLESS);
    EXPECT_TRUE(flags & SDL_WINDOW_SHOWN);
    int w = 0, h = 0;
    SDL_GetWindowSize(sdl, &w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);

    // The window takes a double-buffered OpenGL 3.3 core context.
    SDL_GLContext context = SDL_GL_CreateContext(sdl);
    ASSERT_NE(context, nullptr) << SDL_GetError();
    int major = 0, minor = 0, profile = 0;
    SDL_GL_GetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, &major);
    SDL_GL_GetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, &minor);
    SDL_GL_GetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, &profile);
    EXPECT_GE(major * 10 + minor, 33);
    EXPECT_EQ(profile, int{SDL_GL_CONTEXT_PROFILE_CORE});
    SDL_GL_DeleteContext(context);

    // Desktop full screen and back.
    EXPECT_TRUE(win32_set_fullscreen(hwnd, true));
    EXPECT_EQ(SDL_GetWindowFlags(sdl) & SDL_WINDOW_FULLSCREEN_DESKTOP, Uint32{SDL_WINDOW_FULLSCREEN_DESKTOP});
    EXPECT_TRUE(win32_set_fullscreen(hwnd, false));
    EXPECT_EQ(SDL_GetWindowFlags(sdl) & SDL_WINDOW_FULLSCREEN, 0u);

    g_received.clear();
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(g_received, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(win32_sdl_window(hwnd), nullptr);
    EXPECT_FALSE(win32_set_fullscreen(hwnd, true));
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_WINDOW_HANDLE});
    EXPECT_TRUE(UnregisterClassA("popup", instance));
}

TEST(Win32Windows, ProcedureRefusingCreationGivesNoWindow) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc = makeClass("refuser", refusingCreateProc);
    ASSERT_NE(RegisterClassA(&wc), 0);
    EXPECT_EQ(CreateWindowExA(0, "refuser", "x", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, instance, nullptr),
              nullptr);
    EXPECT_TRUE(UnregisterClassA("refuser", instance));  // no window of the class was left behind
}

// One reading of the test switch for every layer: set and neither empty nor "0".
TEST(Win32Headless, OnlyANonEmptyValueOtherThanZeroMeansHeadless) {
    const char* before = std::getenv("QV_HEADLESS_TEST");
    const std::string saved = before ? before : "";
    const struct {
        const char* value;
        bool headless;
    } cases[] = {{nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}, {"00", true}};
    for (const auto& c : cases) {
        if (c.value)
            setenv("QV_HEADLESS_TEST", c.value, 1);
        else
            unsetenv("QV_HEADLESS_TEST");
        EXPECT_EQ(platform::headlessTest(), c.headless) << (c.value ? c.value : "(unset)");
    }
    if (before)
        setenv("QV_HEADLESS_TEST", saved.c_str(), 1);
    else
        unsetenv("QV_HEADLESS_TEST");
}

// The one decision every layer takes its display and GL dialect from, over the environments it meets:
// headless tests, SDL's drivers named or running, X11 and Wayland sessions, and the ES switch.
TEST(Win32Headless, OneDecisionForDisplayDriverAndDialect) {
    struct Case {
        const char* name;
        platform::Environment environment;
        bool headless, offscreenDriver, glEs;
    };
    const Case cases[] = {
        {"nothing set", {}, true, true, false},
        {"an X11 session", {nullptr, nullptr, ":0"}, false, false, false},
        {"a Wayland session", {nullptr, nullptr, nullptr, "wayland-0"}, false, false, false},
        {"a headless test in an X11 session", {"1", nullptr, ":0"}, true, false, false},
        {"the test switch off", {"0", nullptr, ":0"}, false, false, false},
        {"a headless test without a display", {"1"}, true, true, false},
        {"offscreen asked for in a session", {nullptr, "offscreen", ":0"}, true, false, false},
        {"dummy asked for in a session", {nullptr, "dummy", ":0"}, true, false, false},
        {"dummy without a display", {nullptr, "dummy"}, true, false, false},
        {"x11 asked for in a session", {nullptr, "x11", ":0"}, false, false, false},
        {"x11 asked for without a display", {nullptr, "x11"}, true, false, false},
        {"an empty driver name", {nullptr, "", ":0"}, false, false, false},
        {"ES asked for", {nullptr, nullptr, ":0", nullptr, "1"}, false, false, true},
        {"ES headless", {"1", "offscreen", nullptr, nullptr, "1"}, true, false, true},
        {"ES switch off", {nullptr, nullptr, ":0", nullptr, "0"}, false, false, false},
        {"ES switch not 1", {nullptr, nullptr, ":0", nullptr, "yes"}, false, false, false},
    };
    for (const Case& c : cases) {
        const platform::Decision d = platform::decide(c.environment);
        EXPECT_EQ(d.headless, c.headless) << c.name;
        EXPECT_EQ(d.offscreenDriver, c.offscreenDriver) << c.name;
        EXPECT_EQ(d.glEs, c.glEs) << c.name;
    }
}

// The process's decision reads its environment, and SDL's running driver counts over the one asked for.
TEST(Win32Headless, TheProcessDecisionFollowsItsEnvironment) {
    const char* names[] = {"QV_HEADLESS_TEST", "SDL_VIDEODRIVER", "DISPLAY", "WAYLAND_DISPLAY", "QV_GL_ES"};
    std::string saved[5];
    bool had[5];
    for (int i = 0; i < 5; ++i) {
        const char* v = std::getenv(names[i]);
        had[i] = v != nullptr;
        saved[i] = v ? v : "";
    }
    unsetenv("QV_HEADLESS_TEST");
    unsetenv("WAYLAND_DISPLAY");
    setenv("DISPLAY", ":0", 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("QV_GL_ES", "1", 1);
    EXPECT_FALSE(platform::headless(nullptr));
    EXPECT_TRUE(platform::headless("offscreen"));
    EXPECT_TRUE(platform::headless("dummy"));
    EXPECT_FALSE(platform::offscreenDriver());
    EXPECT_TRUE(platform::glEs());
    unsetenv("SDL_VIDEODRIVER");
    unsetenv("DISPLAY");
    unsetenv("QV_GL_ES");
    EXPECT_TRUE(platform::headless(nullptr));
    EXPECT_TRUE(platform::offscreenDriver());
    EXPECT_FALSE(platform::glEs());
    for (int i = 0; i < 5; ++i) {
        if (had[i])
            setenv(names[i], saved[i].c_str(), 1);
        else
            unsetenv(names[i]);
    }
}
