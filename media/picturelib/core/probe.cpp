#include "media/picturelib/core/probe.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/limits.h"

namespace picturelib {
namespace {

void Need(bool ok, ErrorCode code) {
  if (!ok) Fail(code);
}

// ---- PNG ----

ProbeInfo ProbePng(const Bytes& in) {
  static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  Need(in.Has(0, 8) && std::memcmp(in.data, kSignature, 8) == 0, kErrNotPng);
  Need(in.Has(8, 25) && Be32(in.At(8)) == 13 && std::memcmp(in.At(12), "IHDR", 4) == 0, kErrCorruptPng);
  const uint8_t* h = in.At(16);
  const int64_t width = Be32(h), height = Be32(h + 4);
  const int depth = h[8], type = h[9];
  Need(h[10] == 0 && h[11] == 0 && h[12] <= 1, kErrCorruptPng);
  int channels = 0;
  switch (type) {
    case 0:
      channels = 1;
      Need(depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16, kErrCorruptPng);
      break;
    case 3:
      channels = 1;
      Need(depth == 1 || depth == 2 || depth == 4 || depth == 8, kErrCorruptPng);
      break;
    case 2:
      channels = 3;
      break;
    case 4:
      channels = 2;
      break;
    case 6:
      channels = 4;
      break;
    default:
      Fail(kErrCorruptPng);
  }
  if (type != 0 && type != 3) Need(depth == 8 || depth == 16, kErrCorruptPng);
  CheckDimensions(width, height, kErrCorruptPng);

  // Every chunk must lie inside the bytes, up to IEND.
  uint64_t pos = 8, idat = 0;
  int paletteEntries = 0;
  bool palette = false;
  for (;;) {
    Need(in.Has(pos, 12), kErrCorruptPng);
    const uint64_t length = Be32(in.At(pos));
    Need(length <= 0x7FFFFFFF && in.Has(pos + 8, length + 4), kErrCorruptPng);
    const uint8_t* tag = in.At(pos + 4);
    if (std::memcmp(tag, "PLTE", 4) == 0) {
      Need(!palette && idat == 0 && length % 3 == 0 && length > 0, kErrCorruptPng);
      paletteEntries = static_cast<int>(length / 3);
      Need(paletteEntries <= (type == 3 ? 1 << depth : 256), kErrCorruptPng);
      palette = true;
    } else if (std::memcmp(tag, "IDAT", 4) == 0) {
      Need(type != 3 || palette, kErrCorruptPng);
      idat += length;
    } else if (std::memcmp(tag, "IEND", 4) == 0) {
      break;
    }
    pos += 12 + length;
  }
  // Deflate cannot pack more than 1032 bytes into one, so too little image
  // data for the size the header claims is a truncated or hostile file.
  Need(idat > 0, kErrCorruptPng);
  CheckPixelsForData(width, height, (idat * 1032 + 4096) * 8 / static_cast<uint64_t>(channels * depth), idat, "PNG");

  static const char* const kClasses[] = {"GRAY", "", "RGB", "PALETTE", "GRAYALPHA", "", "RGBA"};
  ProbeInfo info;
  info.format = Format::Png;
  info.name = "PNG";
  info.klass = kClasses[type];
  info.width = static_cast<int32_t>(width);
  info.height = static_cast<int32_t>(height);
  info.bits = depth * channels;
  info.extra1 = paletteEntries;
  info.extra2 = h[12];
  return info;
}

// ---- JPEG ----

ProbeInfo ProbeJpeg(const Bytes& in) {
  Need(in.Has(0, 3) && in.data[0] == 0xFF && in.data[1] == 0xD8 && in.data[2] == 0xFF, kErrNotJpeg);
  ProbeInfo info;
  info.format = Format::Jpeg;
  info.name = "JPEG";
  bool frame = false, arithmetic = false;
  int scans = 0;
  uint64_t pos = 2, coded = 0;
  const uint8_t* b = in.data;
  while (pos < in.size) {
    // Stray bytes before a marker are skipped, as the decoder skips them.
    while (pos < in.size && b[pos] != 0xFF) ++pos;
    while (pos < in.size && b[pos] == 0xFF) ++pos;
    if (pos >= in.size) break;
    const uint8_t marker = b[pos++];
    if (marker == 0xD9) break;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
    Need(marker != 0x00 && marker != 0xD8, kErrCorruptJpeg);
    if (!in.Has(pos, 2)) break;  // cut inside a segment: judged below
    const uint64_t length = Be16(b + pos);
    Need(length >= 2, kErrCorruptJpeg);
    if (!in.Has(pos, length)) break;
    const uint8_t* s = b + pos + 2;
    const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (sof) {
      Need(!frame && length >= 8, kErrCorruptJpeg);
      frame = true;
      const int components = s[5];
      Need(length == 8 + 3 * static_cast<uint64_t>(components) && components >= 1, kErrCorruptJpeg);
      for (int c = 0; c < components; ++c) {
        const int h = s[6 + 3 * c + 1] >> 4, v = s[6 + 3 * c + 1] & 15;
        Need(h >= 1 && h <= 4 && v >= 1 && v <= 4, kErrCorruptJpeg);
      }
      const int height = Be16(s + 1), width = Be16(s + 3);
      // Lossless, hierarchical, 12-bit and a height given later (DNL) are
      // beyond the decoder; CMYK and grey are fine.
      Need(marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xC9 || marker == 0xCA, kErrUnsupported);
      Need(s[0] == 8 && height > 0 && components != 2 && components <= 4, kErrUnsupported);
      CheckDimensions(width, height, kErrCorruptJpeg);
      info.width = width;
      info.height = height;
      info.bits = 8 * components;
      info.klass = components == 1 ? "GRAY" : components == 3 ? "YCbCr" : "CMYK";
      info.extra2 = marker - 0xC0;
      arithmetic = marker >= 0xC9;
    }
    pos += length;
    if (marker == 0xDA) {
      Need(frame, kErrCorruptJpeg);
      // Each scan makes the decoder walk the whole picture once more.
      Need(++scans <= CurrentLimits().maxJpegScans, kErrUnsupported);
      // Entropy-coded data runs to the next marker that is not a stuffed
      // zero or a restart.
      const uint64_t start = pos;
      while (pos + 1 < in.size) {
        if (b[pos] == 0xFF) {
          const uint8_t next = b[pos + 1];
          if (next == 0xFF) {
            ++pos;
            continue;
          }
          if (next != 0 && !(next >= 0xD0 && next <= 0xD7)) break;
          pos += 2;
          continue;
        }
        ++pos;
      }
      coded += std::min<uint64_t>(pos, in.size) - start;
      if (pos + 1 >= in.size) break;
    }
  }
  // A file cut inside the entropy-coded data still shows what it has.
  Need(frame && scans > 0, kErrCorruptJpeg);
  // A Huffman code is at least a bit, and every 8 x 8 block of a component
  // needs one; at the coarsest sampling a block covers 32 x 32 pixels. The
  // arithmetic coder can spend far less on a flat block: a byte per 64 blocks.
  // The slack lets a small picture with a short scan through.
  CheckPixelsForData(info.width, info.height, coded * (arithmetic ? 64 : 8) * 1024 + 65536, coded, "JPEG");
  return info;
}

// ---- GIF ----

// Data sub-blocks: lengths each inside the bytes, up to the empty block.
uint64_t SkipSubBlocks(const Bytes& in, uint64_t& pos) {
  uint64_t total = 0;
  for (;;) {
    Need(in.Has(pos, 1), kErrCorruptGif);
    const uint8_t n = in.data[pos++];
    if (n == 0) return total;
    Need(in.Has(pos, n), kErrCorruptGif);
    pos += n;
    total += n;
  }
}

ProbeInfo ProbeGif(const Bytes& in) {
  Need(in.Has(0, 6) && (std::memcmp(in.data, "GIF87a", 6) == 0 || std::memcmp(in.data, "GIF89a", 6) == 0), kErrNotGif);
  Need(in.Has(0, 13), kErrCorruptGif);
  const uint8_t packed = in.data[10];
  const bool global = packed & 0x80;
  uint64_t pos = 13;
  if (global) {
    Need(in.Has(pos, 3 * (uint64_t{2} << (packed & 7))), kErrCorruptGif);
    pos += 3 * (uint64_t{2} << (packed & 7));
  }
  // The decoder shows the first image only; it must be complete.
  for (;;) {
    Need(in.Has(pos, 1), kErrCorruptGif);
    const uint8_t introducer = in.data[pos++];
    if (introducer == 0x21) {
      Need(in.Has(pos, 1), kErrCorruptGif);
      ++pos;
      SkipSubBlocks(in, pos);
      continue;
    }
    Need(introducer == 0x2C, kErrCorruptGif);
    Need(in.Has(pos, 9), kErrCorruptGif);
    const int width = Le16(in.At(pos + 4)), height = Le16(in.At(pos + 6));
    const uint8_t local = in.data[pos + 8];
    pos += 9;
    if (local & 0x80) {
      Need(in.Has(pos, 3 * (uint64_t{2} << (local & 7))), kErrCorruptGif);
      pos += 3 * (uint64_t{2} << (local & 7));
    }
    Need(in.Has(pos, 1), kErrCorruptGif);
    const int codeSize = in.data[pos++];
    Need(codeSize >= 1 && codeSize <= 11, kErrCorruptGif);
    const uint64_t data = SkipSubBlocks(in, pos);
    Need(data > 0, kErrCorruptGif);
    CheckDimensions(width, height, kErrCorruptGif);
    // Codes are at least codeSize + 1 bits wide, and one code gives at most
    // a string as long as the 4096-entry table.
    CheckPixelsForData(width, height, data * 8 / static_cast<uint64_t>(codeSize + 1) * 4096 + 4096, data, "GIF");
    ProbeInfo info;
    info.format = Format::Gif;
    info.name = "GIF";
    info.klass = "PALETTE";
    info.width = width;
    info.height = height;
    const int tableBits = (local & 0x80) ? (local & 7) + 1 : global ? (packed & 7) + 1 : 8;
    info.bits = tableBits;
    info.extra1 = (local & 0x80) || global ? 1 << tableBits : 0;
    info.extra2 = (local & 0x40) ? 1 : 0;
    return info;
  }
}

// ---- BMP ----

ProbeInfo ProbeBmp(const Bytes& in) {
  Need(in.Has(0, 2) && in.data[0] == 'B' && in.data[1] == 'M', kErrNotBmp);
  Need(in.Has(0, 18), kErrCorruptBmp);
  const uint64_t offBits = Le32(in.At(10));
  const uint64_t headerSize = Le32(in.At(14));
  const bool core = headerSize == 12;
  Need(core || headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 || headerSize == 108 ||
           headerSize == 124,
       kErrUnsupported);
  Need(in.Has(14, headerSize), kErrCorruptBmp);
  const uint8_t* h = in.At(14);
  int64_t width, height;
  int planes, bits;
  uint32_t compression = 0, used = 0;
  if (core) {
    width = Le16(h + 4);
    height = Le16(h + 6);
    planes = Le16(h + 8);
    bits = Le16(h + 10);
    Need(bits == 1 || bits == 4 || bits == 8 || bits == 24, kErrCorruptBmp);
  } else {
    width = static_cast<int32_t>(Le32(h + 4));
    height = static_cast<int32_t>(Le32(h + 8));
    planes = Le16(h + 12);
    bits = Le16(h + 14);
    compression = Le32(h + 16);
    used = Le32(h + 32);
    Need(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32, kErrCorruptBmp);
  }
  Need(planes == 1, kErrCorruptBmp);
  const bool runLength = compression == 1 || compression == 2;
  switch (compression) {
    case 0:
      break;
    case 1:
      Need(bits == 8, kErrCorruptBmp);
      break;
    case 2:
      Need(bits == 4, kErrCorruptBmp);
      break;
    // Bit masks; the 64-byte header is the other system's, where 3 means Huffman.
    case 3:
      Need((bits == 16 || bits == 32) && headerSize != 64, kErrUnsupported);
      break;
    default:
      Fail(kErrUnsupported);
  }
  const bool topDown = height < 0;
  Need(!(topDown && runLength), kErrCorruptBmp);
  const int64_t rows = topDown ? -height : height;
  CheckDimensions(width, rows, kErrCorruptBmp);

  uint64_t colours = 0;
  if (bits <= 8) {
    Need(used <= (1u << bits), kErrCorruptBmp);
    colours = used == 0 ? 1u << bits : used;
  }
  const uint64_t table = 14 + headerSize + (compression == 3 && headerSize == 40 ? 12 : 0);
  Need(in.Has(table, colours * (core ? 3 : 4)), kErrCorruptBmp);
  Need(offBits >= 14 + headerSize && offBits <= in.size, kErrCorruptBmp);
  if (runLength) {
    const uint64_t data = in.size - offBits;
    Need(data >= 2, kErrCorruptBmp);
    // A run of two bytes gives at most 255 pixels.
    CheckPixelsForData(width, rows, (data / 2 + 1) * 255, data, "run-length BMP");
  } else
    Need(in.Has(offBits, static_cast<uint64_t>((width * bits + 31) / 32 * 4) * static_cast<uint64_t>(rows)),
         kErrCorruptBmp);

  ProbeInfo info;
  info.format = Format::Bmp;
  info.name = "BMP";
  info.klass = bits <= 8 ? "PALETTE" : "RGB";
  info.width = static_cast<int32_t>(width);
  info.height = static_cast<int32_t>(rows);
  info.bits = bits;
  info.extra1 = static_cast<int>(colours);
  info.extra2 = static_cast<int>(compression);
  info.bottomUp = !topDown;
  return info;
}

// ---- PCX ----

ProbeInfo ProbePcx(const Bytes& in) {
  // One signature byte only: the next three must look right too before the
  // bytes count as PCX at all.
  Need(in.Has(0, 4) && in.data[0] == 0x0A, kErrNotPcx);
  const uint8_t version = in.data[1], encoding = in.data[2], bits = in.data[3];
  Need(version <= 5 && version != 1 && encoding <= 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8), kErrNotPcx);
  Need(in.Has(0, 128), kErrCorruptPcx);
  const uint8_t* h = in.data;
  const int64_t xmin = Le16(h + 4), ymin = Le16(h + 6), xmax = Le16(h + 8), ymax = Le16(h + 10);
  const int planes = h[65];
  const uint64_t bytesPerLine = Le16(h + 66);
  Need(xmax >= xmin && ymax >= ymin, kErrCorruptPcx);
  const int64_t width = xmax - xmin + 1, height = ymax - ymin + 1;
  Need(planes >= 1 && planes <= 4, kErrCorruptPcx);
  Need(bits == 8 || planes == 1 || bits == 1, kErrUnsupported);
  CheckDimensions(width, height, kErrCorruptPcx);
  Need(bytesPerLine * 8 >= static_cast<uint64_t>(width) * bits, kErrCorruptPcx);
  const uint64_t total = bytesPerLine * planes * static_cast<uint64_t>(height);
  const uint64_t data = in.size - 128;
  // A run of two bytes gives at most 63 bytes of picture.
  Need(encoding == 1 ? data * 63 >= total * 2 : data >= total, kErrCorruptPcx);

