#pragma once
// A form's components described as data: one table per form, read when the form is
// created, so positions, sizes, fonts and stacking order live in one place.

#include <span>

#include "toolkit/cursors.h"
#include "toolkit/graphics.h"

namespace toolkit {

enum class TControlKind {
  Image,     // picture: `picture` names an asset rendered at the control's size
  Label,     // `caption` in `font`
  Panel,     // a flat patch of `color`
  ListBox,
  Timer,     // `interval` ms, created stopped
  Reserved,  // a place kept for a control another part of the program supplies
};

struct TComponentLayout {
  const char* name = "";
  TControlKind kind = TControlKind::Image;
  int left = 0, top = 0, width = 0, height = 0;
  bool visible = true;
  const char* picture = nullptr;  // asset file name
  TColor color = clAqua;          // picture background, label or panel colour
  const char* caption = "";
  TFont font;
  bool autoSize = false;
  bool transparent = false;
  TCursor cursor = crDefault;
  unsigned interval = 0;
  std::span<const char* const> items;  // list box lines
};

using TLayout = std::span<const TComponentLayout>;

}  // namespace toolkit
