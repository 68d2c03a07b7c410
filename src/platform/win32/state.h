#pragma once
// Process-wide state of the Win32 layer (private to its sources), the same for the desktop and the browser.
// Windows keeps classes, windows and the message queue per process or per thread; the system runs on one
// thread, so one table of each suffices. window_table.cpp holds the Win32 calls over it; each build supplies
// the native side declared at the end (SDL windows and keys on the desktop, the page's canvas and keyboard
// in the browser).
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
    void* native = nullptr;  // the build's window behind the handle (an SDL window on the desktop)
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

    uint64_t lastScreenSaveAsk = 0;  // ticks of the last screen-saver request; 0 when none was made yet
    bool defaultSysCommand = false;  // DefWindowProcA received a screen-saver or monitor-power request
};

State& state();

Window* findWindow(HWND hWnd);
WindowClass* findClass(LPCSTR name, HINSTANCE instance);

// A key of virtual-key code `vk` went down or up, as the build's input reports it.
void setKey(int vk, bool down);

// Supplied by each build: the native window for CreateWindowExA (its title or null, its style, its position
// as given, CW_USEDEFAULT included, and its size in pixels), or null when there can be none; releasing the
// native window of a window being destroyed; whether the platform knows key `vk` to be down beyond the
// events translated so far; showing or hiding the cursor.
void* createNativeWindow(LPCSTR title, DWORD style, int x, int y, int width, int height);
void destroyNativeWindow(Window& window);
bool nativeKeyDown(int vk);
void showNativeCursor(bool show);

}  // namespace win32
