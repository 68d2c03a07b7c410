#pragma once
// Full screen on request for code outside the platform layer (the studio's F key): the window covers the
// screen (no display mode change) or goes back to its created size and place. Each target's window layer
// defines it. False for a handle that is not a live window or when the platform refuses.
#include "platform/win32/win32.h"

bool win32_set_fullscreen(HWND hWnd, bool fullScreen);
