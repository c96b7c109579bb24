#include "media/picturelib/core/encode.h"

#include <cstring>

#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/format_writers.h"
#include "media/picturelib/core/reduce.h"

namespace picturelib {
namespace {

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

int WriteDepth(Encoding encoding, int depth) {
  switch (encoding) {
    case Encoding::Jpeg:
      return depth <= 1 ? 1 : 24;
    case Encoding::Gif:
      return depth > 8 ? 8 : depth;
    case Encoding::Tga:
      return depth > 8 ? 24 : 8;
    default:
      return depth;
  }
}

std::vector<uint8_t> Encode(Encoding encoding, const img_dib* dib, int depth, const EncodeOptions& options,
                            Progress& progress) {
  progress.Report(0);
  DibPtr plain = Normalised(InspectDib(dib));
  depth = WriteDepth(encoding, depth);
  progress.Slice(0, 50);
  // JPEG grey is made from the colours themselves, not from a reduced palette.
  const bool grey = encoding == Encoding::Jpeg && depth == 1;
  DibPtr converted = grey ? std::move(plain) : ToDepth(RefOf(plain.get()), depth, false, progress);
  plain.reset();
  progress.Slice(50, 99);
  progress.Report(0);

  std::vector<uint8_t> bytes;
  const DibRef c = RefOf(converted.get());
  switch (encoding) {
    case Encoding::Bmp:
      bytes = BmpFile(converted.get());
      break;
    case Encoding::Png:
      bytes = WritePng(c, options.interlaced);
      break;
    case Encoding::Jpeg:
      bytes = WriteJpeg(c, grey, options.quality, options.smoothing);
      break;
    case Encoding::Gif:
      bytes = WriteGif(c);
      break;
    case Encoding::Pcx:
      bytes = WritePcx(c);
      break;
    case Encoding::Tga:
      bytes = WriteTga(c);
      break;
    case Encoding::Tiff:
      bytes = WriteTiff(c, options.tiffCompression, options.appendTo);
      break;
  }
  progress.Slice(0, 100);
  progress.Report(100);
  return bytes;
}

}  // namespace picturelib
