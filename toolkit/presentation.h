#pragma once
// How a form's back buffer, drawn at its logical size, reaches a window of
// another size: magnified by a whole number so every pixel stays a crisp
// square, centred, with margins in the form's colour; and the way back, from
// a pointer position in the window to the logical point under it.

#include "toolkit/graphics.h"

struct SDL_Surface;

namespace toolkit {

// The largest whole scale at which width x height fits into area, at least 1
// (an area smaller than the picture, or none at all, still shows it at 1).
int FitScale(int width, int height, int areaWidth, int areaHeight);

struct TPresentation {
  int scale = 1;
  TPoint origin;  // where the magnified picture's top-left lies in the window

  // The presentation of a width x height picture in a window of that size:
  // the largest whole scale, centred.
  static TPresentation Fit(int width, int height, int windowWidth, int windowHeight);

  // The logical point under window point x, y. Rounds towards minus infinity,
  // so a point in a margin maps outside the picture, never onto its edge.
  TPoint ToClient(int x, int y) const;
};

// Copies the whole of `picture` into `window` as `how` says, each pixel
// repeated scale x scale times, and fills what it leaves with `margin`.
// Parts falling outside the window are clipped.
void Present(SDL_Surface* picture, SDL_Surface* window, const TPresentation& how, TColor margin);

}  // namespace toolkit
