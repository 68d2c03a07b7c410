#pragma once
// Process-wide state of the Win32 layer (private to its sources). Windows keeps classes, windows and the
// message queue per process or per thread; the system runs on one thread, so one table of each suffices.
#include <SDL.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/message_queue.h"
#include "platform/win32/win32.h"

namespace win32 {

struct WindowClass {
    std::string name;  // owned copy: the caller's class name need not outlive the registration
    WNDCLASSA wc;
    ATOM atom;
};

struct Window {
    SDL_Window* sdl = nullptr;
    WNDPROC proc = nullptr;
    ATOM classAtom = 0;
    bool destroying = false;
};

struct State {
    std::vector<WindowClass> classes;
    std::map<uintptr_t, Window> windows;
    uintptr_t nextHandle = 0x10010;
    ATOM nextAtom = 0xC000;

    DWORD lastError = ERROR_SUCCESS;
    int cursorCount = 0;  // the cursor shows while the display counter is >= 0

    uint8_t keyDown[256] = {};           // from the key events the layer has translated
    uint8_t pressedSinceLast[256] = {};  // GetAsyncKeyState's low bit

    uint64_t lastScreenSaveAsk = 0;  // SDL ticks of the last request; 0 when none was made yet
    bool defaultSysCommand = false;  // DefWindowProcA received a screen-saver or monitor-power request
};

State& state();

Window* findWindow(HWND hWnd);
HWND handleOf(SDL_Window* sdl);

// Windows virtual-key code of an SDL key (0xFF when it has none); sided codes for VK_LSHIFT and friends.
int vkFromKey(SDL_Keycode sym, SDL_Scancode scancode);
int sidedVk(SDL_Keycode sym);

// Whether the X server has the key of virtual-key code `vk` down, whichever window has the focus; false where
// SDL does not draw through X11 and for keys it does not map.
bool serverKeyDown(int vk);

}  // namespace win32
