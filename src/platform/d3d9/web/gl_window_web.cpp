// The device's window system in the browser: a WebGL 2 context (OpenGL ES 3.0) on the page's canvas. The
// canvas's drawing buffer follows its size on the page, so Present scales the back buffer into it (4:3 kept).
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdio>

#include "platform/d3d9/gl_dialect.h"
#include "platform/d3d9/gl_window.h"
#include "platform/win32/web_canvas.h"

namespace d3d9 {

bool glwin_video_init() {
    return true;
}

// The page's display is its canvas: its size on the page in device pixels (the screen's while it has no
// layout yet), so that a full-screen back buffer is drawn pixel for pixel.
bool glwin_desktop_mode(int* width, int* height, int* refreshRate, int* bitsPerPixel) {
    const char* canvas = "#canvas";
    double cssW = 0, cssH = 0;
    emscripten_get_element_css_size(canvas, &cssW, &cssH);
    if (!(cssW >= 1 && cssH >= 1)) {
        cssW = EM_ASM_DOUBLE({ return screen.width || 640; });
        cssH = EM_ASM_DOUBLE({ return screen.height || 480; });
    }
    const double ratio = emscripten_get_device_pixel_ratio();
    *width = static_cast<int>(cssW * ratio + 0.5);
    *height = static_cast<int>(cssH * ratio + 0.5);
    *refreshRate = 60;
    *bitsPerPixel = 32;
    return true;
}

bool glwin_window_size(HWND window, int* width, int* height) {
    const char* canvas = win32_canvas(window);
    return canvas && emscripten_get_canvas_element_size(canvas, width, height) == EMSCRIPTEN_RESULT_SUCCESS;
}

GlContext glwin_create_context(HWND window) {
    const char* canvas = win32_canvas(window);
    if (!canvas) return nullptr;
    EmscriptenWebGLContextAttributes a;
    emscripten_webgl_init_context_attributes(&a);
    a.majorVersion = 2;
    a.minorVersion = 0;
    a.alpha = EM_FALSE;
    a.depth = EM_FALSE;  // the back buffer has its own depth-stencil buffer
    a.stencil = EM_FALSE;
    a.antialias = EM_FALSE;
    a.preserveDrawingBuffer = EM_FALSE;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_create_context(canvas, &a);
    if (context <= 0 || emscripten_webgl_make_context_current(context) != EMSCRIPTEN_RESULT_SUCCESS) {
        std::fprintf(stderr, "d3d9: no WebGL 2 context on %s\n", canvas);
        return nullptr;
    }
    gl_set_es(true);
    return reinterpret_cast<GlContext>(static_cast<intptr_t>(context));
}

bool glwin_make_current(HWND window, GlContext context) {
    if (!context || !win32_canvas(window)) return false;
    const auto handle = static_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(reinterpret_cast<intptr_t>(context));
    if (emscripten_webgl_get_current_context() == handle) return true;
    return emscripten_webgl_make_context_current(handle) == EMSCRIPTEN_RESULT_SUCCESS;
}

void glwin_delete_context(HWND, GlContext context) {
    emscripten_webgl_destroy_context(
        static_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(reinterpret_cast<intptr_t>(context)));
}

bool glwin_usable(HWND window, bool) {
    return win32_canvas(window) != nullptr;
}

bool glwin_drawable_size(HWND window, int* width, int* height) {
    const char* canvas = win32_canvas(window);
    if (!canvas) return false;
    // The drawing buffer takes the canvas's size on the page in device pixels.
    double cssW = 0, cssH = 0;
    emscripten_get_element_css_size(canvas, &cssW, &cssH);
    const double ratio = emscripten_get_device_pixel_ratio();
    int w = static_cast<int>(cssW * ratio + 0.5), h = static_cast<int>(cssH * ratio + 0.5);
    int cw = 0, ch = 0;
    emscripten_get_canvas_element_size(canvas, &cw, &ch);
    if (w > 0 && h > 0 && (w != cw || h != ch)) emscripten_set_canvas_element_size(canvas, w, h);
    emscripten_get_canvas_element_size(canvas, width, height);
    return true;
}

void glwin_set_swap_interval(int) {}

void glwin_swap(HWND) {
    // The browser shows the canvas when the program gives it its turn.
    win32_yield();
}

bool glwin_set_fullscreen(HWND window, bool fullScreen) {
    return win32_set_fullscreen(window, fullScreen);
}

}  // namespace d3d9
