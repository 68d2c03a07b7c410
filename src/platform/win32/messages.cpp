// SDL's events into the thread's message queue (message_queue.cpp), the keyboard and cursor behind the
// asynchronous key state and the cursor's display counter (window_table.cpp), and message boxes.
#include <SDL.h>

#include <cstdio>

#include "platform/win32/headless.h"
#include "platform/win32/message_queue.h"
#include "platform/win32/sdl_state.h"
#include "platform/win32/sdl_window.h"
#include "platform/win32/win32.h"

namespace win32 {

namespace {

// The desktop's idle timer cannot be read through SDL, so the layer asks as soon as a window exists and
// again every minute (the shortest screen-saver timeout Windows offers); the screen stays awake only while
// the latest answer was a refusal.
constexpr uint64_t kScreenSaveAskMs = 60000;

void postToAllWindows(UINT message) {
    for (auto& entry : state().windows) post(reinterpret_cast<HWND>(entry.first), message, 0, 0);
}

HWND keyboardWindow(const SDL_KeyboardEvent& key) {
    HWND hwnd = handleOf(SDL_GetWindowFromID(key.windowID));
    if (!hwnd) hwnd = handleOf(SDL_GetKeyboardFocus());
    if (!hwnd && !state().windows.empty()) hwnd = reinterpret_cast<HWND>(state().windows.begin()->first);
    return hwnd;
}

void translateKey(const SDL_KeyboardEvent& key) {
    bool down = key.type == SDL_KEYDOWN;
    int vk = vkFromKey(key.keysym.sym, key.keysym.scancode);
    setKey(vk, down);
    if (int sided = sidedVk(key.keysym.sym)) setKey(sided, down);
    HWND hwnd = keyboardWindow(key);
    if (!hwnd) return;  // no window, no keyboard focus: Windows delivers nothing either

    // Alt (without Ctrl, which makes AltGr) and F10 make system keys; the rest are ordinary key messages.
    bool alt = (key.keysym.mod & KMOD_ALT) || vk == VK_MENU;
    bool ctrl = (key.keysym.mod & KMOD_CTRL) != 0;
    bool system = (alt && !ctrl) || vk == VK_F10;
    // lParam: repeat count 1, context code (Alt held) in bit 29, previous key state in bit 30 (set for an
    // auto-repeat and for every release), transition state in bit 31 (set for a release).
    LPARAM lParam = 1;
    if (alt) lParam |= LPARAM{1} << 29;
    if (!down || key.repeat) lParam |= LPARAM{1} << 30;
    if (!down) lParam |= LPARAM{1} << 31;
    UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    post(hwnd, message, static_cast<WPARAM>(vk), lParam);
}

// A full-screen window that loses the focus is minimised, as Windows does when the user switches away; its
// full-screen device has then lost its display. Where the video driver cannot minimise, or the window
// manager does so only later, the window is hidden as well, to the same effect at once.
void leaveFullScreen(SDL_Window* w) {
    if (!w || !(SDL_GetWindowFlags(w) & SDL_WINDOW_FULLSCREEN)) return;
    SDL_MinimizeWindow(w);
    if (!(SDL_GetWindowFlags(w) & SDL_WINDOW_MINIMIZED)) SDL_HideWindow(w);
}

void translate(const SDL_Event& e) {
    switch (e.type) {
        case SDL_QUIT:  // an interrupt or a session ending: ask every window to close
            postToAllWindows(WM_CLOSE);
            break;
        case SDL_WINDOWEVENT: {
            HWND hwnd = handleOf(SDL_GetWindowFromID(e.window.windowID));
            if (!hwnd) break;
            if (e.window.event == SDL_WINDOWEVENT_CLOSE) post(hwnd, WM_CLOSE, 0, 0);
            if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) post(hwnd, WM_ACTIVATEAPP, TRUE, 0);
            if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
                post(hwnd, WM_ACTIVATEAPP, FALSE, 0);
                leaveFullScreen(SDL_GetWindowFromID(e.window.windowID));
            }
            break;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            translateKey(e.key);
            break;
        default:
            break;
    }
}

// Sends WM_SYSCOMMAND to the window and tells whether it left the request to DefWindowProcA.
bool allowsSysCommand(HWND hwnd, WPARAM command, LPARAM lParam) {
    State& s = state();
    s.defaultSysCommand = false;
    SendMessageA(hwnd, WM_SYSCOMMAND, command, lParam);
    bool allowed = s.defaultSysCommand;
    s.defaultSysCommand = false;
    return allowed;
}

void askScreenSaver() {
    State& s = state();
    if (s.windows.empty()) {
        s.lastScreenSaveAsk = 0;
        return;
    }
    uint64_t now = SDL_GetTicks64();
    if (s.lastScreenSaveAsk && now - s.lastScreenSaveAsk < kScreenSaveAskMs) return;
    s.lastScreenSaveAsk = now ? now : 1;
    HWND target = handleOf(SDL_GetKeyboardFocus());
    if (!target) target = reinterpret_cast<HWND>(s.windows.begin()->first);
    bool allowed = allowsSysCommand(target, SC_SCREENSAVE, 0);
    if (IsWindow(target)) allowed = allowsSysCommand(target, SC_MONITORPOWER, 2) || allowed;  // 2: power off
    if (allowed)
        SDL_EnableScreenSaver();
    else
        SDL_DisableScreenSaver();
}

bool realDisplay() {
    return !platform::headless(SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetCurrentVideoDriver() : nullptr);
}

}  // namespace

DWORD messageTime() {
    return static_cast<DWORD>(SDL_GetTicks64());
}

// SDL's pending events into the message queue; and the screen-saver question when due.
void pumpEvents() {
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    SDL_PumpEvents();
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) translate(e);
    askScreenSaver();
}

// SDL's own keyboard state also knows keys whose events are not translated yet; without the focus SDL hears
// of no keys, but the X server still knows the keyboard.
bool nativeKeyDown(int vk) {
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        int count = 0;
        const Uint8* keys = SDL_GetKeyboardState(&count);
        for (int sc = 0; sc < count; ++sc) {
            if (!keys[sc]) continue;
            SDL_Keycode sym = SDL_GetKeyFromScancode(static_cast<SDL_Scancode>(sc));
            if (vkFromKey(sym, static_cast<SDL_Scancode>(sc)) == vk || sidedVk(sym) == vk) return true;
        }
    }
    return serverKeyDown(vk);
}

void showNativeCursor(bool show) {
    if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

}  // namespace win32

using namespace win32;

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    const char* caption = lpCaption ? lpCaption : "Error";  // Windows' default caption
    const char* text = lpText ? lpText : "";
    // Standard error always gets the text, so it is seen even where no box can be shown.
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    if (realDisplay()) {
        Uint32 flags = 0;
        switch (uType & 0xF0) {
            case MB_ICONERROR:
                flags = SDL_MESSAGEBOX_ERROR;
                break;
            case MB_ICONWARNING:
                flags = SDL_MESSAGEBOX_WARNING;
                break;
            case MB_ICONINFORMATION:
                flags = SDL_MESSAGEBOX_INFORMATION;
                break;
            default:
                break;
        }
        SDL_ShowSimpleMessageBox(flags, caption, text, win32_sdl_window(hWnd));
    }
    return IDOK;
}
