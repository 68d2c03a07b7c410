#pragma once
// The one place that decides, from the environment, how the platform layers run: whether there is a real
// display (headless runs never wait for a retrace and show no message boxes), whether SDL is to be given
// its offscreen driver, and which GL dialect the contexts speak. Every layer asks here.
namespace platform {

// What the decision is made from. The process's own comes from processEnvironment(); tests give theirs.
struct Environment {
    const char* headlessTest = nullptr;    // QV_HEADLESS_TEST
    const char* videoDriver = nullptr;     // SDL's video driver once video runs, else SDL_VIDEODRIVER
    const char* display = nullptr;         // DISPLAY
    const char* waylandDisplay = nullptr;  // WAYLAND_DISPLAY
    const char* glEs = nullptr;            // QV_GL_ES
};

struct Decision {
    // A headless test run (QV_HEADLESS_TEST set to anything but "" or "0"): no real display whatever
    // DISPLAY says.
    bool headlessTest = false;
    // No display to wait for or show on: a headless test, SDL's offscreen or dummy driver, or neither an
    // X11 nor a Wayland display.
    bool headless = false;
    // SDL is to be started on its offscreen driver (which still gives an OpenGL context through EGL): no
    // driver named and no display.
    bool offscreenDriver = false;
    // Contexts are OpenGL ES 3.0 (the browser's dialect): always in the browser, with QV_GL_ES=1 on the
    // desktop; otherwise OpenGL 3.3 core.
    bool glEs = false;
};

Decision decide(const Environment& environment);

// The process's environment; `currentVideoDriver` is SDL's driver once its video runs (null before).
Environment processEnvironment(const char* currentVideoDriver = nullptr);

// The decision for this process, as the layers ask for it.
bool headlessTest();
bool headless(const char* currentVideoDriver);
bool offscreenDriver();
bool glEs();

}  // namespace platform