  ProbeInfo info;
  info.format = Format::Pcx;
  info.name = "PCX";
  info.klass = planes >= 3 && bits == 8 ? "RGB" : "PALETTE";
  info.width = static_cast<int32_t>(width);
  info.height = static_cast<int32_t>(height);
  info.bits = bits * planes;
  info.extra1 = info.bits <= 8 ? 1 << info.bits : 0;
  info.extra2 = planes;
  return info;
}

// ---- TGA ----

ProbeInfo ProbeTga(const Bytes& in) {
  // No signature: every header field must hold a value the format allows.
  Need(in.Has(0, 18), kErrNotTga);
  const uint8_t* h = in.data;
  const int idLength = h[0], mapType = h[1], type = h[2];
  const int mapFirst = Le16(h + 3), mapLength = Le16(h + 5), mapBits = h[7];
  const int width = Le16(h + 12), height = Le16(h + 14), depth = h[16], descriptor = h[17];
  const int alphaBits = descriptor & 15;
  Need(mapType <= 1 && (type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11), kErrNotTga);
  Need((descriptor & 0xC0) == 0, kErrNotTga);
  const bool mapBitsOk = mapBits == 15 || mapBits == 16 || mapBits == 24 || mapBits == 32;
  const int kind = type & 7;
  if (kind == 1) {
    Need(mapType == 1 && depth == 8 && mapLength >= 1 && mapFirst + mapLength <= 256 && mapBitsOk, kErrNotTga);
  } else {
    Need(kind == 2 ? depth == 15 || depth == 16 || depth == 24 || depth == 32 : depth == 8, kErrNotTga);
    Need(mapType == 1 ? mapBitsOk : mapFirst == 0 && mapLength == 0, kErrNotTga);
  }
  Need(depth == 32                  ? alphaBits == 0 || alphaBits == 8
       : depth >= 15 && depth <= 16 ? alphaBits <= 1
                                    : alphaBits == 0,
       kErrNotTga);
  Need(width > 0 && height > 0, kErrNotTga);
  CheckDimensions(width, height, kErrCorruptTga);
  // Right-to-left rows are beyond the decoder.
  Need((descriptor & 0x10) == 0, kErrUnsupported);

  const uint64_t pos =
      18 + static_cast<uint64_t>(idLength) + (mapType ? static_cast<uint64_t>(mapLength) * ((mapBits + 7) / 8) : 0);
  Need(in.Has(0, pos), kErrCorruptTga);
  const uint64_t pixelBytes = (depth + 7) / 8;
  const uint64_t pixels = static_cast<uint64_t>(width) * height;
  const uint64_t data = in.size - pos;
  // A run packet of one count byte and one pixel gives at most 128 pixels.
  Need(type >= 9 ? data >= (pixels + 127) / 128 * (1 + pixelBytes) : data >= pixels * pixelBytes, kErrCorruptTga);

  ProbeInfo info;
  info.format = Format::Tga;
  info.name = "TGA";
  info.klass = kind == 1 ? "PALETTE" : kind == 3 ? "GRAY" : depth == 32 ? "RGBA" : "RGB";
  info.width = width;
  info.height = height;
  info.bits = depth;
  info.extra1 = kind == 1 ? mapLength : 0;
  info.extra2 = type;
  info.bottomUp = (descriptor & 0x20) == 0;
  return info;
}

// ---- TIFF ----

struct TiffReader {
  const Bytes& in;
  bool big;
  uint16_t U16(uint64_t at) const { return big ? Be16(in.At(at)) : Le16(in.At(at)); }
  uint32_t U32(uint64_t at) const { return big ? Be32(in.At(at)) : Le32(in.At(at)); }
};

ProbeInfo ProbeTiff(const Bytes& in) {
  const TiffFile file = WalkTiff(in);
  const TiffPage page = ReadTiffPage(in, file, 0);
  ProbeInfo info;
  info.format = Format::Tiff;
  info.name = "TIFF";
  switch (page.photometric) {
    case 0:
    case 1:
      info.klass = "GRAY";
      break;
    case 2:
      info.klass = "RGB";
      break;
    case 3:
      info.klass = "PALETTE";
      break;
    case 5:
      info.klass = "CMYK";
      break;
    case 6:
      info.klass = "YCbCr";
      break;
    case 0xFFFFFFFF:
      info.klass = page.samples >= 3 ? "RGB" : "GRAY";
      break;
    default:
      info.klass = "OTHER";
  }
  info.width = static_cast<int32_t>(page.width);
  info.height = static_cast<int32_t>(page.height);
  info.bits = static_cast<int>(page.bitsPerSample * page.samples);
  info.extra1 = static_cast<int>(page.colourMapEntries);
  info.extra2 = static_cast<int>(file.directories.size());
  return info;
}

}  // namespace

