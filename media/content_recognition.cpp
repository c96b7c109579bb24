#include "media/content_recognition.h"

#include <array>
#include <cstring>
#include <string_view>

#include "dataset/ascii_text.h"
#include "media/image_library.h"

namespace media {
namespace {

std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::int16_t S16(const std::uint8_t* p) { return static_cast<std::int16_t>(U16(p)); }
std::int32_t S32(const std::uint8_t* p) { return static_cast<std::int32_t>(U32(p)); }

constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr int kScreenPixelsPerInch = 96;

bool IsEnhancedMetafile(std::span<const std::uint8_t> b) {
  return b.size() > 100 && U32(b.data()) == 1 && U32(b.data() + 40) == kEmfSignature;
}

bool IsPlaceableMetafile(std::span<const std::uint8_t> b) {
  if (b.size() < 22 || U32(b.data()) != kPlaceableKey) return false;
  std::uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= U16(b.data() + 2 * i);
  return sum == U16(b.data() + 20);
}

// Metafile sizes in screen pixels, from their headers: the enhanced kind's
// frame in hundredths of a millimetre, the placeable kind's box in its own units.
void MetafileSize(std::span<const std::uint8_t> b, bool enhanced, TContentInfo& info) {
  if (enhanced) {
    const std::int64_t w = std::int64_t{S32(b.data() + 32)} - S32(b.data() + 24);
    const std::int64_t h = std::int64_t{S32(b.data() + 36)} - S32(b.data() + 28);
    info.Width = static_cast<std::int32_t>(w * kScreenPixelsPerInch / 2540);
    info.Height = static_cast<std::int32_t>(h * kScreenPixelsPerInch / 2540);
  } else {
    const int inch = U16(b.data() + 14) ? U16(b.data() + 14) : 1440;
    info.Width = (S16(b.data() + 10) - S16(b.data() + 6)) * kScreenPixelsPerInch / inch;
    info.Height = (S16(b.data() + 12) - S16(b.data() + 8)) * kScreenPixelsPerInch / inch;
  }
}

// The probe's format names and the content kinds they stand for.
constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kProbedKinds{{
    {"PNG", "PNG"}, {"GIF", "GIF"}, {"PCX", "PCX"}, {"TGA", "TGA"}, {"EPS", "EPS"},
    {"JPEG", "JPG"}, {"PCD", "PCD"}, {"DXF", "DXF"}, {"BMP", "BMP"}, {"TIFF", "TIF"},
}};

std::string CompressionName(std::int32_t code) {
  switch (code) {
    case 1: return "NONE";
    case 2: return "CCITT3";
    case 3: return "FAXCCITT3";
    case 4: return "FAXCCITT4";
    case 5: return "LZW";
    case 32773: return "PACKBITS";
    default: return "UNKNOWN";
  }
}

bool At(std::span<const std::uint8_t> b, std::size_t offset, std::string_view tag) {
  return b.size() >= offset + tag.size() && std::memcmp(b.data() + offset, tag.data(), tag.size()) == 0;
}

// The tail of the sub-format GUID every extensible PCM or float header carries.
constexpr std::uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool PlayableFormat(const std::uint8_t* f, std::uint32_t size) {
  std::uint16_t tag = U16(f);
  if (tag == 0xFFFE) {
    if (size < 40 || std::memcmp(f + 26, kSubFormatTail, sizeof kSubFormatTail) != 0) return false;
    tag = U16(f + 24);
  }
  const std::uint16_t channels = U16(f + 2), bits = U16(f + 14);
  const bool pcm = tag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool floating = tag == 3 && bits == 32;
  return (pcm || floating) && channels >= 1 && U32(f + 4) >= 1;
}

bool PlayableWave(std::span<const std::uint8_t> b) {
  if (!At(b, 0, "RIFF") || !At(b, 8, "WAVE")) return false;
  bool format = false;
  for (std::uint64_t pos = 12; pos + 8 <= b.size();) {
    const std::uint8_t* chunk = b.data() + pos;
    const std::uint32_t size = U32(chunk + 4);
    const std::uint64_t body = pos + 8;
    if (At(b, pos, "fmt ")) {
      if (format || size < 16 || size > b.size() - body || !PlayableFormat(chunk + 8, size)) return false;
      format = true;
    } else if (At(b, pos, "data")) {
      return format;
    }
    pos = body + size + (size & 1);
  }
  return false;
}

}  // namespace

std::span<const std::uint8_t> SkipGraphicHeader(std::span<const std::uint8_t> blob) {
  if (blob.size() >= 8 && U16(blob.data()) == 1 && U16(blob.data() + 2) == 256 &&
      U32(blob.data() + 4) == blob.size() - 8)
    return blob.subspan(8);
  return blob;
}

TRecognition RecognizeBytes(std::span<const std::uint8_t> blob, int tiffPage,
                            TContentInfo& info) {
  TRecognition result;
  info.FormatName = "Empty";
  info.FormatClass = "-1";
  info.Width = info.Height = -1;
  info.Bits = info.Extra1 = info.Extra2 = -1;
  info.ByteSize = -1;
  const auto size = static_cast<std::int32_t>(blob.size() > INT32_MAX ? INT32_MAX : blob.size());

  const bool enhanced = IsEnhancedMetafile(blob);
  if (enhanced || IsPlaceableMetafile(blob)) {
    MetafileSize(blob, enhanced, info);
    info.FormatClass = info.FormatName = result.Kind = "WMF";
    info.ByteSize = size;
    return result;
  }

  // Zero bytes must not end the search, so they read as spaces.
  std::string head(reinterpret_cast<const char*>(blob.data()), blob.size() < 45 ? blob.size() : 45);
  for (char& c : head) {
    if (c == 0) c = ' ';
  }
  auto has = [&](std::string_view s) { return head.find(s) != std::string::npos; };
  auto signature = [&](const char* klass, const char* kind) {
    info.FormatClass = klass;
    info.FormatName = result.Kind = kind;
    info.ByteSize = size;
    return result;
  };
  if (has("RIFF")) {
    info.FormatClass = "RIFF";
    // A later match overrides an earlier one.
    for (auto [sig, kind] : {std::pair{"WAV", "WAV"}, {"AVI", "AVI"}, {"RMID", "RMI"}}) {
      if (has(sig)) info.FormatName = result.Kind = kind;
    }
    if (result.Kind != "-1") info.ByteSize = size;
    return result;
  }
  if (has("mdat")) return signature("QTM", "MOV");
  if (has("MThd")) return signature("MIDI", "MID");
  if (has("mordazub")) return signature("MSG", "SCM");
  if (has("zubmorda")) return signature("MSG", "CMS");
  if (has("SECTION")) {
    signature("DXF", "DXF");
    TStreamInfo dxf;
    if (DxfInfo(blob, dxf)) {
      info.Width = dxf.Width;
      info.Height = dxf.Height;
      info.Bits = dxf.Bits;
    }
    return result;
  }
  if (has("\\rtf")) return signature("RTF", "RTF");

  const std::span<const std::uint8_t> picture = SkipGraphicHeader(blob);
  TStreamInfo probed;
  if (!StreamInfo(picture, probed)) {
    result.Failed = true;
    return result;
  }
  info.FormatName = probed.FormatName;
  info.FormatClass = probed.FormatClass;
  info.Width = probed.Width;
  info.Height = probed.Height;
  info.Bits = probed.Bits;
  info.Extra1 = probed.Extra1;
  info.Extra2 = probed.Extra2;
  info.ByteSize = size;
  const std::string name = dataset::AsciiUpper(probed.FormatName);
  for (auto [format, kind] : kProbedKinds) {
    if (name == format) result.Kind = kind;
  }
  if (result.Kind == "TIF") {
    TTiffPageInfo page;
    if (TiffPageInfo(picture, tiffPage, page)) {
      info.TiffPages = page.PageCount;
      info.Width = page.Width;
      info.Height = page.Height;
      info.Bits = page.Bits;
      info.FormatClass = CompressionName(page.Compression);
    }
  }
  return result;
}

bool PlayableSound(std::string_view kind, std::span<const std::uint8_t> bytes) {
  if (kind == "WAV") return PlayableWave(bytes);
  if (kind == "MID") return At(bytes, 0, "MThd");
  return false;
}

}  // namespace media
