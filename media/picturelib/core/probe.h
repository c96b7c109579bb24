#pragma once
// Our own header probe. It reads headers only, never pixels, and is strict:
// every size, count and offset a header gives is checked against the limits
// and against the bytes at hand, so that what passes can go to a decoder
// without that decoder allocating from a lie.
#include <cstdint>
#include <string>
#include <vector>

#include "media/picturelib/core/bytes.h"

namespace picturelib {

enum class Format { Png, Jpeg, Gif, Bmp, Pcx, Tga, Tiff };

// What streaminfo reports. extra1 is the number of colour table entries (0
// when the format has none); extra2 depends on the format: PNG interlace
// method, JPEG frame type (SOF marker - 0xC0), GIF 1 when the first image is
// interlaced, BMP compression, PCX plane count, TGA image type, TIFF page
// count. Width and height are those of the picture a reader decodes (for a
// GIF its first image).
struct ProbeInfo {
  Format format = Format::Png;
  std::string name;
  std::string klass;
  int32_t width = 0, height = 0;
  int bits = 0;
  int extra1 = 0, extra2 = 0;
  bool bottomUp = false;  // TGA and BMP: rows stored bottom first
};

// Probes for one format; throws "Not a ... file" when the bytes are not of
// that format and a corrupt-data, "Picture too large" or unsupported-variant
// error when they are but cannot be decoded safely.
ProbeInfo Probe(Format format, const Bytes& in);
// Tries every format, those with a signature first, TGA (which has none) last.
ProbeInfo ProbeAny(const Bytes& in);

// TIFF pages, walked by our own code: the offset of every image directory,
// checked for range and for loops.
struct TiffFile {
  bool bigEndian = false;
  std::vector<uint32_t> directories;
};
struct TiffPage {
  uint32_t width = 0, height = 0;
  uint32_t compression = 1;
  uint32_t photometric = 0xFFFFFFFF;  // absent
  uint32_t samples = 1, bitsPerSample = 1;
  uint32_t colourMapEntries = 0;
};
TiffFile WalkTiff(const Bytes& in);
// Page `index` (0-based), with its strips or tiles checked against the bytes.
TiffPage ReadTiffPage(const Bytes& in, const TiffFile& file, std::size_t index);

}  // namespace picturelib