TiffFile WalkTiff(const Bytes& in) {
  Need(in.Has(0, 4), kErrNotTiff);
  TiffFile file;
  if (std::memcmp(in.data, "II*\0", 4) == 0) {
    file.bigEndian = false;
  } else if (std::memcmp(in.data, "MM\0*", 4) == 0) {
    file.bigEndian = true;
  } else {
    Need(std::memcmp(in.data, "II+\0", 4) != 0 && std::memcmp(in.data, "MM\0+", 4) != 0, kErrUnsupported);
    Fail(kErrNotTiff);
  }
  Need(in.Has(0, 8), kErrCorruptTiff);
  const TiffReader r{in, file.bigEndian};
  std::set<uint32_t> seen;
  uint32_t offset = r.U32(4);
  do {
    // A chain that comes back to a directory already read ends there: the
    // pages before the loop are sound.
    if (!file.directories.empty() && seen.count(offset)) break;
    Need(offset >= 8 && in.Has(offset, 2) && seen.insert(offset).second, kErrCorruptTiff);
    const uint64_t entries = r.U16(offset);
    Need(entries > 0 && in.Has(offset + 2, entries * 12 + 4), kErrCorruptTiff);
    file.directories.push_back(offset);
    offset = r.U32(offset + 2 + entries * 12);
  } while (offset != 0 && file.directories.size() < static_cast<std::size_t>(CurrentLimits().maxTiffPages));
  return file;
}

