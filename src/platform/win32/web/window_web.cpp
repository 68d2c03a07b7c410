// The browser's side of the Win32 layer (the calls themselves are window_table.cpp and message_queue.cpp,
// the same for every build): one window at a time on the page's canvas, the keyboard from the page's key
// events, the cursor as the canvas's style, message boxes as text in the page. The browser runs the program
// on one thread; input arrives while the program yields to it once a frame.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdio>

#include "platform/win32/message_queue.h"
#include "platform/win32/state.h"
#include "platform/win32/web_canvas.h"
#include "platform/win32/win32.h"

namespace win32 {

namespace {

// The page's canvas: the native window behind the one window there can be.
char kCanvas[] = "#canvas";
bool keysHooked = false;

HWND firstWindow() {
    const auto& windows = state().windows;
    return windows.empty() ? nullptr : reinterpret_cast<HWND>(windows.begin()->first);
}

// Browser key codes of the keys the production knows are the Windows virtual-key codes.
EM_BOOL onKey(int type, const EmscriptenKeyboardEvent* e, void*) {
    const unsigned vk = e->keyCode & 0xFF;
    if (vk == 0) return EM_FALSE;
    const bool down = type == EMSCRIPTEN_EVENT_KEYDOWN;
    // Bits 16-23: scan code (unknown here), bit 30: previous state, bit 31: transition.
    LPARAM lParam = 1;
    if (down && state().keyDown[vk]) lParam |= LPARAM{1} << 30;
    if (!down) lParam |= (LPARAM{1} << 30) | (LPARAM{1} << 31);
    setKey(int(vk), down);
    post(firstWindow(), down ? WM_KEYDOWN : WM_KEYUP, vk, lParam);
    // The page keeps its own keys (reload, developer tools); the production's are taken.
    return vk == VK_ESCAPE || vk == ' ' || (vk >= 0x25 && vk <= 0x28) ? EM_TRUE : EM_FALSE;
}

void hookKeys() {
    if (keysHooked) return;
    keysHooked = true;
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, onKey);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, onKey);
}

}  // namespace

DWORD messageTime() {
    return static_cast<DWORD>(emscripten_get_now());
}

// Key events arrive through their callbacks while the program yields to the browser.
void pumpEvents() {}

void* createNativeWindow(LPCSTR title, DWORD, int, int, int width, int height) {
    if (!state().windows.empty()) return nullptr;  // the page has one canvas
    hookKeys();
    emscripten_set_canvas_element_size(kCanvas, width, height);
    if (title) EM_ASM({ document.title = UTF8ToString($0); }, title);
    return kCanvas;
}

// The canvas stays with the page.
void destroyNativeWindow(Window&) {}

// The page's key events are all there is.
bool nativeKeyDown(int) {
    return false;
}

void showNativeCursor(bool show) {
    EM_ASM(
        {
            var c = document.querySelector('#canvas');
            if (c) c.style.cursor = $0 ? 'default' : 'none';
        },
        show ? 1 : 0);
}

}  // namespace win32

using namespace win32;

const char* win32_canvas(HWND hWnd) {
    Window* w = findWindow(hWnd);
    return w && !w->destroying ? kCanvas : nullptr;
}

bool win32_set_fullscreen(HWND hWnd, bool fullScreen) {
    if (!findWindow(hWnd)) return false;
    // The page lays the canvas out; this only tells it which way (see index.html).
    EM_ASM(
        {
            if (Module.setFullPage) Module.setFullPage($0 != 0);
        },
        fullScreen ? 1 : 0);
    return true;
}

void win32_yield() {
    // Counted for the page's benchmark (frames shown).
    EM_ASM({ Module.qvFrames = (Module.qvFrames || 0) + 1; });
    emscripten_sleep(0);
}

int WINAPI MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT) {
    // Shown in the page (see index.html) and on the console; the browser has no modal box worth blocking on.
    const char* text = lpText ? lpText : "";
    std::fprintf(stderr, "%s%s%s\n", lpCaption ? lpCaption : "", lpCaption ? ": " : "", text);
    EM_ASM(
        {
            if (Module.showMessage) Module.showMessage(UTF8ToString($0));
        },
        text);
    return 1;  // IDOK
}
