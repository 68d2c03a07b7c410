// The keyboard as the X server sees it, whatever window has the focus: GetAsyncKeyState polls it, so that a
// key held down counts while another window has the keyboard. libX11 is loaded when first needed, so the
// layer runs where there is none; under Wayland the server tells no client about keys outside its windows.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <dlfcn.h>

#include <cstring>

#include "platform/win32/sdl_state.h"

namespace win32 {

namespace {

struct X11Keyboard {
    bool tried = false;
    void* lib = nullptr;
    int (*queryKeymap)(Display*, char[32]) = nullptr;
    KeyCode (*keysymToKeycode)(Display*, KeySym) = nullptr;
};

X11Keyboard& x11() {
    static X11Keyboard k;
    if (!k.tried) {
        k.tried = true;
        k.lib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
        if (k.lib) {
            k.queryKeymap = reinterpret_cast<int (*)(Display*, char[32])>(dlsym(k.lib, "XQueryKeymap"));
            k.keysymToKeycode =
                reinterpret_cast<KeyCode (*)(Display*, KeySym)>(dlsym(k.lib, "XKeysymToKeycode"));
        }
    }
    return k;
}

// The X key of a virtual-key code, for the keys a program polls: Escape, Space, Return, letters and digits.
KeySym keysymOf(int vk) {
    if (vk >= 'A' && vk <= 'Z') return static_cast<KeySym>(XK_a + (vk - 'A'));
    if (vk >= '0' && vk <= '9') return static_cast<KeySym>(XK_0 + (vk - '0'));
    switch (vk) {
        case VK_ESCAPE:
            return XK_Escape;
        case VK_SPACE:
            return XK_space;
        case VK_RETURN:
            return XK_Return;
        default:
            return NoSymbol;
    }
}

// The X display of SDL's windows, when SDL draws through X11.
Display* sdlDisplay() {
    const char* driver = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetCurrentVideoDriver() : nullptr;
    if (!driver || std::strcmp(driver, "x11") != 0) return nullptr;
    for (auto& entry : state().windows) {
        SDL_Window* window = sdlWindow(entry.second);
        if (!window) continue;
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11)
            return info.info.x11.display;
    }
    return nullptr;
}

}  // namespace

bool serverKeyDown(int vk) {
    const KeySym sym = keysymOf(vk);
    if (sym == NoSymbol) return false;
    Display* display = sdlDisplay();
    if (!display) return false;
    X11Keyboard& k = x11();
    if (!k.queryKeymap || !k.keysymToKeycode) return false;
    const KeyCode code = k.keysymToKeycode(display, sym);
    if (code == 0) return false;
    char keys[32] = {};
    k.queryKeymap(display, keys);
    return (keys[code / 8] >> (code % 8)) & 1;
}

}  // namespace win32
