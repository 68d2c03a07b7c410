// Module handle, window classes, windows and the default window procedure.
#include <SDL.h>
#include <strings.h>

#include "platform/win32/headless.h"
#include "platform/win32/sdl_window.h"
#include "platform/win32/state.h"
#include "platform/win32/win32.h"

namespace win32 {

State& state() {
    static State s;
    return s;
}

Window* findWindow(HWND hWnd) {
    auto& windows = state().windows;
    auto it = windows.find(reinterpret_cast<uintptr_t>(hWnd));
    return it == windows.end() ? nullptr : &it->second;
}

HWND handleOf(SDL_Window* sdl) {
    if (!sdl) return nullptr;
    for (auto& [handle, window] : state().windows)
        if (window.sdl == sdl) return reinterpret_cast<HWND>(handle);
    return nullptr;
}

namespace {

// The program's module is mapped at Windows' default image base.
HMODULE const kProgramModule = reinterpret_cast<HMODULE>(uintptr_t{0x400000});

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

}  // namespace
}  // namespace win32

using namespace win32;

bool win32_sdl_video_init() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    if (platform::offscreenDriver()) SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    // Closing a window is a request to its procedure, not the end of the program.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // The desktop may blank the screen unless a window refuses when asked (see pumpEvents).
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    // The library to load depends on the dialect asked for.
    win32_gl_context_attributes();
    // The OpenGL library stays loaded for the process rather than with each window, so a later window does
    // not pay for loading it again (and leak checkers can still name its allocations at exit).
    SDL_GL_LoadLibrary(nullptr);
    SDL_ShowCursor(state().cursorCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
    return true;
}

void win32_gl_context_attributes() {
    const bool es = platform::glEs();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, es ? 0 : 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK,
                        es ? SDL_GL_CONTEXT_PROFILE_ES : SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

SDL_Window* win32_sdl_window(HWND hWnd) {
    Window* w = findWindow(hWnd);
    return w ? w->sdl : nullptr;
}

bool win32_set_fullscreen(HWND hWnd, bool fullScreen) {
    Window* w = findWindow(hWnd);
    if (!w) return false;
    if (fullScreen) {
        // Cover the desktop first: without a window manager the full-screen request alone leaves the
        // window at its old size while SDL already reports the desktop's.
        SDL_Rect bounds;
        if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(w->sdl), &bounds) == 0) {
            SDL_SetWindowPosition(w->sdl, bounds.x, bounds.y);
            SDL_SetWindowSize(w->sdl, bounds.w, bounds.h);
        }
    }
    return SDL_SetWindowFullscreen(w->sdl, fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) == 0;
}

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
    WNDPROC proc = c->wc.lpfnWndProc;
    ATOM atom = c->atom;
    if (!win32_sdl_video_init()) return nullptr;

    // The Direct3D layer draws with OpenGL 3.3 core (or ES 3.0) into an off-screen back buffer and blits it
    // to the window, so the window itself needs colour and double buffering only.
    SDL_GL_ResetAttributes();
    win32_gl_context_attributes();
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);

    Uint32 flags = SDL_WINDOW_OPENGL;
    flags |= (dwStyle & WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    if ((dwStyle & WS_CAPTION) != WS_CAPTION) flags |= SDL_WINDOW_BORDERLESS;
    int x = X == CW_USEDEFAULT ? int(SDL_WINDOWPOS_UNDEFINED) : X;
    int y = Y == CW_USEDEFAULT ? int(SDL_WINDOWPOS_UNDEFINED) : Y;
    int w = nWidth == CW_USEDEFAULT ? 640 : (nWidth > 0 ? nWidth : 1);
    int h = nHeight == CW_USEDEFAULT ? 480 : (nHeight > 0 ? nHeight : 1);
    SDL_Window* sdl = SDL_CreateWindow(lpWindowName ? lpWindowName : "", x, y, w, h, flags);
    if (!sdl) return nullptr;

    State& s = state();
    HWND hwnd = reinterpret_cast<HWND>(s.nextHandle);
    s.nextHandle += 4;
    Window& window = s.windows[reinterpret_cast<uintptr_t>(hwnd)];
    window.sdl = sdl;
    window.proc = proc;
    window.classAtom = atom;

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
        SDL_DestroyWindow(w->sdl);
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
