// PNG through libpng, which can write the interlaced (Adam7) layout.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <new>

#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/format_writers.h"

namespace picturelib {
namespace {

struct PngSink {
  std::vector<uint8_t>* bytes;
  bool outOfMemory = false;
};

void PngWriteBytes(png_structp png, png_bytep data, png_size_t n) {
  auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
  try {
    sink->bytes->insert(sink->bytes->end(), data, data + n);
  } catch (const std::bad_alloc&) {
    sink->outOfMemory = true;
    png_error(png, "out of memory");
  }
}
void PngFlush(png_structp) {}
void PngQuiet(png_structp, png_const_charp) {}
void PngFail(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Only plain data lives in this frame, so libpng's long jump out of it
// leaves nothing undestroyed.
bool EncodePng(const DibRef& d, bool interlaced, const png_color* palette, int entries, png_bytepp rows,
               PngSink& sink) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, PngQuiet);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_set_write_fn(png, &sink, PngWriteBytes, PngFlush);
  const bool indexed = d.bits <= 8;
  png_set_IHDR(png, info, static_cast<png_uint_32>(d.width), static_cast<png_uint_32>(d.height),
               indexed ? d.bits : 8, indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (indexed) png_set_PLTE(png, info, palette, entries);
  png_write_info(png, info);
  // Block rows hold blue, green, red.
  if (!indexed) png_set_bgr(png);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::vector<uint8_t> WritePng(const DibRef& d, bool interlaced) {
  std::vector<png_color> palette;
  if (d.bits <= 8) {
    // A palette block always has at least one entry, and indices stay inside it.
    for (uint32_t i = 0; i < d.colours && i < (1u << d.bits); ++i) {
      const Rgb c = d.Colour(i);
      palette.push_back({c.r, c.g, c.b});
    }
    if (palette.empty()) palette.push_back({0, 0, 0});
  }
  std::vector<png_bytep> rows(static_cast<std::size_t>(d.height));
  for (int32_t y = 0; y < d.height; ++y) rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(d.Row(y));
  std::vector<uint8_t> bytes;
  PngSink sink{&bytes};
  const bool ok =
      EncodePng(d, interlaced, palette.data(), static_cast<int>(palette.size()), rows.data(), sink);
  if (sink.outOfMemory) Fail(kErrOutOfMemory);
  if (!ok || bytes.empty()) Fail(kErrEncode);
  return bytes;
}

}  // namespace picturelib
