#pragma once
// The window system under the device's GL context: SDL windows on the desktop (gl_window_sdl.cpp), the page's
// canvas in the browser (web/gl_window_web.cpp). The build picks one; the device knows neither.
#include "platform/win32/win32.h"

namespace d3d9 {

using GlContext = void*;

// Starts the window system's video once; false when it cannot.
bool glwin_video_init();
// The desktop's mode: size, refresh rate (0 when unknown) and bits per pixel; false when it cannot tell.
bool glwin_desktop_mode(int* width, int* height, int* refreshRate, int* bitsPerPixel);
// The client size of a live window; false for a handle that is not one.
bool glwin_window_size(HWND window, int* width, int* height);
// Makes a context of the dialect asked for (gl_dialect.h) on the window, current; null on failure (said on
// standard error).
GlContext glwin_create_context(HWND window);
bool glwin_make_current(HWND window, GlContext context);
void glwin_delete_context(HWND window, GlContext context);
// False while a full-screen device's window cannot show (minimised or hidden) or the window is gone.
bool glwin_usable(HWND window, bool fullScreen);
bool glwin_drawable_size(HWND window, int* width, int* height);
// Waits for `interval` retraces at most (0: none) on later swaps; headless runs never wait.
void glwin_set_swap_interval(int interval);
// Shows the default framebuffer and gives the window system its turn.
void glwin_swap(HWND window);
bool glwin_set_fullscreen(HWND window, bool fullScreen);

}  // namespace d3d9
