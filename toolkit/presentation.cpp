#include "toolkit/presentation.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace toolkit {
namespace {

int FloorDiv(int a, int b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// How a back-buffer pixel becomes a window pixel where that only moves bytes.
enum class TPixelMove { None, Copy, SwapRedBlue };

TPixelMove PixelMove(const SDL_PixelFormat& from, const SDL_PixelFormat& to) {
  if (from.BytesPerPixel != 4 || to.BytesPerPixel != 4 || from.Gmask != 0x0000ff00u || to.Gmask != from.Gmask)
    return TPixelMove::None;
  if (from.format == to.format) return TPixelMove::Copy;
  // A browser's canvas keeps red and blue the other way round.
  if ((from.Rmask | from.Bmask) == 0x00ff00ffu && from.Rmask == to.Bmask && from.Bmask == to.Rmask)
    return TPixelMove::SwapRedBlue;
  return TPixelMove::None;
}

Uint32 SwapRedBlue(Uint32 p) { return (p & 0x0000ff00u) | ((p >> 16) & 0xffu) | ((p & 0xffu) << 16); }

}  // namespace

int FitScale(int width, int height, int areaWidth, int areaHeight) {
  if (width <= 0 || height <= 0) return 1;
  return std::max(1, std::min(areaWidth / width, areaHeight / height));
}

TPresentation TPresentation::Fit(int width, int height, int windowWidth, int windowHeight) {
  TPresentation p;
  p.scale = FitScale(width, height, windowWidth, windowHeight);
  // A window smaller than the picture shows its top-left, as an unscaled one would.
  p.origin = {std::max(0, (windowWidth - width * p.scale) / 2),
              std::max(0, (windowHeight - height * p.scale) / 2)};
  return p;
}

TPoint TPresentation::ToClient(int x, int y) const {
  return {FloorDiv(x - origin.X, scale), FloorDiv(y - origin.Y, scale)};
}

void Present(SDL_Surface* picture, SDL_Surface* window, const TPresentation& how, TColor margin) {
  const int s = how.scale;
  const SDL_Rect placed{how.origin.X, how.origin.Y, picture->w * s, picture->h * s};
  const Uint32 fill = SDL_MapRGB(window->format, margin.r, margin.g, margin.b);
  const SDL_Rect margins[] = {
      {0, 0, window->w, placed.y},
      {0, placed.y + placed.h, window->w, window->h - placed.y - placed.h},
      {0, placed.y, placed.x, placed.h},
      {placed.x + placed.w, placed.y, window->w - placed.x - placed.w, placed.h},
  };
  for (const SDL_Rect& m : margins)
    if (m.w > 0 && m.h > 0) SDL_FillRect(window, &m, fill);

  const TPixelMove move = PixelMove(*picture->format, *window->format);
  if (move == TPixelMove::None || (s == 1 && move == TPixelMove::Copy)) {
    // SDL's own stretch is nearest-neighbour too; it serves the rare window
    // whose pixels are laid out unlike the back buffer's. Its general
    // converting blit is slow, which a browser's every frame would feel.
    SDL_Rect target = placed;
    if (s == 1)
      SDL_BlitSurface(picture, nullptr, window, &target);
    else
      SDL_BlitScaled(picture, nullptr, window, &target);
    return;
  }
  // Each source row widened once into the window, then copied down s - 1 times.
  const int width = std::min(placed.w, window->w - placed.x);
  if (width <= 0) return;
  const Uint32 opaque = window->format->Amask;
  if (SDL_MUSTLOCK(window)) SDL_LockSurface(window);
  for (int row = 0; row < picture->h; ++row) {
    const int top = placed.y + row * s;
    if (top >= window->h) break;
    const auto* from = static_cast<const Uint32*>(picture->pixels) +
                       static_cast<std::ptrdiff_t>(row) * (picture->pitch / 4);
    auto* first = reinterpret_cast<Uint32*>(static_cast<Uint8*>(window->pixels) +
                                            static_cast<std::ptrdiff_t>(top) * window->pitch) +
                  placed.x;
    if (move == TPixelMove::Copy)
      for (int x = 0; x < width; ++x) first[x] = from[x / s];
    else if (s == 1)
      for (int x = 0; x < width; ++x) first[x] = SwapRedBlue(from[x]) | opaque;
    else
      for (int x = 0; x < width; ++x) first[x] = SwapRedBlue(from[x / s]) | opaque;
    for (int k = 1; k < s && top + k < window->h; ++k)
      std::memcpy(static_cast<Uint8*>(window->pixels) +
                      static_cast<std::ptrdiff_t>(top + k) * window->pitch + placed.x * 4,
                  first, static_cast<std::size_t>(width) * 4);
  }
  if (SDL_MUSTLOCK(window)) SDL_UnlockSurface(window);
}

}  // namespace toolkit
