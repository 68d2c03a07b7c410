// The device's window system on the desktop: SDL windows of the Win32 layer, OpenGL 3.3 core or ES 3.0.
#include <SDL.h>

#include <cstdio>

#include "platform/d3d9/gl_dialect.h"
#include "platform/d3d9/gl_window.h"
#include "platform/win32/headless.h"
#include "platform/win32/sdl_window.h"

namespace d3d9 {

bool glwin_video_init() {
    return win32_sdl_video_init();
}

bool glwin_desktop_mode(int* width, int* height, int* refreshRate, int* bitsPerPixel) {
    SDL_DisplayMode dm;
    if (SDL_GetDesktopDisplayMode(0, &dm) != 0 || dm.w <= 0 || dm.h <= 0) return false;
    *width = dm.w;
    *height = dm.h;
    *refreshRate = dm.refresh_rate;
    *bitsPerPixel = static_cast<int>(SDL_BITSPERPIXEL(dm.format));
    return true;
}

bool glwin_window_size(HWND window, int* width, int* height) {
    SDL_Window* w = win32_sdl_window(window);
    if (!w) return false;
    SDL_GetWindowSize(w, width, height);
    return true;
}

GlContext glwin_create_context(HWND window) {
    SDL_Window* w = win32_sdl_window(window);
    if (!w) return nullptr;
    const bool es = platform::glEs();
    win32_gl_context_attributes();
    SDL_GLContext context = SDL_GL_CreateContext(w);
    if (!context) {
        std::fprintf(stderr, "d3d9: no OpenGL %s context: %s\n", es ? "ES 3.0" : "3.3", SDL_GetError());
        return nullptr;
    }
    if (SDL_GL_MakeCurrent(w, context) != 0 || epoxy_is_desktop_gl() == es ||
        epoxy_gl_version() < (es ? 30 : 33)) {
        SDL_GL_DeleteContext(context);
        return nullptr;
    }
    gl_set_es(es);
    return context;
}

bool glwin_make_current(HWND window, GlContext context) {
    if (!context) return false;
    if (SDL_GL_GetCurrentContext() == context) return true;
    SDL_Window* w = win32_sdl_window(window);
    return w && SDL_GL_MakeCurrent(w, context) == 0;
}

void glwin_delete_context(HWND window, GlContext context) {
    SDL_GL_MakeCurrent(win32_sdl_window(window), nullptr);
    SDL_GL_DeleteContext(context);
}

bool glwin_usable(HWND window, bool fullScreen) {
    SDL_Window* w = win32_sdl_window(window);
    if (!w) return false;
    // A full-screen device that is minimised has lost its display, as when the platform switches away.
    if (fullScreen && (SDL_GetWindowFlags(w) & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN))) return false;
    return true;
}

bool glwin_drawable_size(HWND window, int* width, int* height) {
    SDL_Window* w = win32_sdl_window(window);
    if (!w) return false;
    SDL_GL_GetDrawableSize(w, width, height);
    return true;
}

void glwin_set_swap_interval(int interval) {
    // Headless runs and tests never wait for a retrace that no display gives.
    if (platform::headless(SDL_GetCurrentVideoDriver())) interval = 0;
    if (SDL_GL_SetSwapInterval(interval) != 0 && interval > 1) SDL_GL_SetSwapInterval(1);
}

void glwin_swap(HWND window) {
    if (SDL_Window* w = win32_sdl_window(window)) SDL_GL_SwapWindow(w);
}

bool glwin_set_fullscreen(HWND window, bool fullScreen) {
    return win32_set_fullscreen(window, fullScreen);
}

}  // namespace d3d9
