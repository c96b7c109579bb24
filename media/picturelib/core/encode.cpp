#include "media/picturelib/core/encode.h"

#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <cstring>

#include "media/picturelib/core/bytes.h"
#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/reduce.h"

namespace picturelib {
namespace {

struct SurfaceFree {
  void operator()(SDL_Surface* s) const noexcept { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceFree>;

// A growing in-memory sink, so the encoders never see the caller's buffer
// and a too-small buffer is found by comparing sizes afterwards.
struct Sink {
  std::vector<uint8_t> bytes;
  std::size_t pos = 0;
  bool failed = false;
};

Sink* SinkOf(SDL_RWops* rw) { return static_cast<Sink*>(rw->hidden.unknown.data1); }

Sint64 SinkSize(SDL_RWops* rw) { return static_cast<Sint64>(SinkOf(rw)->bytes.size()); }
Sint64 SinkSeek(SDL_RWops* rw, Sint64 offset, int whence) {
  Sink* s = SinkOf(rw);
  const Sint64 base = whence == RW_SEEK_CUR   ? static_cast<Sint64>(s->pos)
                      : whence == RW_SEEK_END ? static_cast<Sint64>(s->bytes.size())
                                              : 0;
  if (base + offset < 0) return -1;
  s->pos = static_cast<std::size_t>(base + offset);
  return base + offset;
}
size_t SinkRead(SDL_RWops*, void*, size_t, size_t) { return 0; }
size_t SinkWrite(SDL_RWops* rw, const void* data, size_t size, size_t count) {
  Sink* s = SinkOf(rw);
  const std::size_t n = size * count;
  try {
    if (s->pos + n > s->bytes.size()) s->bytes.resize(s->pos + n);
  } catch (...) {
    s->failed = true;
    return 0;
  }
  std::memcpy(s->bytes.data() + s->pos, data, n);
  s->pos += n;
  return count;
}
int SinkClose(SDL_RWops* rw) {
  SDL_FreeRW(rw);
  return 0;
}

SDL_RWops* OpenSink(Sink& sink) {
  SDL_RWops* rw = SDL_AllocRW();
  if (!rw) Fail(kErrOutOfMemory);
  rw->size = SinkSize;
  rw->seek = SinkSeek;
  rw->read = SinkRead;
  rw->write = SinkWrite;
  rw->close = SinkClose;
  rw->type = SDL_RWOPS_UNKNOWN;
  rw->hidden.unknown.data1 = &sink;
  return rw;
}

// A surface with the block's picture: 8-bit indices with its palette, or
// 24-bit colour.
SurfacePtr ToSurface(const DibRef& d) {
  const bool palette = d.bits <= 8;
  SurfacePtr s(SDL_CreateRGBSurfaceWithFormat(0, d.width, d.height, 0,
                                              palette ? SDL_PIXELFORMAT_INDEX8 : SDL_PIXELFORMAT_RGB24));
  if (!s) Fail(kErrOutOfMemory);
  if (palette) {
    std::vector<SDL_Color> colours(d.colours);
    for (uint32_t i = 0; i < d.colours; ++i) {
      const Rgb c = d.Colour(i);
      colours[i] = {c.r, c.g, c.b, 255};
    }
    if (SDL_SetPaletteColors(s->format->palette, colours.data(), 0, static_cast<int>(colours.size())) != 0)
      Fail(kErrEncode);
  }
  for (int32_t y = 0; y < d.height; ++y) {
    uint8_t* out = static_cast<uint8_t*>(s->pixels) + static_cast<std::size_t>(y) * s->pitch;
    if (palette) {
      const uint8_t* in = d.Row(y);
      for (int32_t x = 0; x < d.width; ++x) out[x] = IndexAt(in, x, d.bits);
    } else {
      RowToRgb(d, y, out);
    }
  }
  return s;
}

std::vector<uint8_t> BmpFile(const img_dib* dib) {
  // A BMP file is the block behind a 14-byte file header.
  const DibRef d = RefOf(dib);
  const uint64_t total = 14 + uint64_t{dib->size};
  if (total > UINT32_MAX) Fail(kErrTooLarge);
  std::vector<uint8_t> file(static_cast<std::size_t>(total));
  file[0] = 'B';
  file[1] = 'M';
  PutLe32(&file[2], static_cast<uint32_t>(total));
  PutLe32(&file[10], static_cast<uint32_t>(14 + IMG_DIB_HEADER_SIZE + 4 * uint64_t{d.colours}));
  std::memcpy(&file[14], dib->bytes, dib->size);
  return file;
}

}  // namespace

std::vector<uint8_t> Encode(Encoding encoding, const img_dib* dib, int depth, int quality, Progress& progress) {
  progress.Report(0);
  DibPtr plain = Normalised(InspectDib(dib));
  if (encoding == Encoding::Jpeg) depth = depth <= 1 ? 1 : 24;
  progress.Slice(0, 50);
  DibPtr converted;
  if (encoding == Encoding::Jpeg && depth == 1) {
    // Grey: every pixel's luminance as an exact palette of 256 greys.
    const DibRef c = RefOf(plain.get());
    converted = NewDib(c.width, c.height, 8, 256);
    for (uint32_t i = 0; i < 256; ++i) {
      const uint8_t v = static_cast<uint8_t>(i);
      SetColour(converted.get(), i, {v, v, v});
    }
    const DibRef o = RefOf(converted.get());
    std::vector<uint8_t> rgb(static_cast<std::size_t>(c.width) * 3);
    for (int32_t y = 0; y < c.height; ++y) {
      RowToRgb(c, y, rgb.data());
      uint8_t* row = MutableRow(converted.get(), o, y);
      for (int32_t x = 0; x < c.width; ++x) {
        const uint8_t* p = &rgb[static_cast<std::size_t>(x) * 3];
        row[x] = static_cast<uint8_t>((299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000);
      }
    }
  } else {
    converted = ToDepth(RefOf(plain.get()), depth, false, progress);
  }
  plain.reset();
  progress.Slice(50, 99);
  progress.Report(0);

  std::vector<uint8_t> bytes;
  if (encoding == Encoding::Bmp) {
    bytes = BmpFile(converted.get());
  } else {
    SurfacePtr surface = ToSurface(RefOf(converted.get()));
    converted.reset();
    Sink sink;
    SDL_RWops* rw = OpenSink(sink);
    const int result = encoding == Encoding::Png ? IMG_SavePNG_RW(surface.get(), rw, 0)
                                                 : IMG_SaveJPG_RW(surface.get(), rw, 0, std::clamp(quality, 1, 100));
    SDL_RWclose(rw);
    if (sink.failed) Fail(kErrOutOfMemory);
    if (result != 0 || sink.bytes.empty()) Fail(kErrEncode);
    bytes = std::move(sink.bytes);
  }
  progress.Slice(0, 100);
  progress.Report(100);
  return bytes;
}

}  // namespace picturelib
