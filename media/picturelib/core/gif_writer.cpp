// GIF: one image with a global colour table, LZW coded by our own encoder.
#include <algorithm>

#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/format_writers.h"

namespace picturelib {
namespace {

// Codes packed least significant bit first into data sub-blocks of at most
// 255 bytes.
class CodeWriter {
 public:
  explicit CodeWriter(std::vector<uint8_t>& out) : out_(out) {}
  void Put(uint32_t code, int width) {
    bits_ |= code << count_;
    count_ += width;
    while (count_ >= 8) {
      Byte(static_cast<uint8_t>(bits_));
      bits_ >>= 8;
      count_ -= 8;
    }
  }
  void Finish() {
    if (count_ > 0) Byte(static_cast<uint8_t>(bits_));
    bits_ = 0;
    count_ = 0;
    Flush();
    out_.push_back(0);
  }

 private:
  void Byte(uint8_t b) {
    block_[length_++] = b;
    if (length_ == 255) Flush();
  }
  void Flush() {
    if (length_ == 0) return;
    out_.push_back(static_cast<uint8_t>(length_));
    out_.insert(out_.end(), block_, block_ + length_);
    length_ = 0;
  }
  std::vector<uint8_t>& out_;
  uint32_t bits_ = 0;
  int count_ = 0;
  uint8_t block_[255];
  std::size_t length_ = 0;
};

// The string table: (prefix code, next index) -> code, open addressing.
class StringTable {
 public:
  StringTable() : keys_(kSize), codes_(kSize) { Clear(); }
  void Clear() { std::fill(keys_.begin(), keys_.end(), kEmpty); }
  int Find(uint32_t key) const {
    const std::size_t s = Slot(key);
    return keys_[s] == key ? codes_[s] : -1;
  }
  void Add(uint32_t key, uint16_t code) {
    const std::size_t s = Slot(key);
    keys_[s] = key;
    codes_[s] = code;
  }

 private:
  // Twice the most codes a table holds, so probes stay short.
  static constexpr std::size_t kSize = 8192;
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
  std::size_t Slot(uint32_t key) const {
    std::size_t s = (key * 2654435761u) >> 19;
    while (keys_[s] != kEmpty && keys_[s] != key) s = (s + 1) & (kSize - 1);
    return s;
  }
  std::vector<uint32_t> keys_;
  std::vector<uint16_t> codes_;
};

void Compress(const DibRef& d, int minimum, std::vector<uint8_t>& out) {
  const uint32_t clear = 1u << minimum, end = clear + 1;
  // The last code a table may hold; the table is cleared instead of growing past it.
  constexpr uint32_t kLastCode = 4095;
  CodeWriter writer(out);
  StringTable table;
  int width = minimum + 1;
  uint32_t next = end + 1;
  writer.Put(clear, width);
  int32_t prefix = -1;
  for (int32_t y = 0; y < d.height; ++y) {
    const uint8_t* row = d.Row(y);
    for (int32_t x = 0; x < d.width; ++x) {
      const uint8_t index = IndexAt(row, x, d.bits);
      if (prefix < 0) {
        prefix = index;
        continue;
      }
      const uint32_t key = static_cast<uint32_t>(prefix) << 8 | index;
      const int found = table.Find(key);
      if (found >= 0) {
        prefix = found;
        continue;
      }
      writer.Put(static_cast<uint32_t>(prefix), width);
      // The decoder widens its codes once its table reaches the current width.
      if (next >= (1u << width) && width < 12) ++width;
      if (next >= kLastCode) {
        writer.Put(clear, width);
        table.Clear();
        width = minimum + 1;
        next = end + 1;
      } else {
        table.Add(key, static_cast<uint16_t>(next++));
      }
      prefix = index;
    }
  }
  writer.Put(static_cast<uint32_t>(prefix), width);
  if (next >= (1u << width) && width < 12) ++width;
  writer.Put(end, width);
  writer.Finish();
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

std::vector<uint8_t> WriteGif(const DibRef& d) {
  // A GIF table has 2^n entries; unused ones are black.
  if (d.bits > 8) Fail(kErrInternal);
  const int tableBits = d.bits;
  const uint32_t entries = 1u << tableBits;
  std::vector<uint8_t> out{'G', 'I', 'F', '8', '7', 'a'};
  Put16(out, static_cast<uint32_t>(d.width));
  Put16(out, static_cast<uint32_t>(d.height));
  out.push_back(static_cast<uint8_t>(0x80 | (tableBits - 1) << 4 | (tableBits - 1)));
  out.push_back(0);  // background index
  out.push_back(0);  // no aspect ratio
  for (uint32_t i = 0; i < entries; ++i) {
    const Rgb c = d.Colour(i);
    out.insert(out.end(), {c.r, c.g, c.b});
  }
  out.push_back(0x2C);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint32_t>(d.width));
  Put16(out, static_cast<uint32_t>(d.height));
  out.push_back(0);  // no local table, not interlaced
  // The format's smallest code size is 2, even for two colours.
  const int minimum = std::max(tableBits, 2);
  out.push_back(static_cast<uint8_t>(minimum));
  Compress(d, minimum, out);
  out.push_back(0x3B);
  return out;
}

}  // namespace picturelib
