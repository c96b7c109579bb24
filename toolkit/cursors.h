#pragma once
// Pointer shapes. Negative numbers are the stock shapes; positive numbers are
// slots a program fills with its own cursors (the picture control's grab hand).

namespace toolkit {

using TCursor = int;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crHourGlass = -11;
inline constexpr TCursor crHandPoint = -21;

// Shows `cursor` as the pointer of every window, unless a screen cursor is in
// force. An empty custom slot shows the arrow.
void ApplyCursor(TCursor cursor);
// The screen cursor overrides every control's cursor until set back to
// crDefault (the wait cursor while something slow runs).
TCursor ScreenCursor();
void SetScreenCursor(TCursor cursor);
// The cursor number the pointer shows now.
TCursor ShownCursor();

// Sets the screen cursor for its lifetime and puts back the one it found,
// however the scope is left.
class TScreenCursorScope {
 public:
  explicit TScreenCursorScope(TCursor cursor) : previous_(ScreenCursor()) { SetScreenCursor(cursor); }
  ~TScreenCursorScope() { SetScreenCursor(previous_); }
  TScreenCursorScope(const TScreenCursorScope&) = delete;
  TScreenCursorScope& operator=(const TScreenCursorScope&) = delete;

 private:
  TCursor previous_;
};
// Fills a custom slot from a 32-bit ARGB image with its hot spot.
void SetCustomCursor(TCursor slot, const unsigned* argb, int width, int height, int hotX,
                     int hotY);
// Frees the cursors; called at shutdown before the video system stops.
void ReleaseCursors();

}  // namespace toolkit
