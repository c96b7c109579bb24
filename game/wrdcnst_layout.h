#pragma once

#include "toolkit/layout.h"

namespace game {

// The game window's components in stacking order: a later picture lies above an
// earlier one; the data-aware controls and the panel lie above all pictures.
toolkit::TLayout WrdCnstLayout();

inline constexpr int kWrdCnstWidth = 632;
inline constexpr int kWrdCnstHeight = 456;

}  // namespace game
