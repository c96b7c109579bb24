#pragma once
// A mouse button as the window system would report it, queued for the
// application's message loop.

#include <SDL.h>

namespace tamblo::testing {

inline void PushButton(unsigned window, Uint32 type, int x, int y) {
  SDL_Event ev{};
  ev.type = type;
  ev.button.windowID = window;
  ev.button.button = SDL_BUTTON_LEFT;
  ev.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
  ev.button.x = x;
  ev.button.y = y;
  SDL_PushEvent(&ev);
}

// A press and release at one window point: a click.
inline void PushClick(unsigned window, int x, int y) {
  PushButton(window, SDL_MOUSEBUTTONDOWN, x, y);
  PushButton(window, SDL_MOUSEBUTTONUP, x, y);
}

}  // namespace tamblo::testing
