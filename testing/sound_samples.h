#pragma once
// Small sound files of the forms the mixer's loader knows: wave files of
// every format tag, and a VOC file that carries the letters the recognition
// takes for a wave sound. Shared by the player and control tests and the
// seed maker of the media fuzz target.

#include <cstdint>
#include <string_view>
#include <vector>

namespace media::sound_samples {

using Bytes = std::vector<std::uint8_t>;

inline void Put(Bytes& b, std::uint32_t v, int size) {
  for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void Put(Bytes& b, std::string_view text) { b.insert(b.end(), text.begin(), text.end()); }

struct TWaveFormat {
  int tag = 1, channels = 1, rate = 8000, bits = 16;
  int subTag = -1;  // 0 or more: the extensible header naming this format
};

// A RIFF WAVE of `frames` silent frames.
inline Bytes Wave(const TWaveFormat& f, std::uint32_t frames = 400) {
  Bytes fmt;
  Put(fmt, f.subTag >= 0 ? 0xFFFEu : static_cast<std::uint32_t>(f.tag), 2);
  Put(fmt, static_cast<std::uint32_t>(f.channels), 2);
  Put(fmt, static_cast<std::uint32_t>(f.rate), 4);
  const std::uint32_t align = static_cast<std::uint32_t>(f.channels * f.bits / 8);
  Put(fmt, static_cast<std::uint32_t>(f.rate) * align, 4);
  Put(fmt, align, 2);
  Put(fmt, static_cast<std::uint32_t>(f.bits), 2);
  if (f.subTag >= 0) {
    Put(fmt, 22, 2);
    Put(fmt, static_cast<std::uint32_t>(f.bits), 2);
    Put(fmt, 0, 4);
    Put(fmt, static_cast<std::uint32_t>(f.subTag), 2);
    for (std::uint8_t byte : {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
      fmt.push_back(byte);
  }
  const std::uint32_t data = frames * align;
  Bytes b;
  Put(b, "RIFF");
  Put(b, static_cast<std::uint32_t>(4 + 8 + fmt.size() + 8 + data), 4);
  Put(b, "WAVEfmt ");
  Put(b, static_cast<std::uint32_t>(fmt.size()), 4);
  b.insert(b.end(), fmt.begin(), fmt.end());
  Put(b, "data");
  Put(b, data, 4);
  b.resize(b.size() + data, f.bits == 8 ? 0x80 : 0);
  return b;
}

// A Creative voice file of 8-bit samples whose text block, within the first
// 45 bytes, reads "RIFF WAV": recognised as a wave sound, decoded by the
// mixer's own VOC loader if it were handed over.
inline Bytes Voc(std::uint32_t samples = 800) {
  Bytes b;
  Put(b, std::string_view("Creative Voice File\x1A", 20));
  Put(b, 26, 2);      // the first block
  Put(b, 0x010A, 2);  // version 1.10
  Put(b, 0x1129, 2);  // its check: the complement plus 0x1234
  Put(b, 5, 1);       // text
  Put(b, 9, 3);
  Put(b, std::string_view("RIFF WAV\0", 9));
  Put(b, 1, 1);  // sound data
  Put(b, samples + 2, 3);
  Put(b, 256 - 1000000 / 8000, 1);
  Put(b, 0, 1);  // 8-bit unsigned
  b.resize(b.size() + samples, 0x80);
  Put(b, 0, 1);  // the end
  return b;
}

}  // namespace media::sound_samples
