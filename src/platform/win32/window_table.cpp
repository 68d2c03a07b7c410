// Module handle, window classes, windows, the default window procedure, the asynchronous key state and the
// cursor's display counter over the layer's tables (state.h): the same for every build.
#include <strings.h>

#include "platform/win32/message_queue.h"
#include "platform/win32/state.h"
#include "platform/win32/win32.h"

namespace win32 {

namespace {

// The program's module is mapped at Windows' default image base.
HMODULE const kProgramModule = reinterpret_cast<HMODULE>(uintptr_t{0x400000});

}  // namespace

State& state() {
    static State s;
    return s;
}

Window* findWindow(HWND hWnd) {
    auto& windows = state().windows;
    auto it = windows.find(reinterpret_cast<uintptr_t>(hWnd));
    return it == windows.end() ? nullptr : &it->second;
}

// Window classes are found by name (case-insensitive, or an atom) and module, as Windows does for a
// program's own classes.
WindowClass* findClass(LPCSTR name, HINSTANCE instance) {
    for (auto& c : state().classes) {
        if (c.wc.hInstance != instance) continue;
        if (IS_INTRESOURCE(name) ? c.atom == reinterpret_cast<uintptr_t>(name)
                                 : strcasecmp(c.name.c_str(), name) == 0)
            return &c;
    }
    return nullptr;
}

void setKey(int vk, bool down) {
    State& s = state();
    if (down && !s.keyDown[vk]) s.pressedSinceLast[vk] = 1;
    s.keyDown[vk] = down;
}

}  // namespace win32

using namespace win32;

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (!lpModuleName) return kProgramModule;
    SetLastError(126);  // ERROR_MOD_NOT_FOUND: no other module is loaded
    return nullptr;
}

DWORD WINAPI GetLastError() {
    return state().lastError;
}

void WINAPI SetLastError(DWORD dwErrCode) {
    state().lastError = dwErrCode;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass) {
    if (!lpWndClass || !lpWndClass->lpfnWndProc || !lpWndClass->lpszClassName ||
        IS_INTRESOURCE(lpWndClass->lpszClassName) || !*lpWndClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (findClass(lpWndClass->lpszClassName, lpWndClass->hInstance)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    State& s = state();
    WindowClass c;
    c.name = lpWndClass->lpszClassName;
    c.wc = *lpWndClass;
    c.wc.lpszClassName = nullptr;  // the owned name is the one that counts
    c.wc.lpszMenuName = nullptr;
    c.atom = s.nextAtom++;
    if (s.nextAtom == 0) s.nextAtom = 0xC000;
    s.classes.push_back(std::move(c));
    return s.classes.back().atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
    if (!lpClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    WindowClass* c = findClass(lpClassName, hInstance);
    if (!c) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (auto& entry : state().windows)
        if (entry.second.classAtom == c->atom) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    auto& classes = state().classes;
    classes.erase(classes.begin() + (c - classes.data()));
    return TRUE;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    // The system's cursors (IDC_ARROW 32512 to IDC_HELP 32651) load from the null module only.
    if (!hInstance && IS_INTRESOURCE(lpCursorName)) {
        uintptr_t id = reinterpret_cast<uintptr_t>(lpCursorName);
        if (id >= 32512 && id <= 32651) return reinterpret_cast<HCURSOR>(0x20000 + id);
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                            int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    WindowClass* c = lpClassName ? findClass(lpClassName, hInstance) : nullptr;
    if (!c) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    const int width = nWidth == CW_USEDEFAULT ? 640 : (nWidth > 0 ? nWidth : 1);
    const int height = nHeight == CW_USEDEFAULT ? 480 : (nHeight > 0 ? nHeight : 1);
    void* native = createNativeWindow(lpWindowName, dwStyle, X, Y, width, height);
    if (!native) return nullptr;

    State& s = state();
    HWND hwnd = reinterpret_cast<HWND>(s.nextHandle);
    s.nextHandle += 4;
    Window& window = s.windows[reinterpret_cast<uintptr_t>(hwnd)];
    window.native = native;
    window.proc = c->wc.lpfnWndProc;
    window.classAtom = c->atom;

    // A procedure that refuses WM_NCCREATE or WM_CREATE stops the creation.
    if (!sendCreateMessages(hwnd, dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth, nHeight,
                            hWndParent, hMenu, hInstance, lpParam)) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    if (!findWindow(hwnd)) return nullptr;  // destroyed by its own procedure during creation
    return hwnd;
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
    w = findWindow(hWnd);
    if (w) {
        destroyNativeWindow(*w);
        state().windows.erase(reinterpret_cast<uintptr_t>(hWnd));
    }
    dropMessages(hWnd);  // messages still queued for the window die with it
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    return findWindow(hWnd) ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    switch (Msg) {
        case WM_NCCREATE:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(hWnd);
            return 0;
        case WM_SYSKEYDOWN:
            // Alt+F4 goes through the system menu's close command.
            if (wParam == VK_F4 && (lParam & (LPARAM{1} << 29)))
                SendMessageA(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
            return 0;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {  // the low four bits are the system's own
                case SC_CLOSE:
                    SendMessageA(hWnd, WM_CLOSE, 0, 0);
                    break;
                case SC_SCREENSAVE:
                case SC_MONITORPOWER:
                    state().defaultSysCommand = true;  // the default is to let the desktop blank
                    break;
            }
            return 0;
        default:
            return 0;
    }
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Window* w = findWindow(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    WNDPROC proc = w->proc;  // the procedure may destroy the window
    return proc(hWnd, Msg, wParam, lParam);
}

SHORT WINAPI GetAsyncKeyState(int vKey) {
    if (vKey <= 0 || vKey > 255) return 0;
    pumpEvents();
    State& s = state();
    const bool down = s.keyDown[vKey] != 0 || nativeKeyDown(vKey);
    // The most significant bit: down now; the least: pressed since the previous call.
    uint16_t result = down ? 0x8000 : 0;
    if (s.pressedSinceLast[vKey]) result |= 1;
    s.pressedSinceLast[vKey] = 0;
    return static_cast<SHORT>(result);
}

int WINAPI ShowCursor(BOOL bShow) {
    State& s = state();
    s.cursorCount += bShow ? 1 : -1;
    showNativeCursor(s.cursorCount >= 0);
    return s.cursorCount;
}
