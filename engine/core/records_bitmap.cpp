#include "engine/core/records_bitmap.h"

#include <algorithm>
#include <bit>

namespace ledger {

namespace {

constexpr int32_t kBits = 32;

// Bits lo..31 of a word (lo in 0..31).
constexpr uint32_t FromBit(int lo) noexcept { return ~uint32_t{0} << lo; }
// Bits 0..hi of a word (hi in 0..31).
constexpr uint32_t UpToBit(int hi) noexcept { return hi >= 31 ? ~uint32_t{0} : (uint32_t{1} << (hi + 1)) - 1; }

// Bit index of the k-th (1-based) set bit of w, counted from the low end;
// w holds at least k set bits.
int NthLowBit(uint32_t w, int k) noexcept {
  while (--k > 0) w &= w - 1;
  return std::countr_zero(w);
}

// The same from the high end.
int NthHighBit(uint32_t w, int k) noexcept {
  int bit = 31 - std::countl_zero(w);
  while (--k > 0) {
    w &= ~(uint32_t{1} << bit);
    bit = 31 - std::countl_zero(w);
  }
  return bit;
}

}  // namespace

void TRecordsBitmap::SetSize(int32_t size) {
  size_ = std::max<int32_t>(size, 0);
  words_.resize(static_cast<std::size_t>((int64_t{size_} + kBits - 1) / kBits), 0);
  ClearTail();
}

// Bits past the size must stay clear so that whole-word counts and NOT are right.
void TRecordsBitmap::ClearTail() noexcept {
  int used = size_ % kBits;
  if (used != 0 && !words_.empty()) words_.back() &= UpToBit(used - 1);
}

bool TRecordsBitmap::Test(int32_t r) const noexcept {
  if (r < 1 || r > size_) return false;
  uint32_t bit = static_cast<uint32_t>(r - 1);
  return (words_[bit / kBits] >> (bit % kBits)) & 1U;
}

void TRecordsBitmap::Set(int32_t r) noexcept {
  if (r < 1 || r > size_) return;
  uint32_t bit = static_cast<uint32_t>(r - 1);
  words_[bit / kBits] |= uint32_t{1} << (bit % kBits);
}

void TRecordsBitmap::Clear(int32_t r) noexcept {
  if (r < 1 || r > size_) return;
  uint32_t bit = static_cast<uint32_t>(r - 1);
  words_[bit / kBits] &= ~(uint32_t{1} << (bit % kBits));
}

void TRecordsBitmap::ClearAll() noexcept { std::fill(words_.begin(), words_.end(), 0U); }

void TRecordsBitmap::SetAll() noexcept {
  std::fill(words_.begin(), words_.end(), ~uint32_t{0});
  ClearTail();
}

int32_t TRecordsBitmap::Count() const noexcept {
  int32_t n = 0;
  for (uint32_t w : words_) n += std::popcount(w);
  return n;
}

int32_t TRecordsBitmap::Rank(int32_t r) const noexcept {
  if (r <= 1) return 0;
  if (r > size_) return Count();
  uint32_t bits = static_cast<uint32_t>(r - 1);  // records 1..r-1
  std::size_t whole = bits / kBits;
  int32_t n = 0;
  for (std::size_t i = 0; i < whole; ++i) n += std::popcount(words_[i]);
  int rest = static_cast<int>(bits % kBits);
  if (rest != 0) n += std::popcount(words_[whole] & UpToBit(rest - 1));
  return n;
}

bool TRecordsBitmap::FindNext(int32_t& r, int32_t k, int32_t& position) const noexcept {
  if (k < 1) return true;
  int64_t start = std::max<int64_t>(r, 0);  // bit index of record r + 1
  if (start >= size_) return false;
  std::size_t i = static_cast<std::size_t>(start / kBits);
  uint32_t w = words_[i] & FromBit(static_cast<int>(start % kBits));
  int32_t last = -1;  // bit index of the last set bit passed
  int32_t passed = 0;
  for (;;) {
    int n = std::popcount(w);
    if (n >= k - passed) {
      int bit = NthLowBit(w, k - passed);
      r = static_cast<int32_t>(i * kBits + bit + 1);
      position += k;
      return true;
    }
    // Whole words with too few bits are taken at once, so runs of zeros and
    // of ones cost one step per 32 records.
    if (n > 0) {
      passed += n;
      last = static_cast<int32_t>(i * kBits + 31 - std::countl_zero(w));
    }
    if (++i >= words_.size()) break;
    w = words_[i];
  }
  if (passed > 0) {
    r = last + 1;
    position += passed;
  }
  return false;
}

bool TRecordsBitmap::FindPrior(int32_t& r, int32_t k, int32_t& position) const noexcept {
  if (k < 1) return true;
  int64_t end = std::min<int64_t>(r, int64_t{size_} + 1) - 2;  // bit index of record r - 1
  if (end < 0) return false;
  std::size_t i = static_cast<std::size_t>(end / kBits);
  uint32_t w = words_[i] & UpToBit(static_cast<int>(end % kBits));
  int32_t last = -1;
  int32_t passed = 0;
  for (;;) {
    int n = std::popcount(w);
    if (n >= k - passed) {
      int bit = NthHighBit(w, k - passed);
      r = static_cast<int32_t>(i * kBits + bit + 1);
      position -= k;
      return true;
    }
    if (n > 0) {
      passed += n;
      last = static_cast<int32_t>(i * kBits + std::countr_zero(w));
    }
    if (i == 0) break;
    w = words_[--i];
  }
  if (passed > 0) {
    r = last + 1;
    position -= passed;
  }
  return false;
}

void TRecordsBitmap::And(const TRecordsBitmap& other) noexcept {
  std::size_t n = std::min(words_.size(), other.words_.size());
  for (std::size_t i = 0; i < n; ++i) words_[i] &= other.words_[i];
  // Records the other set does not reach are not in it.
  std::fill(words_.begin() + static_cast<std::ptrdiff_t>(n), words_.end(), 0U);
}

void TRecordsBitmap::Or(const TRecordsBitmap& other) noexcept {
  std::size_t n = std::min(words_.size(), other.words_.size());
  for (std::size_t i = 0; i < n; ++i) words_[i] |= other.words_[i];
  ClearTail();
}

void TRecordsBitmap::Not() noexcept {
  for (uint32_t& w : words_) w = ~w;
  ClearTail();
}

void TRecordsBitmap::CopyFrom(const TRecordsBitmap& other) {
  size_ = other.size_;
  words_ = other.words_;
}

TRecordsBitmapStack& TRecordsBitmapStack::Instance() {
  static TRecordsBitmapStack stack;
  return stack;
}

std::unique_ptr<TRecordsBitmap> TRecordsBitmapStack::Take() {
  {
    std::lock_guard lock(guard_);
    if (!pool_.empty()) {
      std::unique_ptr<TRecordsBitmap> bitmap = std::move(pool_.back());
      pool_.pop_back();
      bitmap->SetSize(0);
      return bitmap;
    }
  }
  return std::make_unique<TRecordsBitmap>();
}

void TRecordsBitmapStack::Give(std::unique_ptr<TRecordsBitmap> bitmap) {
  if (!bitmap) return;
  std::lock_guard lock(guard_);
  if (pool_.size() < kLimit) pool_.push_back(std::move(bitmap));
}

std::size_t TRecordsBitmapStack::Count() const {
  std::lock_guard lock(guard_);
  return pool_.size();
}

}  // namespace ledger
