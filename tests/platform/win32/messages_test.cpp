// The message queue over SDL's events: posted messages, WM_QUIT, close requests, key messages with
// virtual-key codes, the screen-saver request, the key state, the cursor counter and message boxes.
#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/sdl_window.h"
#include "platform/win32/win32.h"
#include "test_window.h"

namespace {

struct Received {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Received> g_received;
bool g_refuseScreenSaver = false;

LRESULT CALLBACK testProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    g_received.push_back({hwnd, message, wParam, lParam});
    if (message == WM_CLOSE) {
        PostQuitMessage(3);
        return 0;
    }
    if (message == WM_SYSCOMMAND && g_refuseScreenSaver &&
        (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER))
        return 0;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Drains the queue like the production's loop and returns what was taken out, in order.
std::vector<MSG> drain() {
    std::vector<MSG> out;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        out.push_back(msg);
    }
    return out;
}

std::vector<UINT> kinds(const std::vector<MSG>& messages) {
    std::vector<UINT> out;
    for (const MSG& m : messages) out.push_back(m.message);
    return out;
}

void pushKey(HWND hwnd, Uint32 type, SDL_Keycode sym, SDL_Scancode scancode, Uint16 mod = KMOD_NONE,
             bool repeat = false) {
    SDL_Event e{};
    e.type = type;
    e.key.windowID = SDL_GetWindowID(win32_sdl_window(hwnd));
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = scancode;
    e.key.keysym.mod = mod;
    ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

class Win32Messages : public ::testing::Test {
protected:
    void SetUp() override {
        g_received.clear();
        g_refuseScreenSaver = false;
        instance = GetModuleHandleA(nullptr);
        ASSERT_NE(qvtest::registerClass("messages", testProc), 0);
        hwnd = qvtest::showWindow("messages");
        ASSERT_NE(hwnd, nullptr);
        drain();
        g_received.clear();
    }
    void TearDown() override {
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
        drain();
        UnregisterClassA("messages", instance);
    }
    HINSTANCE instance = nullptr;
    HWND hwnd = nullptr;
};

}  // namespace

TEST_F(Win32Messages, PostedMessagesComeInOrderAndQuitComesLastAndOnce) {
    PostQuitMessage(5);
    ASSERT_TRUE(PostMessageA(hwnd, WM_USER + 1, 10, 20));
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 2, 0, 0));  // a thread message
    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(uintptr_t{0xdead0}), WM_USER, 0, 0));

    // Filters: by range and by window; PM_NOREMOVE leaves the message in place.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 2, PM_NOREMOVE));
    EXPECT_EQ(msg.message, UINT{WM_USER + 2});
    EXPECT_EQ(msg.hwnd, nullptr);
    ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(intptr_t{-1}), 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, UINT{WM_USER + 2});
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, UINT{WM_USER + 1});

    std::vector<MSG> got = drain();
    ASSERT_EQ(kinds(got), (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_QUIT}));
    EXPECT_EQ(got[0].wParam, WPARAM{10});
    EXPECT_EQ(got[0].lParam, LPARAM{20});
    EXPECT_EQ(got[2].wParam, WPARAM{5});
    EXPECT_EQ(got[2].hwnd, nullptr);
    // Only window messages reach the procedure.
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].message, UINT{WM_USER + 1});
    EXPECT_TRUE(drain().empty());
}

TEST_F(Win32Messages, CloseAndQuitEventsBecomeWmClose) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    e.window.windowID = SDL_GetWindowID(win32_sdl_window(hwnd));
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    EXPECT_EQ(kinds(drain()), (std::vector<UINT>{WM_CLOSE, WM_QUIT}));
    ASSERT_FALSE(g_received.empty());
    EXPECT_EQ(g_received[0].message, UINT{WM_CLOSE});
    EXPECT_EQ(g_received[0].hwnd, hwnd);

    g_received.clear();
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&quit), 1);
    EXPECT_EQ(kinds(drain()), (std::vector<UINT>{WM_CLOSE, WM_QUIT}));
    EXPECT_TRUE(IsWindow(hwnd));  // the procedure decides; this one does not destroy the window
}

