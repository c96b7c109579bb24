#include "toolkit/cursors.h"

#include <SDL.h>

#include <map>

namespace toolkit {
namespace {

// Never destroyed: a display session ending during the exit handlers (a
// test's, say) still releases its cursors through it.
std::map<TCursor, SDL_Cursor*>& Cursors() {
  static auto* cursors = new std::map<TCursor, SDL_Cursor*>;
  return *cursors;
}

SDL_Cursor* Stock(TCursor cursor) {
  SDL_SystemCursor id = SDL_SYSTEM_CURSOR_ARROW;
  if (cursor == crHandPoint) id = SDL_SYSTEM_CURSOR_HAND;
  if (cursor == crHourGlass) id = SDL_SYSTEM_CURSOR_WAIT;
  return SDL_CreateSystemCursor(id);
}

struct TCursorState {
  TCursor control = crDefault;  // what the control under the pointer asks for
  TCursor screen = crDefault;
  TCursor shown = crDefault;
};

TCursorState& State() {
  static TCursorState state;
  return state;
}

void Show(TCursor cursor) {
  State().shown = cursor;
  if (cursor == crDefault) cursor = crArrow;
  auto& cursors = Cursors();
  auto it = cursors.find(cursor);
  if (it == cursors.end()) {
    if (cursor > 0) cursor = crArrow;  // an empty custom slot
    it = cursors.find(cursor);
    if (it == cursors.end()) it = cursors.emplace(cursor, Stock(cursor)).first;
  }
  // Headless drivers have no cursors; setting a null one is harmless.
  if (it->second && SDL_GetCursor() != it->second) SDL_SetCursor(it->second);
}

}  // namespace

void ApplyCursor(TCursor cursor) {
  State().control = cursor;
  Show(State().screen != crDefault ? State().screen : cursor);
}

TCursor ScreenCursor() { return State().screen; }

void SetScreenCursor(TCursor cursor) {
  State().screen = cursor;
  Show(cursor != crDefault ? cursor : State().control);
}

TCursor ShownCursor() { return State().shown; }

void SetCustomCursor(TCursor slot, const unsigned* argb, int width, int height, int hotX,
                     int hotY) {
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<unsigned*>(argb), width, height,
                                                      32, width * 4, SDL_PIXELFORMAT_ARGB8888);
  if (!s) return;
  SDL_Cursor* c = SDL_CreateColorCursor(s, hotX, hotY);
  SDL_FreeSurface(s);
  auto& cursors = Cursors();
  if (auto it = cursors.find(slot); it != cursors.end()) {
    SDL_FreeCursor(it->second);
    cursors.erase(it);
  }
  if (c) cursors.emplace(slot, c);
  if (State().shown == slot) Show(slot);
}

void ReleaseCursors() {
  for (auto& [id, c] : Cursors())
    if (c) SDL_FreeCursor(c);
  Cursors().clear();
}

}  // namespace toolkit
