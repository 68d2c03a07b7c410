#include "platform/win32/headless.h"

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

bool set(const char* value) {
    return value && *value;
}

bool is(const char* value, const char* text) {
    return value && std::strcmp(value, text) == 0;
}

}  // namespace

Decision decide(const Environment& e) {
    Decision d;
    d.headlessTest = set(e.headlessTest) && !is(e.headlessTest, "0");
    const bool display = set(e.display) || set(e.waylandDisplay);
    d.offscreenDriver = !set(e.videoDriver) && !display;
    d.headless = d.headlessTest || is(e.videoDriver, "offscreen") || is(e.videoDriver, "dummy") || !display;
#ifdef __EMSCRIPTEN__
    d.glEs = true;
#else
    d.glEs = is(e.glEs, "1");
#endif
    return d;
}

Environment processEnvironment(const char* currentVideoDriver) {
    Environment e;
    e.headlessTest = std::getenv("QV_HEADLESS_TEST");
    e.videoDriver = currentVideoDriver ? currentVideoDriver : std::getenv("SDL_VIDEODRIVER");
    e.display = std::getenv("DISPLAY");
    e.waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    e.glEs = std::getenv("QV_GL_ES");
    return e;
}

bool headlessTest() {
    return decide(processEnvironment()).headlessTest;
}

bool headless(const char* currentVideoDriver) {
    return decide(processEnvironment(currentVideoDriver)).headless;
}

bool offscreenDriver() {
    return decide(processEnvironment()).offscreenDriver;
}

bool glEs() {
    return decide(processEnvironment()).glEs;
}

}  // namespace platform
