// The desktop's font lookup: fontconfig.
#ifndef __EMSCRIPTEN__

#include <fontconfig/fontconfig.h>

#include <mutex>
#include <stdexcept>

#include "toolkit/font_faces.h"
#include "toolkit/graphics.h"

namespace toolkit {

// fontconfig substitutes metric-compatible and aliased families for the names the
// game asks for; pitch only breaks ties, since a named face wins on the platform.
TFontFace ResolveFace(const std::string& family, bool bold, TFontPitch pitch) {
  static std::once_flag once;
  std::call_once(once, [] { FcInit(); });
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  if (pitch == TFontPitch::fpFixed) FcPatternAddInteger(pattern, FC_SPACING, FC_MONO);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  TFontFace face;
  if (match) {
    FcChar8* file = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
      face.file = reinterpret_cast<const char*>(file);
    FcPatternGetInteger(match, FC_INDEX, 0, &face.index);
    int weight = FC_WEIGHT_REGULAR;
    FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
    face.bold = weight >= FC_WEIGHT_DEMIBOLD;
    FcPatternDestroy(match);
  }
  if (face.file.empty())
    throw std::runtime_error("no font is installed that can stand in for \"" + family + "\"");
  return face;
}

}  // namespace toolkit

#endif