TEST_F(Win32Messages, AltF4ClosesThroughTheSystemMenu) {
    pushKey(hwnd, SDL_KEYDOWN, SDLK_LALT, SDL_SCANCODE_LALT, KMOD_LALT);
    pushKey(hwnd, SDL_KEYDOWN, SDLK_F4, SDL_SCANCODE_F4, KMOD_LALT);
    std::vector<MSG> got = drain();
    std::vector<Received> received = g_received;
    pushKey(hwnd, SDL_KEYUP, SDLK_F4, SDL_SCANCODE_F4, KMOD_LALT);
    pushKey(hwnd, SDL_KEYUP, SDLK_LALT, SDL_SCANCODE_LALT, KMOD_NONE);
    drain();

    ASSERT_EQ(kinds(got), (std::vector<UINT>{WM_SYSKEYDOWN, WM_SYSKEYDOWN, WM_QUIT}));
    EXPECT_EQ(got[0].wParam, WPARAM{VK_MENU});
    EXPECT_EQ(got[1].wParam, WPARAM{VK_F4});
    EXPECT_TRUE(got[1].lParam & (LPARAM{1} << 29));  // Alt held
    std::vector<UINT> procSaw;
    for (auto& r : received) procSaw.push_back(r.message);
    ASSERT_EQ(procSaw, (std::vector<UINT>{WM_SYSKEYDOWN, WM_SYSKEYDOWN, WM_SYSCOMMAND, WM_CLOSE}));
    EXPECT_EQ(received[2].wParam, WPARAM{SC_CLOSE});
}

TEST_F(Win32Messages, KeyPressesGiveVirtualKeyCodesWithRepeatsAndReleases) {
    struct Key {
        SDL_Keycode sym;
        SDL_Scancode scancode;
        int vk;
    };
    const Key keys[] = {
        {SDLK_a, SDL_SCANCODE_A, 'A'},
        {SDLK_z, SDL_SCANCODE_Z, 'Z'},
        {SDLK_0, SDL_SCANCODE_0, '0'},
        {SDLK_7, SDL_SCANCODE_7, '7'},
        {SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, VK_ESCAPE},
        {SDLK_RETURN, SDL_SCANCODE_RETURN, VK_RETURN},
        {SDLK_SPACE, SDL_SCANCODE_SPACE, VK_SPACE},
        {SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, VK_SHIFT},
        {SDLK_RCTRL, SDL_SCANCODE_RCTRL, VK_CONTROL},
        {SDLK_F1, SDL_SCANCODE_F1, VK_F1},
        {SDLK_F12, SDL_SCANCODE_F12, VK_F12},
        {SDLK_LEFT, SDL_SCANCODE_LEFT, VK_LEFT},
        {SDLK_PAGEDOWN, SDL_SCANCODE_PAGEDOWN, VK_NEXT},
        {SDLK_KP_5, SDL_SCANCODE_KP_5, VK_NUMPAD5},
        {SDLK_KP_PLUS, SDL_SCANCODE_KP_PLUS, VK_ADD},
        {SDLK_MINUS, SDL_SCANCODE_MINUS, VK_OEM_MINUS},
        {SDLK_SLASH, SDL_SCANCODE_SLASH, VK_OEM_2},
        // A symbol with no code of its own (a Cyrillic letter) goes by the key's position.
        {0x0444, SDL_SCANCODE_A, 'A'},
    };
    for (const Key& k : keys) {
        SCOPED_TRACE(k.vk);
        pushKey(hwnd, SDL_KEYDOWN, k.sym, k.scancode);
        pushKey(hwnd, SDL_KEYDOWN, k.sym, k.scancode, KMOD_NONE, true);  // auto-repeat
        pushKey(hwnd, SDL_KEYUP, k.sym, k.scancode);
        std::vector<MSG> got = drain();
        ASSERT_EQ(kinds(got), (std::vector<UINT>{WM_KEYDOWN, WM_KEYDOWN, WM_KEYUP}));
        for (const MSG& m : got) {
            EXPECT_EQ(m.wParam, WPARAM(k.vk));
            EXPECT_EQ(m.hwnd, hwnd);
            EXPECT_EQ(m.lParam & 0xFFFF, 1);  // repeat count
        }
        EXPECT_FALSE(got[0].lParam & (LPARAM{1} << 30));  // first press: the key was up
        EXPECT_TRUE(got[1].lParam & (LPARAM{1} << 30));   // repeat: the key was down
        EXPECT_TRUE(got[2].lParam & (LPARAM{1} << 31));   // release
    }
    // F10 is a system key even without Alt.
    pushKey(hwnd, SDL_KEYDOWN, SDLK_F10, SDL_SCANCODE_F10);
    pushKey(hwnd, SDL_KEYUP, SDLK_F10, SDL_SCANCODE_F10);
    EXPECT_EQ(kinds(drain()), (std::vector<UINT>{WM_SYSKEYDOWN, WM_SYSKEYUP}));
}

