#pragma once
// Word pictures: emoji drawn from the colour emoji font, or a teacher's own
// picture read through the image library, each on white and kept as PNG.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tamblo::content_tool {

// The emoji font's bitmaps are drawn at this size: 109 pixels gives about
// 136 x 128, which sits well inside the game's 265 x 145 picture area.
inline constexpr int kEmojiPixelSize = 109;
// A teacher's picture is fitted into the same frame so all words look alike.
inline constexpr int kFrameWidth = 136;
inline constexpr int kFrameHeight = 128;
// The picture control shows what does not fit cropped.
inline constexpr int kPictureAreaWidth = 265;
inline constexpr int kPictureAreaHeight = 145;

struct TRgbPicture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // rows top-down, 3 bytes a pixel
};

std::vector<std::uint8_t> EncodePng(const TRgbPicture& picture);

class TEmojiFont {
 public:
  // Finds "Noto Color Emoji" through fontconfig; throws std::runtime_error
  // when it is not installed.
  TEmojiFont();
  ~TEmojiFont();
  TEmojiFont(const TEmojiFont&) = delete;
  TEmojiFont& operator=(const TEmojiFont&) = delete;

  const std::string& File() const { return file_; }
  // Whether the font has a glyph for every code point (joiners aside).
  bool Provides(const std::u32string& emoji) const;
  // The emoji on white; throws std::runtime_error when it cannot be drawn.
  TRgbPicture Render(const std::u32string& emoji) const;

 private:
  struct TState;
  std::unique_ptr<TState> state_;
  std::string file_;
};

// Decodes a picture file through the image library and fits it, on white,
// into the frame. Answers an empty picture and says why when it cannot.
TRgbPicture FitPicture(std::span<const std::uint8_t> bytes, std::string& why);

struct TDecodedSize {
  int width = 0, height = 0;
};
// Whether the game's picture control can show a "Graphic" blob: the image
// library recognises it as a picture and decodes it. Empty text on success.
std::string DecodeProblem(std::span<const std::uint8_t> blob, TDecodedSize& size);

}  // namespace tamblo::content_tool
