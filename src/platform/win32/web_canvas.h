#pragma once
// What the browser's other platform layers need of the page behind window handles (only platform code
// includes this).
#include "platform/win32/win32.h"

// The CSS selector of the canvas a live window draws on ("#canvas"), or null for a handle that is not one.
const char* win32_canvas(HWND hWnd);

// The page's canvas fills the page (full screen on the page's request) or shows at its created size.
bool win32_set_fullscreen(HWND hWnd, bool fullScreen);

// Gives the browser its turn: the page repaints and delivers input. The blocking main loop calls this once
// a frame through Present (Emscripten's ASYNCIFY suspends the program meanwhile).
void win32_yield();
