// TIFF through libtiff, writing to memory; a further page is appended by
// libtiff itself to a file we have walked first.
#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/format_writers.h"
#include "media/picturelib/core/limits.h"
#include "media/picturelib/core/probe.h"
#include "media/picturelib/core/tiff_memory.h"

namespace picturelib {
namespace {

uint16_t CodecOf(int compression) {
  switch (compression) {
    case IMG_TIFF_NONE:
      return COMPRESSION_NONE;
    case IMG_TIFF_CCITT_RLE:
      return COMPRESSION_CCITTRLE;
    case IMG_TIFF_CCITT_FAX3:
      return COMPRESSION_CCITTFAX3;
    case IMG_TIFF_CCITT_FAX4:
      return COMPRESSION_CCITTFAX4;
    case IMG_TIFF_LZW:
      return COMPRESSION_LZW;
    case IMG_TIFF_PACKBITS:
      return COMPRESSION_PACKBITS;
    default:
      Fail(kErrBadArgument, "Unknown TIFF compression");
  }
}

// libtiff follows the page chain of a file it appends to without a guard
// against loops, so the chain must be whole: walked to its end, inside the
// bytes, and not cut short by the page limit or by a loop. The pages already
// there must pass our checks too, or the new page lands in a file nobody reads.
void CheckAppendable(const Bytes& in) {
  const TiffFile file = WalkTiff(in);
  for (std::size_t i = 0; i < file.directories.size(); ++i) ReadTiffPage(in, file, i);
  const uint64_t last = file.directories.back();
  const uint64_t entries = file.bigEndian ? Be16(in.At(last)) : Le16(in.At(last));
  const uint8_t* next = in.At(last + 2 + 12 * entries);
  if ((file.bigEndian ? Be32(next) : Le32(next)) != 0) Fail(kErrCorruptTiff, "The TIFF's pages do not end");
  if (file.directories.size() >= static_cast<std::size_t>(CurrentLimits().maxTiffPages))
    Fail(kErrTooLarge, "The TIFF has as many pages as it may");
}

// What the rows mean: 1-bit black and white as stored when the table is
// black then white (or the reverse), a palette otherwise, and colour.
uint16_t Photometric(const DibRef& d) {
  if (d.bits == 24) return PHOTOMETRIC_RGB;
  if (d.bits == 1) {
    const Rgb black{0, 0, 0}, white{255, 255, 255};
    const Rgb first = d.Colour(0), second = d.colours > 1 ? d.Colour(1) : (first == black ? white : black);
    if (first == black && second == white) return PHOTOMETRIC_MINISBLACK;
    if (first == white && second == black) return PHOTOMETRIC_MINISWHITE;
  }
  return PHOTOMETRIC_PALETTE;
}

}  // namespace

std::vector<uint8_t> WriteTiff(const DibRef& d, int compression, const Bytes& appendTo) {
  const uint16_t codec = CodecOf(compression);
  const bool fax = codec == COMPRESSION_CCITTRLE || codec == COMPRESSION_CCITTFAX3 || codec == COMPRESSION_CCITTFAX4;
  if (fax && d.bits != 1) Fail(kErrUnsupported, "CCITT compression needs a black and white (1-bit) picture");
  const bool append = appendTo.size > 0;
  std::vector<uint8_t> bytes;
  if (append) {
    CheckAppendable(appendTo);
    bytes.assign(appendTo.data, appendTo.data + appendTo.size);
  }
  TiffMemory mem(bytes);
  TiffPtr tif = OpenTiff(mem, append ? "a" : "w");
  if (!tif) Fail(mem.OutOfMemory() ? kErrOutOfMemory : append ? kErrCorruptTiff : kErrEncode);

  TIFF* t = tif.get();
  const uint16_t photometric = Photometric(d);
  const bool colour = d.bits == 24;
  bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(d.width)) &&
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(d.height)) &&
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(colour ? 8 : d.bits)) &&
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(colour ? 3 : 1)) &&
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric) && TIFFSetField(t, TIFFTAG_COMPRESSION, codec) &&
            TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  if (ok && append) {
    // Every page says it is one of several, as the format asks.
    ok = TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  }
  if (ok && photometric == PHOTOMETRIC_PALETTE) {
    const uint32_t entries = 1u << d.bits;
    std::vector<uint16_t> red(entries), green(entries), blue(entries);
    for (uint32_t i = 0; i < entries; ++i) {
      const Rgb c = d.Colour(i);
      red[i] = static_cast<uint16_t>(c.r * 257);
      green[i] = static_cast<uint16_t>(c.g * 257);
      blue[i] = static_cast<uint16_t>(c.b * 257);
    }
    ok = TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  }
  if (!ok) Fail(kErrEncode);

  const std::size_t lineBytes = (static_cast<std::size_t>(d.width) * static_cast<std::size_t>(d.bits) + 7) / 8;
  std::vector<uint8_t> line(lineBytes);
  for (int32_t y = 0; y < d.height; ++y) {
    const uint8_t* row = d.Row(y);
    if (colour) {
      // Block rows hold blue, green, red.
      for (std::size_t x = 0; x < lineBytes; x += 3) {
        line[x] = row[x + 2];
        line[x + 1] = row[x + 1];
        line[x + 2] = row[x];
      }
    } else {
      std::memcpy(line.data(), row, lineBytes);
    }
    if (TIFFWriteScanline(t, line.data(), static_cast<uint32_t>(y), 0) < 0) Fail(mem.OutOfMemory() ? kErrOutOfMemory : kErrEncode);
  }
  if (!TIFFWriteDirectory(t)) Fail(mem.OutOfMemory() ? kErrOutOfMemory : kErrEncode);
  tif.reset();
  if (mem.OutOfMemory()) Fail(kErrOutOfMemory);
  return bytes;
}

}  // namespace picturelib
