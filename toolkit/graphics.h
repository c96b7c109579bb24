#pragma once
// Bitmaps, fonts and canvases: the drawing surface every picture, label and form
// paints through. Software surfaces only; one GUI thread.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

struct SDL_Surface;
typedef struct _TTF_Font TTF_Font;

namespace toolkit {

struct TColor {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(TColor, TColor) = default;
};

inline constexpr TColor clBlack{0, 0, 0};
inline constexpr TColor clWhite{255, 255, 255};
inline constexpr TColor clAqua{0, 255, 255};
inline constexpr TColor clMaroon{128, 0, 0};
inline constexpr TColor clRed{255, 0, 0};
inline constexpr TColor clGray{128, 128, 128};
inline constexpr TColor clWindowText = clBlack;
inline constexpr TColor clWindow = clWhite;
inline constexpr TColor clBtnFace{240, 240, 240};
inline constexpr TColor clWindowFrame = clBlack;

struct TPoint {
  int X = 0, Y = 0;
  friend bool operator==(TPoint, TPoint) = default;
};

// Right and Bottom are exclusive, as the platform's rectangles were.
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool Contains(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect Rect(int left, int top, int right, int bottom) { return {left, top, right, bottom}; }
inline TRect Bounds(int left, int top, int width, int height) {
  return {left, top, left + width, top + height};
}

enum class TFontPitch { fpDefault, fpVariable, fpFixed };

// A font request: the family is matched the way the platform maps names to faces,
// so an unknown family gets the closest installed face rather than an error.
class TFont {
 public:
  std::string Name = "MS Sans Serif";
  int Height = 11;  // em height in pixels
  bool Bold = false;
  TColor Color = clWindowText;
  TFontPitch Pitch = TFontPitch::fpDefault;

  // Points at 96 dpi, rounded the way the platform's MulDiv rounds.
  void SetSize(int points) { Height = (points * 96 + 36) / 72; }
  int Size() const { return (Height * 72 + 48) / 96; }

  TTF_Font* Handle() const;  // owned by the process-wide font cache
  friend bool operator==(const TFont&, const TFont&) = default;
};

// Which file a font request resolves to; exposed for tests and diagnostics.
std::filesystem::path ResolveFontFile(const TFont& font);

enum class TBrushStyle { bsSolid, bsClear };

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = TBrushStyle::bsSolid;
};

struct TPen {
  TColor Color = clBlack;
};

class TBitmap;

// How a stretched copy merges the source pixels that fall onto one target
// pixel when it shrinks; numbered as the platform's stretch-blit modes.
enum class TStretchMode {
  smBlackOnWhite = 1,  // AND of them: black lines survive on white
  smWhiteOnBlack = 2,  // OR of them: white lines survive on black
  smColorOnColor = 3,  // one of them, the others dropped
};

// Draws onto a surface it does not own (a bitmap's or a form's back buffer).
class TCanvas {
 public:
  explicit TCanvas(SDL_Surface* surface = nullptr) : surface_(surface) {}

  TFont Font;
  TBrush Brush;
  TPen Pen;
  std::function<void()> OnChange;  // after anything is drawn

  void FillRect(const TRect& r);
  // A one-pixel outline just inside r, in the brush colour.
  void FrameRect(const TRect& r);
  // Text with its top-left at x, y; on the brush colour unless the brush is clear.
  void TextOut(int x, int y, const std::string& text);
  int TextWidth(const std::string& text) const;
  int TextHeight(const std::string& text) const;
  TPoint TextExtent(const std::string& text) const;
  void MoveTo(int x, int y) { penPos_ = {x, y}; }
  // One pixel wide; the end point itself is not drawn.
  void LineTo(int x, int y);
  // Opaque copy of a whole bitmap with its top-left at x, y.
  void Draw(int x, int y, const TBitmap& source);
  // Opaque copy of src's rectangle onto dest (same size; no stretching).
  void CopyRect(const TRect& dest, const TCanvas& source, const TRect& sourceRect);
  // Copy of src's rectangle scaled onto dest, each target pixel taking the
  // source pixels that map onto it as `mode` says. Source pixels outside the
  // bitmap leave their target pixels as they were.
  void StretchCopy(const TRect& dest, const TBitmap& source, const TRect& sourceRect,
                   TStretchMode mode);
  TColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, TColor c);
  SDL_Surface* Surface() const { return surface_; }
  void SetSurface(SDL_Surface* s) { surface_ = s; }

 private:
  void Changed() const {
    if (OnChange) OnChange();
  }
  SDL_Surface* surface_;
  TPoint penPos_;
};

// A 32-bit bitmap with its own canvas. Empty (0 x 0) until sized or loaded.
class TBitmap {
 public:
  TBitmap();
  TBitmap(int width, int height, TColor fill = clWhite);
  ~TBitmap();
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const;
  int Height() const;
  bool Empty() const { return Width() == 0 || Height() == 0; }
  // Resizing discards the old content and fills with `fill`.
  void SetSize(int width, int height, TColor fill = clWhite);
  // Becomes a copy of source: its size and pixels.
  void Assign(const TBitmap& source);
  // Renders a picture file (SVG at exactly width x height; other formats as they
  // are) over `background`. Throws std::runtime_error naming the file on failure.
  void LoadFromFile(const std::filesystem::path& path, int width, int height,
                    TColor background);
  void SaveToPng(const std::filesystem::path& path) const;
  TCanvas& Canvas() { return canvas_; }
  const TCanvas& Canvas() const { return canvas_; }
  SDL_Surface* Surface() const { return surface_; }

 private:
  void Adopt(SDL_Surface* s);
  SDL_Surface* surface_ = nullptr;
  TCanvas canvas_;
};

// Releases every cached font; called at shutdown before the text library stops.
void ClearFontCache();

}  // namespace toolkit
