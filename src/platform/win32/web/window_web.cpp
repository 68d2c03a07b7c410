// The Win32 calls over the page: one window at a time on the page's canvas, the keyboard from the page's key
// events, message boxes as text in the page. The browser runs the program on one thread; input arrives while
// the program yields to it once a frame.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/message_queue.h"
#include "platform/win32/web_canvas.h"
#include "platform/win32/win32.h"

namespace {

struct WindowClass {
    std::string name;
    WNDCLASSA wc;
    ATOM atom;
};

struct Window {
    WNDPROC proc = nullptr;
    bool destroying = false;
};

struct State {
    std::vector<WindowClass> classes;
    std::map<uintptr_t, Window> windows;
    uintptr_t nextHandle = 0x10010;
    ATOM nextAtom = 0xC000;
    DWORD lastError = ERROR_SUCCESS;
    int cursorCount = 0;
    uint8_t keyDown[256] = {};
    uint8_t pressedSinceLast[256] = {};
    bool keysHooked = false;
} g;

const char* const kCanvas = "#canvas";

Window* findWindow(HWND hWnd) {
    auto it = g.windows.find(reinterpret_cast<uintptr_t>(hWnd));
    return it == g.windows.end() ? nullptr : &it->second;
}

HWND firstWindow() {
    return g.windows.empty() ? nullptr : reinterpret_cast<HWND>(g.windows.begin()->first);
}

// Browser key codes of the keys the production knows are the Windows virtual-key codes.
EM_BOOL onKey(int type, const EmscriptenKeyboardEvent* e, void*) {
    const unsigned vk = e->keyCode & 0xFF;
    if (vk == 0) return EM_FALSE;
    const bool down = type == EMSCRIPTEN_EVENT_KEYDOWN;
    // Bits 16-23: scan code (unknown here), bit 30: previous state, bit 31: transition.
    LPARAM lParam = 1;
    if (down && g.keyDown[vk]) lParam |= LPARAM{1} << 30;
    if (!down) lParam |= (LPARAM{1} << 30) | (LPARAM{1} << 31);
    g.keyDown[vk] = down ? 1 : 0;
    if (down) g.pressedSinceLast[vk] = 1;
    win32::post(firstWindow(), down ? WM_KEYDOWN : WM_KEYUP, vk, lParam);
    // The page keeps its own keys (reload, developer tools); the production's are taken.
    return vk == VK_ESCAPE || vk == ' ' || (vk >= 0x25 && vk <= 0x28) ? EM_TRUE : EM_FALSE;
}

void hookKeys() {
    if (g.keysHooked) return;
    g.keysHooked = true;
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, onKey);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, onKey);
}

}  // namespace

namespace win32 {

DWORD messageTime() {
    return static_cast<DWORD>(emscripten_get_now());
}

// Key events arrive through their callbacks while the program yields to the browser.
void pumpEvents() {}

}  // namespace win32

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

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    static char image;
    return lpModuleName ? nullptr : reinterpret_cast<HMODULE>(&image);
}

DWORD WINAPI GetLastError() {
    return g.lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    g.lastError = dwErrCode;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    for (const WindowClass& c : g.classes)
        if (c.name == wc->lpszClassName) {
            SetLastError(ERROR_CLASS_ALREADY_EXISTS);
            return 0;
        }
    WindowClass c{wc->lpszClassName, *wc, g.nextAtom++};
    c.wc.lpszClassName = nullptr;  // the copy's name lives in `name`
    g.classes.push_back(c);
    return c.atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE) {
    for (auto it = g.classes.begin(); it != g.classes.end(); ++it)
        if (lpClassName && it->name == lpClassName) {
            g.classes.erase(it);
            return TRUE;
        }
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR lpCursorName) {
    return lpCursorName == IDC_ARROW ? reinterpret_cast<HCURSOR>(1) : nullptr;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                            int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    const WindowClass* c = nullptr;
    for (const WindowClass& k : g.classes)
        if (lpClassName && k.name == lpClassName) c = &k;
    if (!c) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (!g.windows.empty()) return nullptr;  // the page has one canvas
    hookKeys();
    const int w = nWidth == CW_USEDEFAULT ? 640 : (nWidth > 0 ? nWidth : 1);
    const int h = nHeight == CW_USEDEFAULT ? 480 : (nHeight > 0 ? nHeight : 1);
    emscripten_set_canvas_element_size(kCanvas, w, h);
    if (lpWindowName) EM_ASM({ document.title = UTF8ToString($0); }, lpWindowName);

    HWND hwnd = reinterpret_cast<HWND>(g.nextHandle);
    g.nextHandle += 4;
    g.windows[reinterpret_cast<uintptr_t>(hwnd)].proc = c->wc.lpfnWndProc;
    if (!win32::sendCreateMessages(hwnd, dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight,
                                   hWndParent, hMenu, hInstance, lpParam)) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    return findWindow(hwnd) ? hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    Window* w = findWindow(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->destroying) return TRUE;
    w->destroying = true;
    SendMessageA(hWnd, WM_DESTROY, 0, 0);
    SendMessageA(hWnd, WM_NCDESTROY, 0, 0);
    g.windows.erase(reinterpret_cast<uintptr_t>(hWnd));
    win32::dropMessages(hWnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    return findWindow(hWnd) ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM) {
    switch (Msg) {
        case WM_NCCREATE:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(hWnd);
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(hWnd, WM_CLOSE, 0, 0);
            return 0;
        default:
            return 0;
    }
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Window* w = findWindow(hWnd);
    if (!w || !w->proc) return 0;
    return w->proc(hWnd, Msg, wParam, lParam);
}

SHORT WINAPI GetAsyncKeyState(int vKey) {
    if (vKey < 0 || vKey > 255) return 0;
    SHORT r = g.keyDown[vKey] ? SHORT(0x8000) : SHORT(0);
    if (g.pressedSinceLast[vKey]) r |= 1;
    g.pressedSinceLast[vKey] = 0;
    return r;
}

int WINAPI ShowCursor(BOOL bShow) {
    g.cursorCount += bShow ? 1 : -1;
    EM_ASM(
        {
            var c = document.querySelector('#canvas');
            if (c) c.style.cursor = $0 >= 0 ? 'default' : 'none';
        },
        g.cursorCount);
    return g.cursorCount;
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
