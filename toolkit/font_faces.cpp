#include "toolkit/font_faces.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "toolkit/graphics.h"
#include "toolkit/platform.h"

namespace toolkit {
namespace {

// The files fontconfig picks on the desktop for the families the program
// names; a family not listed gets the sans face, as fontconfig's default does.
constexpr TBundledFont kBundled[] = {
    {"Times New Roman", false, "LiberationSerif-Regular.ttf"},
    {"Times New Roman", true, "LiberationSerif-Bold.ttf"},
    {"Comic Sans MS", false, "ComicNeue-Regular.otf"},
    {"Comic Sans MS", true, "ComicNeue-Bold.otf"},
    {"MS Sans Serif", false, "DejaVuSans.ttf"},
    {"MS Sans Serif", true, "DejaVuSans-Bold.ttf"},
    {"", false, "DejaVuSans.ttf"},
    {"", true, "DejaVuSans-Bold.ttf"},
};

}  // namespace

std::span<const TBundledFont> BundledFonts() { return kBundled; }

TFontFace BundledFace(const std::string& family, bool bold, const std::filesystem::path& dir) {
  // Family names match as fontconfig matches them: case aside.
  auto same = [](const std::string& a, const char* b) {
    return std::equal(a.begin(), a.end(), b, b + std::char_traits<char>::length(b), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
  };
  const TBundledFont* chosen = nullptr;
  for (const TBundledFont& f : kBundled) {
    if (f.bold != bold) continue;
    if (*f.family && same(family, f.family)) {
      chosen = &f;
      break;
    }
    if (!*f.family && !chosen) chosen = &f;
  }
  return {dir / chosen->file, 0, bold};
}

#ifdef __EMSCRIPTEN__
// The page puts the bundled files in fonts/ beside the program.
TFontFace ResolveFace(const std::string& family, bool bold, TFontPitch) {
  return BundledFace(family, bold, ProgramFilePath().parent_path() / "fonts");
}
#endif

}  // namespace toolkit
