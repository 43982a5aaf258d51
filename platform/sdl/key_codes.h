#pragma once

#include <SDL.h>

namespace platform {

// SDL's key symbol in the key-code numbering the game's handlers expect (Esc is 27).
inline int KeyCode(SDL_Keycode key) {
  if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
  if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
  if (key >= SDLK_F1 && key <= SDLK_F12) return 112 + (key - SDLK_F1);
  switch (key) {
    case SDLK_ESCAPE:
      return 27;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return 13;
    case SDLK_SPACE:
      return 32;
    case SDLK_BACKSPACE:
      return 8;
    case SDLK_TAB:
      return 9;
    case SDLK_LEFT:
      return 37;
    case SDLK_UP:
      return 38;
    case SDLK_RIGHT:
      return 39;
    case SDLK_DOWN:
      return 40;
    case SDLK_DELETE:
      return 46;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return 17;
    case SDLK_LALT:
    case SDLK_RALT:
      return 18;
    default:
      return 0;
  }
}

// Button state: 1 left, 2 right, 4 middle.
inline int MouseButtons(Uint32 state) {
  return ((state & SDL_BUTTON_LMASK) ? 1 : 0) | ((state & SDL_BUTTON_RMASK) ? 2 : 0) |
         ((state & SDL_BUTTON_MMASK) ? 4 : 0);
}

// Shift state: 1 Shift, 2 Ctrl, 4 Alt.
inline int ShiftState(int mod) {
  return ((mod & KMOD_SHIFT) ? 1 : 0) | ((mod & KMOD_CTRL) ? 2 : 0) | ((mod & KMOD_ALT) ? 4 : 0);
}

}  // namespace platform
