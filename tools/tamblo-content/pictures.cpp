#include "tools/tamblo-content/pictures.h"

#include <SDL.h>
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "engine/public/byte_order.h"
#include "media/content_recognition.h"
#include "media/image_library.h"

namespace tamblo::content_tool {
namespace {

constexpr const char* kEmojiFamily = "Noto Color Emoji";

void PutBig32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}

// PNG keeps its integers big-endian; the CRC covers type and body.
void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& body) {
  PutBig32(out, static_cast<std::uint32_t>(body.size()));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  const uLong crc = crc32(0, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
  PutBig32(out, static_cast<std::uint32_t>(crc));
}

std::string Utf8(const std::u32string& points) {
  std::string out;
  for (char32_t c : points) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Joiners and tags only steer how a sequence is drawn; the font need not
// draw them on their own.
bool IsSequenceControl(char32_t c) { return c == 0x200D || (c >= 0xE0020 && c <= 0xE007F) || c == 0x20E3; }

std::string FindEmojiFont() {
  FcInit();
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(kEmojiFamily));
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  std::string file;
  if (match) {
    FcChar8* family = nullptr;
    FcChar8* path = nullptr;
    // fontconfig answers its nearest font when the family is missing.
    if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch &&
        std::string(reinterpret_cast<char*>(family)) == kEmojiFamily &&
        FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch)
      file = reinterpret_cast<char*>(path);
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return file;
}

// Resamples one axis with a triangle filter as wide as the step, which
// averages when shrinking and interpolates when enlarging.
std::vector<float> ScaleAxis(const std::vector<float>& in, int inW, int inH, int outW, bool horizontal) {
  const int inLen = horizontal ? inW : inH;
  const int lines = horizontal ? inH : inW;
  const double scale = static_cast<double>(outW) / inLen;
  const double support = std::max(1.0, 1.0 / scale);
  std::vector<float> out(static_cast<std::size_t>(outW) * lines * 3, 0.0f);
  for (int o = 0; o < outW; ++o) {
    const double centre = (o + 0.5) / scale - 0.5;
    const int first = std::max(0, static_cast<int>(std::floor(centre - support)));
    const int last = std::min(inLen - 1, static_cast<int>(std::ceil(centre + support)));
    std::vector<double> weights;
    double total = 0;
    for (int i = first; i <= last; ++i) {
      const double w = std::max(0.0, 1.0 - std::abs(i - centre) / support);
      weights.push_back(w);
      total += w;
    }
    if (total <= 0) continue;
    for (int line = 0; line < lines; ++line) {
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (int i = first; i <= last; ++i) {
          const std::size_t at = horizontal ? (static_cast<std::size_t>(line) * inW + i) * 3
                                            : (static_cast<std::size_t>(i) * inW + line) * 3;
          sum += weights[static_cast<std::size_t>(i - first)] * in[at + static_cast<std::size_t>(c)];
        }
        const std::size_t to = horizontal ? (static_cast<std::size_t>(line) * outW + o) * 3
                                          : (static_cast<std::size_t>(o) * inW + line) * 3;
        out[to + static_cast<std::size_t>(c)] = static_cast<float>(sum / total);
      }
    }
  }
  return out;
}

bool IsRasterKind(const std::string& kind) {
  for (const char* k : {"PNG", "TIF", "GIF", "PCX", "TGA", "EPS", "BMP", "PCD", "DXF", "JPG"})
    if (kind == k) return true;
  return false;
}

