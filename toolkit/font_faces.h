#pragma once
// Which font file draws a requested family. The desktop asks fontconfig,
// which substitutes metric-compatible faces for the families the game names;
// a browser has no fontconfig and takes the same faces from files bundled
// with the page, so both draw with the same glyphs.

#include <filesystem>
#include <span>
#include <string>

namespace toolkit {

enum class TFontPitch;

struct TFontFace {
  std::filesystem::path file;
  int index = 0;
  bool bold = false;  // the face itself is bold, so no emboldening is needed
};

// Throws std::runtime_error naming the family when no face can stand in.
TFontFace ResolveFace(const std::string& family, bool bold, TFontPitch pitch);

struct TBundledFont {
  const char* family;  // empty: any family not listed
  bool bold;
  const char* file;
};

// The bundled files, by the family and weight they stand in for.
std::span<const TBundledFont> BundledFonts();

// The bundled face in `dir` for a family and weight.
TFontFace BundledFace(const std::string& family, bool bold, const std::filesystem::path& dir);

}  // namespace toolkit