TiffPage ReadTiffPage(const Bytes& in, const TiffFile& file, std::size_t index) {
  Need(index < file.directories.size(), kErrNoSuchPage);
  const TiffReader r{in, file.bigEndian};
  const uint64_t ifd = file.directories[index];
  const uint64_t entries = r.U16(ifd);

  struct Array {
    uint64_t at = 0, count = 0;
    int type = 0;
    bool present = false;
  };
  const auto typeSize = [](int type) -> uint64_t {
    switch (type) {
      case 1:
      case 2:
      case 6:
      case 7:
        return 1;
      case 3:
      case 8:
        return 2;
      case 4:
      case 9:
      case 11:
      case 13:
        return 4;
      case 5:
      case 10:
      case 12:
        return 8;
      default:
        return 0;
    }
  };
  // An entry's values: inline when they fit in four bytes, else at an offset
  // that must lie inside the bytes. Only SHORT and LONG hold what we read.
  const auto array = [&](uint64_t entry) {
    Array a;
    a.type = r.U16(entry + 2);
    a.count = r.U32(entry + 4);
    Need(a.type == 3 || a.type == 4, kErrCorruptTiff);
    const uint64_t bytes = a.count * typeSize(a.type);
    a.at = bytes <= 4 ? entry + 8 : r.U32(entry + 8);
    Need(a.count > 0 && in.Has(a.at, bytes), kErrCorruptTiff);
    a.present = true;
    return a;
  };
  const auto value = [&](const Array& a, uint64_t i) -> uint32_t {
    return a.type == 3 ? r.U16(a.at + 2 * i) : r.U32(a.at + 4 * i);
  };

  TiffPage page;
  Array offsets, counts;
  uint32_t rowsPerStrip = 0xFFFFFFFF, planar = 1, tileWidth = 0, tileHeight = 0;
  bool tiled = false;
  for (uint64_t e = 0; e < entries; ++e) {
    const uint64_t entry = ifd + 2 + 12 * e;
    const uint16_t tag = r.U16(entry);
    switch (tag) {
      case 256:
        page.width = value(array(entry), 0);
        break;
      case 257:
        page.height = value(array(entry), 0);
        break;
      case 258:
        page.bitsPerSample = value(array(entry), 0);
        break;
      case 259:
        page.compression = value(array(entry), 0);
        break;
      case 262:
        page.photometric = value(array(entry), 0);
        break;
      case 277:
        page.samples = value(array(entry), 0);
        break;
      case 278:
        rowsPerStrip = value(array(entry), 0);
        break;
      case 284:
        planar = value(array(entry), 0);
        break;
      case 320:
        page.colourMapEntries = static_cast<uint32_t>(array(entry).count / 3);
        break;
      case 322:
        tileWidth = value(array(entry), 0);
        break;
      case 323:
        tileHeight = value(array(entry), 0);
        break;
      case 273:
        offsets = array(entry);
        break;
      case 279:
        counts = array(entry);
        break;
      case 324:
        offsets = array(entry);
        tiled = true;
        break;
      case 325:
        counts = array(entry);
        break;
      default:
        break;
    }
  }
  CheckDimensions(page.width, page.height, kErrCorruptTiff);
  Need(page.samples >= 1 && page.samples <= 16 && page.bitsPerSample >= 1 && page.bitsPerSample <= 32 &&
           (planar == 1 || planar == 2),
       kErrCorruptTiff);
  Need(offsets.present && counts.present, kErrCorruptTiff);
  uint64_t chunks;
  if (tiled) {
    Need(tileWidth > 0 && tileHeight > 0 && tileWidth <= CurrentLimits().maxSide &&
             tileHeight <= CurrentLimits().maxSide,
         kErrCorruptTiff);
    chunks =
        (page.width + uint64_t{tileWidth} - 1) / tileWidth * ((page.height + uint64_t{tileHeight} - 1) / tileHeight);
  } else {
    Need(rowsPerStrip > 0, kErrCorruptTiff);
    const uint64_t rows = rowsPerStrip < page.height ? rowsPerStrip : page.height;
    chunks = (page.height + rows - 1) / rows;
  }
  if (planar == 2) chunks *= page.samples;
  // Every strip or tile the decoder will ask for lies inside the bytes.
  Need(offsets.count >= chunks && counts.count >= chunks, kErrCorruptTiff);
  uint64_t coded = 0;
  for (uint64_t i = 0; i < chunks; ++i) {
    Need(in.Has(value(offsets, i), value(counts, i)), kErrCorruptTiff);
    coded += value(counts, i);
  }
  // The most bytes of samples one coded byte can give: PackBits 128 from
  // two, LZW a 4094-byte string from a 9-bit code, deflate 1032, the fax
  // codes a whole row from a bit, JPEG an 8 x 8 block of every sample from
  // a bit. Other codecs are refused by the reader.
  const uint64_t bitsPerPixel = uint64_t{page.samples} * page.bitsPerSample;
  uint64_t ratio = 0;
  switch (page.compression) {
    case 1:
      ratio = 1;
      break;
    case 2:
    case 3:
    case 4:
      ratio = page.width;
      break;
    case 5:
      ratio = 4094 * 8 / 9;
      break;
    case 7:
      ratio = 64 * 16 * bitsPerPixel;
      break;
    case 8:
    case 32946:
      ratio = 1032;
      break;
    case 32773:
      ratio = 64;
      break;
    default:
      break;
  }
  if (ratio)
    CheckPixelsForData(page.width, page.height, (coded * ratio + 4096) * 8 / bitsPerPixel, coded, "TIFF");
  return page;
}