// The picture control's own steps: recognise, then decode with the kind's
// reader. Answers the DIB, or null with `why` set.
media::TDibHandle Decode(std::span<const std::uint8_t> bytes, std::string& why, media::TContentInfo& info,
                         std::string& kind) {
  if (bytes.empty()) {
    why = "no picture";
    return nullptr;
  }
  const media::TRecognition recognition = media::RecognizeBytes(bytes, 1, info);
  if (recognition.Failed) {
    why = "the image library cannot read it: " + media::LastLibraryError().Text;
    return nullptr;
  }
  kind = recognition.Kind;
  if (!IsRasterKind(recognition.Kind)) {
    why = "not a picture (" + info.FormatName + ")";
    return nullptr;
  }
  media::TReadOptions options;
  options.Depth = 24;
  media::TDibHandle dib = media::ReadPicture(
      recognition.Kind, recognition.Kind == "BMP" ? media::SkipGraphicHeader(bytes) : bytes, options);
  if (!dib) why = "does not decode: " + media::LastLibraryError().Text;
  return dib;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const TRgbPicture& picture) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBig32(header, static_cast<std::uint32_t>(picture.width));
  PutBig32(header, static_cast<std::uint32_t>(picture.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter method, no interlace
  PutChunk(out, "IHDR", header);
  // Each row filtered by its left neighbour ("Sub"): flat white compresses
  // to almost nothing and the emoji's gradients to little.
  const std::size_t stride = static_cast<std::size_t>(picture.width) * 3;
  std::vector<std::uint8_t> raw;
  raw.reserve((stride + 1) * static_cast<std::size_t>(picture.height));
  for (int y = 0; y < picture.height; ++y) {
    const std::uint8_t* row = picture.rgb.data() + static_cast<std::size_t>(y) * stride;
    raw.push_back(1);
    for (std::size_t i = 0; i < stride; ++i)
      raw.push_back(static_cast<std::uint8_t>(row[i] - (i >= 3 ? row[i - 3] : 0)));
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
    throw std::runtime_error("cannot compress a picture");
  packed.resize(packedSize);
  PutChunk(out, "IDAT", packed);
  PutChunk(out, "IEND", {});
  return out;
}

struct TEmojiFont::TState {
  TTF_Font* font = nullptr;
};

TEmojiFont::TEmojiFont() : state_(std::make_unique<TState>()) {
  file_ = FindEmojiFont();
  if (file_.empty())
    throw std::runtime_error(std::string("the font \"") + kEmojiFamily +
                             "\" is not installed (Debian package fonts-noto-color-emoji)");
  if (TTF_Init() != 0) throw std::runtime_error(std::string("cannot start SDL_ttf: ") + TTF_GetError());
  state_->font = TTF_OpenFont(file_.c_str(), kEmojiPixelSize);
  if (!state_->font) {
    TTF_Quit();
    throw std::runtime_error("cannot open " + file_ + ": " + TTF_GetError());
  }
}

TEmojiFont::~TEmojiFont() {
  TTF_CloseFont(state_->font);
  TTF_Quit();
}

bool TEmojiFont::Provides(const std::u32string& emoji) const {
  if (emoji.empty()) return false;
  for (char32_t c : emoji)
    if (!IsSequenceControl(c) && !TTF_GlyphIsProvided32(state_->font, static_cast<Uint32>(c))) return false;
  return true;
}

TRgbPicture TEmojiFont::Render(const std::u32string& emoji) const {
  SDL_Surface* drawn = TTF_RenderUTF8_Blended(state_->font, Utf8(emoji).c_str(), SDL_Color{0, 0, 0, 255});
  if (!drawn) throw std::runtime_error(std::string("cannot draw the emoji: ") + TTF_GetError());
  SDL_Surface* argb = SDL_ConvertSurfaceFormat(drawn, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(drawn);
  if (!argb) throw std::runtime_error(std::string("cannot convert the emoji: ") + SDL_GetError());
  TRgbPicture picture;
  picture.width = argb->w;
  picture.height = argb->h;
  picture.rgb.resize(static_cast<std::size_t>(argb->w) * argb->h * 3);
  SDL_LockSurface(argb);
  for (int y = 0; y < argb->h; ++y) {
    const auto* row =
        reinterpret_cast<const Uint32*>(static_cast<const std::uint8_t*>(argb->pixels) + y * argb->pitch);
    for (int x = 0; x < argb->w; ++x) {
      const Uint32 p = row[x];
      const unsigned a = p >> 24;
      const unsigned rgb[3] = {(p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF};
      std::uint8_t* to = &picture.rgb[(static_cast<std::size_t>(y) * argb->w + x) * 3];
      // Straight alpha over white.
      for (int c = 0; c < 3; ++c)
        to[c] = static_cast<std::uint8_t>((rgb[c] * a + 255 * (255 - a) + 127) / 255);
    }
  }
  SDL_UnlockSurface(argb);
  SDL_FreeSurface(argb);
  return picture;
}

TRgbPicture FitPicture(std::span<const std::uint8_t> bytes, std::string& why) {
  media::TContentInfo info;
  std::string kind;
  const media::TDibHandle dib = Decode(bytes, why, info, kind);
  if (!dib) return {};
  const std::uint8_t* block = dib->bytes;
  const int width = ledger::GetI32(block, IMG_DIB_OFF_WIDTH);
  const int rawHeight = ledger::GetI32(block, IMG_DIB_OFF_HEIGHT);
  const int height = std::abs(rawHeight);
  if (width <= 0 || height == 0 || ledger::GetU16(block, IMG_DIB_OFF_BITS) != 24) {
    why = "decodes to an unexpected layout";
    return {};
  }
  const std::size_t stride = (static_cast<std::size_t>(width) * 24 + 31) / 32 * 4;
  const std::uint8_t* pixels = block + ledger::GetU32(block, IMG_DIB_OFF_HEADER_SIZE);
  std::vector<float> rgb(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    // Positive heights are stored bottom-up.
    const std::uint8_t* row = pixels + stride * static_cast<std::size_t>(rawHeight > 0 ? height - 1 - y : y);
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        rgb[(static_cast<std::size_t>(y) * width + x) * 3 + static_cast<std::size_t>(c)] = row[x * 3 + 2 - c];
  }
  const double scale =
      std::min(static_cast<double>(kFrameWidth) / width, static_cast<double>(kFrameHeight) / height);
  const int w = std::clamp(static_cast<int>(std::lround(width * scale)), 1, kFrameWidth);
  const int h = std::clamp(static_cast<int>(std::lround(height * scale)), 1, kFrameHeight);
  const std::vector<float> wide = ScaleAxis(rgb, width, height, w, true);
  const std::vector<float> fitted = ScaleAxis(wide, w, height, h, false);
  TRgbPicture picture;
  picture.width = kFrameWidth;
  picture.height = kFrameHeight;
  picture.rgb.assign(static_cast<std::size_t>(kFrameWidth) * kFrameHeight * 3, 255);
  const int left = (kFrameWidth - w) / 2, top = (kFrameHeight - h) / 2;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        picture.rgb[(static_cast<std::size_t>(top + y) * kFrameWidth + left + x) * 3 +
                    static_cast<std::size_t>(c)] =
            static_cast<std::uint8_t>(std::clamp(
                std::lround(fitted[(static_cast<std::size_t>(y) * w + x) * 3 + static_cast<std::size_t>(c)]),
                0L, 255L));
  return picture;
}

std::string DecodeProblem(std::span<const std::uint8_t> blob, TDecodedSize& size) {
  std::string why, kind;
  media::TContentInfo info;
  const media::TDibHandle dib = Decode(blob, why, info, kind);
  if (!dib) return why;
  size.width = ledger::GetI32(dib->bytes, IMG_DIB_OFF_WIDTH);
  size.height = std::abs(ledger::GetI32(dib->bytes, IMG_DIB_OFF_HEIGHT));
  // The control draws pictures of few colours in black and white.
  if (info.Bits < (kind == "GIF" ? 3 : 4))
    return "has " + std::to_string(info.Bits) + "-bit colour, which the game shows in black and white";
  if (size.width > kPictureAreaWidth || size.height > kPictureAreaHeight)
    return "is " + std::to_string(size.width) + " x " + std::to_string(size.height) +
           ", larger than the game's " + std::to_string(kPictureAreaWidth) + " x " +
           std::to_string(kPictureAreaHeight) + " picture area";
  return {};
}

}  // namespace tamblo::content_tool
