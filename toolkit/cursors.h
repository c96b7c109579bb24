#pragma once
// Pointer shapes. Negative numbers are the stock shapes; positive numbers are
// slots a program fills with its own cursors (the picture control's grab hand).

namespace toolkit {

using TCursor = int;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crHourGlass = -11;
inline constexpr TCursor crHandPoint = -21;

// Shows `cursor` as the pointer of every window. An empty custom slot shows the arrow.
void ApplyCursor(TCursor cursor);
// Fills a custom slot from a 32-bit ARGB image with its hot spot.
void SetCustomCursor(TCursor slot, const unsigned* argb, int width, int height, int hotX,
                     int hotY);
// Frees the cursors; called at shutdown before the video system stops.
void ReleaseCursors();

}  // namespace toolkit