ProbeInfo Probe(Format format, const Bytes& in) {
  if (!in.data) Fail(kErrBadArgument);
  switch (format) {
    case Format::Png:
      return ProbePng(in);
    case Format::Jpeg:
      return ProbeJpeg(in);
    case Format::Gif:
      return ProbeGif(in);
    case Format::Bmp:
      return ProbeBmp(in);
    case Format::Pcx:
      return ProbePcx(in);
    case Format::Tga:
      return ProbeTga(in);
    case Format::Tiff:
      return ProbeTiff(in);
  }
  Fail(kErrInternal);
}

ProbeInfo ProbeAny(const Bytes& in) {
  static const struct {
    Format format;
    ErrorCode notIt;
  } kOrder[] = {{Format::Png, kErrNotPng}, {Format::Jpeg, kErrNotJpeg}, {Format::Gif, kErrNotGif},
                {Format::Bmp, kErrNotBmp}, {Format::Tiff, kErrNotTiff}, {Format::Pcx, kErrNotPcx},
                {Format::Tga, kErrNotTga}};
  // The first format whose signature matched but whose header failed says
  // what went wrong, unless a later format accepts the bytes.
  ErrorCode first = kErrUnknownFormat;
  for (const auto& f : kOrder) {
    try {
      return Probe(f.format, in);
    } catch (const ImageError& e) {
      if (e.code() != f.notIt && first == kErrUnknownFormat) first = e.code();
    }
  }
  Fail(first);
}

}  // namespace picturelib
