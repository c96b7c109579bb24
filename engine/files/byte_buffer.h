#pragma once
// A byte buffer whose growth leaves the new bytes unset: buffers about to be
// filled from a file or a page need no zeroing first (on a cursor's first
// read the zeroing of a vector cost more than decoding the pages). Copies
// move the bytes with one memcpy.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

namespace ledger {

// REQUIRES of users: every byte is written before it is read.
class TByteBuffer {
 public:
  TByteBuffer() = default;
  TByteBuffer(const TByteBuffer& other) { *this = other; }
  TByteBuffer(TByteBuffer&& other) noexcept { *this = std::move(other); }
  TByteBuffer& operator=(TByteBuffer&& other) noexcept {
    bytes_ = std::move(other.bytes_);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    return *this;
  }
  TByteBuffer& operator=(const TByteBuffer& other) {
    if (this == &other) return *this;
    if (capacity_ < other.size_) {
      bytes_ = Allocate(other.size_);
      capacity_ = other.size_;
    }
    if (other.size_ != 0) std::memcpy(bytes_.get(), other.bytes_.get(), other.size_);
    size_ = other.size_;
    return *this;
  }

  std::uint8_t* data() noexcept { return bytes_.get(); }
  const std::uint8_t* data() const noexcept { return bytes_.get(); }
  std::size_t size() const noexcept { return size_; }

  // Keeps the first min(size(), n) bytes; the rest are unset.
  void resize(std::size_t n) {
    if (n > capacity_) {
      auto grown = Allocate(n);
      if (size_ != 0) std::memcpy(grown.get(), bytes_.get(), size_);
      bytes_ = std::move(grown);
      capacity_ = n;
    }
    size_ = n;
  }

 private:
  // new[] without an initialiser leaves the bytes unset.
  static std::unique_ptr<std::uint8_t[]> Allocate(std::size_t n) { return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[n]); }

  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace ledger
