// SDL windows behind the window handles: video start-up, the GL context attributes, making and releasing
// them, full screen (the window calls themselves are window_table.cpp, the same for every build).
#include <SDL.h>

#include "platform/win32/headless.h"
#include "platform/win32/sdl_state.h"
#include "platform/win32/sdl_window.h"
#include "platform/win32/win32.h"

namespace win32 {

HWND handleOf(SDL_Window* sdl) {
    if (!sdl) return nullptr;
    for (auto& [handle, window] : state().windows)
        if (sdlWindow(window) == sdl) return reinterpret_cast<HWND>(handle);
    return nullptr;
}

void* createNativeWindow(LPCSTR title, DWORD style, int x, int y, int width, int height) {
    if (!win32_sdl_video_init()) return nullptr;

    // The Direct3D layer draws with OpenGL 3.3 core (or ES 3.0) into an off-screen back buffer and blits it
    // to the window, so the window itself needs colour and double buffering only.
    SDL_GL_ResetAttributes();
    win32_gl_context_attributes();
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);

    Uint32 flags = SDL_WINDOW_OPENGL;
    flags |= (style & WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    if ((style & WS_CAPTION) != WS_CAPTION) flags |= SDL_WINDOW_BORDERLESS;
    if (x == CW_USEDEFAULT) x = int(SDL_WINDOWPOS_UNDEFINED);
    if (y == CW_USEDEFAULT) y = int(SDL_WINDOWPOS_UNDEFINED);
    return SDL_CreateWindow(title ? title : "", x, y, width, height, flags);
}

void destroyNativeWindow(Window& window) {
    SDL_DestroyWindow(sdlWindow(window));
    window.native = nullptr;
}

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
    return w ? sdlWindow(*w) : nullptr;
}

bool win32_set_fullscreen(HWND hWnd, bool fullScreen) {
    Window* w = findWindow(hWnd);
    if (!w) return false;
    SDL_Window* sdl = sdlWindow(*w);
    if (fullScreen) {
        // Cover the desktop first: without a window manager the full-screen request alone leaves the
        // window at its old size while SDL already reports the desktop's.
        SDL_Rect bounds;
        if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(sdl), &bounds) == 0) {
            SDL_SetWindowPosition(sdl, bounds.x, bounds.y);
            SDL_SetWindowSize(sdl, bounds.w, bounds.h);
        }
    }
    return SDL_SetWindowFullscreen(sdl, fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) == 0;
}
