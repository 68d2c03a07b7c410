#pragma once
// The desktop build's side of the Win32 layer's state (private to its sources): SDL windows behind the
// handles and the keyboard's codes.
#include <SDL.h>

#include "platform/win32/state.h"

namespace win32 {

inline SDL_Window* sdlWindow(const Window& window) {
    return static_cast<SDL_Window*>(window.native);
}

HWND handleOf(SDL_Window* sdl);

// Windows virtual-key code of an SDL key (0xFF when it has none); sided codes for VK_LSHIFT and friends.
int vkFromKey(SDL_Keycode sym, SDL_Scancode scancode);
int sidedVk(SDL_Keycode sym);

// Whether the X server has the key of virtual-key code `vk` down, whichever window has the focus; false where
// SDL does not draw through X11 and for keys it does not map.
bool serverKeyDown(int vk);

}  // namespace win32
