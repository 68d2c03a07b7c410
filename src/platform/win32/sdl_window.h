#pragma once
// What the other platform layers need of the SDL windows behind window handles. Only platform code includes
// this header; it is the one place where an SDL type shows outside the win32 layer's sources.
#include <SDL.h>

#include "platform/win32/win32.h"

// Initialises SDL's video subsystem once for the process (on the "offscreen" driver when there is no display
// and SDL_VIDEODRIVER is unset: platform::offscreenDriver()). Returns false when SDL cannot start video.
bool win32_sdl_video_init();

// Sets SDL's context attributes for the dialect platform::glEs() chose: 3.3 core or ES 3.0, double-buffered.
void win32_gl_context_attributes();

// The SDL window behind a window handle (created with SDL_WINDOW_OPENGL and a double-buffered 3.3 core
// profile request, no depth buffer), or null for a handle that is not a live window.
SDL_Window* win32_sdl_window(HWND hWnd);

// Switches a window to SDL's desktop full screen (no display mode change) or back to its created size and
// position. The Direct3D layer calls it when a device with Windowed FALSE is created on the window and when
// that device goes away. Returns false for a handle that is not a live window or when SDL refuses.
bool win32_set_fullscreen(HWND hWnd, bool fullScreen);
