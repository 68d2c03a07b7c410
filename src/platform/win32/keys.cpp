// Windows virtual-key codes for SDL keys.
#include <SDL.h>

#include "platform/win32/sdl_state.h"

namespace win32 {

namespace {

int vkFromSym(SDL_Keycode sym) {
    if (sym >= SDLK_a && sym <= SDLK_z) return 'A' + (sym - SDLK_a);
    if (sym >= SDLK_0 && sym <= SDLK_9) return '0' + (sym - SDLK_0);
    if (sym >= SDLK_F1 && sym <= SDLK_F12) return VK_F1 + (sym - SDLK_F1);
    if (sym >= SDLK_F13 && sym <= SDLK_F24) return VK_F13 + (sym - SDLK_F13);
    if (sym >= SDLK_KP_1 && sym <= SDLK_KP_9) return VK_NUMPAD1 + (sym - SDLK_KP_1);
    switch (sym) {
        case SDLK_BACKSPACE:
            return VK_BACK;
        case SDLK_TAB:
            return VK_TAB;
        case SDLK_CLEAR:
            return VK_CLEAR;
        case SDLK_RETURN:
            return VK_RETURN;
        case SDLK_KP_ENTER:
            return VK_RETURN;
        case SDLK_ESCAPE:
            return VK_ESCAPE;
        case SDLK_SPACE:
            return VK_SPACE;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT:
            return VK_SHIFT;
        case SDLK_LCTRL:
        case SDLK_RCTRL:
            return VK_CONTROL;
        case SDLK_LALT:
        case SDLK_RALT:
            return VK_MENU;
        case SDLK_LGUI:
            return VK_LWIN;
        case SDLK_RGUI:
            return VK_RWIN;
        case SDLK_APPLICATION:
            return VK_APPS;
        case SDLK_PAUSE:
            return VK_PAUSE;
        case SDLK_CAPSLOCK:
            return VK_CAPITAL;
        case SDLK_PAGEUP:
            return VK_PRIOR;
        case SDLK_PAGEDOWN:
            return VK_NEXT;
        case SDLK_END:
            return VK_END;
        case SDLK_HOME:
            return VK_HOME;
        case SDLK_LEFT:
            return VK_LEFT;
        case SDLK_UP:
            return VK_UP;
        case SDLK_RIGHT:
            return VK_RIGHT;
        case SDLK_DOWN:
            return VK_DOWN;
        case SDLK_SELECT:
            return VK_SELECT;
        case SDLK_EXECUTE:
            return VK_EXECUTE;
        case SDLK_PRINTSCREEN:
            return VK_SNAPSHOT;
        case SDLK_INSERT:
            return VK_INSERT;
        case SDLK_DELETE:
            return VK_DELETE;
        case SDLK_HELP:
            return VK_HELP;
        case SDLK_SLEEP:
            return VK_SLEEP;
        case SDLK_KP_0:
            return VK_NUMPAD0;
        case SDLK_KP_MULTIPLY:
            return VK_MULTIPLY;
        case SDLK_KP_PLUS:
            return VK_ADD;
        case SDLK_SEPARATOR:
            return VK_SEPARATOR;
        case SDLK_KP_MINUS:
            return VK_SUBTRACT;
        case SDLK_KP_PERIOD:
            return VK_DECIMAL;
        case SDLK_KP_DIVIDE:
            return VK_DIVIDE;
        case SDLK_NUMLOCKCLEAR:
            return VK_NUMLOCK;
        case SDLK_SCROLLLOCK:
            return VK_SCROLL;
        case SDLK_MUTE:
        case SDLK_AUDIOMUTE:
            return VK_VOLUME_MUTE;
        case SDLK_VOLUMEDOWN:
            return VK_VOLUME_DOWN;
        case SDLK_VOLUMEUP:
            return VK_VOLUME_UP;
        case SDLK_AUDIONEXT:
            return VK_MEDIA_NEXT_TRACK;
        case SDLK_AUDIOPREV:
            return VK_MEDIA_PREV_TRACK;
        case SDLK_AUDIOSTOP:
            return VK_MEDIA_STOP;
        case SDLK_AUDIOPLAY:
            return VK_MEDIA_PLAY_PAUSE;
        // US-layout punctuation keys, by the character they type unshifted.
        case SDLK_SEMICOLON:
            return VK_OEM_1;
        case SDLK_EQUALS:
            return VK_OEM_PLUS;
        case SDLK_COMMA:
            return VK_OEM_COMMA;
        case SDLK_MINUS:
            return VK_OEM_MINUS;
        case SDLK_PERIOD:
            return VK_OEM_PERIOD;
        case SDLK_SLASH:
            return VK_OEM_2;
        case SDLK_BACKQUOTE:
            return VK_OEM_3;
        case SDLK_LEFTBRACKET:
            return VK_OEM_4;
        case SDLK_BACKSLASH:
            return VK_OEM_5;
        case SDLK_RIGHTBRACKET:
            return VK_OEM_6;
        case SDLK_QUOTE:
            return VK_OEM_7;
        default:
            return 0;
    }
}

// Keys whose symbol has no code of its own (a non-Latin layout, say) fall back to their position.
int vkFromScancode(SDL_Scancode sc) {
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'A' + (sc - SDL_SCANCODE_A);
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
    if (sc == SDL_SCANCODE_0) return '0';
    if (sc == SDL_SCANCODE_NONUSBACKSLASH) return VK_OEM_102;
    // Keys without a character have the scancode's own keycode.
    return vkFromSym(SDL_SCANCODE_TO_KEYCODE(sc));
}

}  // namespace

int vkFromKey(SDL_Keycode sym, SDL_Scancode scancode) {
    int vk = vkFromSym(sym);
    if (!vk) vk = vkFromScancode(scancode);
    return vk ? vk : 0xFF;  // Windows reports keys without a code as 0xFF
}

int sidedVk(SDL_Keycode sym) {
    switch (sym) {
        case SDLK_LSHIFT:
            return VK_LSHIFT;
        case SDLK_RSHIFT:
            return VK_RSHIFT;
        case SDLK_LCTRL:
            return VK_LCONTROL;
        case SDLK_RCTRL:
            return VK_RCONTROL;
        case SDLK_LALT:
            return VK_LMENU;
        case SDLK_RALT:
            return VK_RMENU;
        default:
            return 0;
    }
}

}  // namespace win32