TEST_F(Win32Messages, AsyncKeyStateFollowsTheKeyboard) {
    GetAsyncKeyState(VK_ESCAPE);  // forget earlier presses
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
    pushKey(hwnd, SDL_KEYDOWN, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
    // Down, and pressed since the last call; the key message still waits in the queue.
    EXPECT_EQ(static_cast<uint16_t>(GetAsyncKeyState(VK_ESCAPE)), 0x8001);
    EXPECT_EQ(static_cast<uint16_t>(GetAsyncKeyState(VK_ESCAPE)), 0x8000);
    EXPECT_FALSE(GetAsyncKeyState('A') & 0x8000);
    pushKey(hwnd, SDL_KEYUP, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
    EXPECT_EQ(kinds(drain()), (std::vector<UINT>{WM_KEYDOWN, WM_KEYUP}));

    // A tap between two polls still shows in the low bit.
    pushKey(hwnd, SDL_KEYDOWN, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
    pushKey(hwnd, SDL_KEYUP, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
    drain();
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 1);
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);

    // Sided and generic codes for the modifiers.
    pushKey(hwnd, SDL_KEYDOWN, SDLK_RSHIFT, SDL_SCANCODE_RSHIFT, KMOD_RSHIFT);
    EXPECT_TRUE(GetAsyncKeyState(VK_SHIFT) & 0x8000);
    EXPECT_TRUE(GetAsyncKeyState(VK_RSHIFT) & 0x8000);
    EXPECT_FALSE(GetAsyncKeyState(VK_LSHIFT) & 0x8000);
    pushKey(hwnd, SDL_KEYUP, SDLK_RSHIFT, SDL_SCANCODE_RSHIFT);
    drain();
    EXPECT_FALSE(GetAsyncKeyState(VK_SHIFT) & 0x8000);
    EXPECT_EQ(GetAsyncKeyState(0), 0);
    EXPECT_EQ(GetAsyncKeyState(256), 0);
}

TEST(Win32ScreenSaver, TheScreenStaysAwakeOnlyWhileTheWindowRefuses) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    ASSERT_NE(qvtest::registerClass("saver", testProc), 0);

    for (bool refuse : {true, false}) {
        SCOPED_TRACE(refuse);
        g_refuseScreenSaver = refuse;
        g_received.clear();
        HWND hwnd = qvtest::showWindow("saver");
        ASSERT_NE(hwnd, nullptr);
        drain();  // the first pump with a window asks at once
        std::vector<WPARAM> commands;
        for (auto& r : g_received)
            if (r.message == WM_SYSCOMMAND) commands.push_back(r.wParam);
        EXPECT_EQ(commands, (std::vector<WPARAM>{SC_SCREENSAVE, SC_MONITORPOWER}));
        EXPECT_EQ(SDL_IsScreenSaverEnabled(), refuse ? SDL_FALSE : SDL_TRUE);
        DestroyWindow(hwnd);
        drain();
    }
    g_refuseScreenSaver = false;
    EXPECT_TRUE(UnregisterClassA("saver", instance));
}

TEST(Win32Cursor, ShowCursorKeepsADisplayCounter) {
    ASSERT_TRUE(win32_sdl_video_init());
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);  // still hidden: the counter is below zero
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    EXPECT_EQ(ShowCursor(TRUE), 1);
    EXPECT_EQ(ShowCursor(FALSE), 0);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

TEST(Win32MessageBox, TextAlwaysReachesStandardError) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Lost device.", nullptr, MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "Your GPU is from Poland!", "Warning", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "Failed to load a.png\nfile not found", nullptr, MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Lost device.\nWarning: Your GPU is from Poland!\nError: Failed to load a.png\nfile not "
              "found\n");
}
