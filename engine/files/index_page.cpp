#include "engine/files/index_page.h"

#include <algorithm>
#include <cstring>

#include "engine/files/byte_order.h"

namespace ledger {

namespace {

// Entries are short and of a size known only at run time: whole words, the
// last one overlapping, cost less than a library call per entry.
inline void CopyEntry(uint8_t* to, const uint8_t* from, std::size_t n) {
  if (n < 8) {
    std::memcpy(to, from, n);
    return;
  }
  for (std::size_t k = 0; k + 8 < n; k += 8) std::memcpy(to + k, from + k, 8);
  std::memcpy(to + n - 8, from + n - 8, 8);
}

}  // namespace

TPageFormat TPageFormat::Of(int slot, const TIndexDesc& desc) {
  TPageFormat f;
  f.keyLength = desc.keyLength;
  f.unique = desc.unique;
  f.descending = desc.descending;
  f.noCounts = desc.noCounts || slot == kSlotText;
  f.compression = desc.compression;
  return f;
}

void TPage::Reset(const TPageFormat& format, int slot, int32_t number) {
  format_ = format;
  slot_ = slot;
  SetNumber(number);
  Clear();
  type = ptRootLeaf;
  prevPage = nextPage = 0;
  SetModified(false);
  isFree = false;
}

void TPage::Reserve(int count) {
  std::size_t need = static_cast<std::size_t>(count) * Stride();
  if (slots_.size() < need) slots_.resize(std::max(need, slots_.size() * 2));
}

int32_t TPage::Ref(int s) const { return GetI32(Entry(s), format_.keyLength); }
int32_t TPage::KeyCount(int s) const { return GetI32(Entry(s), format_.keyLength + 4); }
void TPage::SetRef(int s, int32_t ref) { PutI32(Entry(s), format_.keyLength, ref); }
void TPage::SetKeyCount(int s, int32_t keyCount) {
  totalKeys_ += static_cast<int64_t>(keyCount) - KeyCount(s);
  PutI32(Entry(s), format_.keyLength + 4, keyCount);
  minKeyCount_ = 1;
  for (int i = 1; i <= count_; ++i) minKeyCount_ = std::min(minKeyCount_, KeyCount(i));
}

int64_t TPage::KeysBefore(int s) const {
  if (IsLeaf()) return s - 1;
  int64_t sum = 0;
  for (int i = 1; i < s; ++i) sum += KeyCount(i);
  return sum;
}


void TPage::Append(const uint8_t* key, int32_t ref, int32_t keyCount) {
  Reserve(count_ + 1);
  ++count_;
  uint8_t* e = Entry(count_);
  std::memcpy(e, key, static_cast<std::size_t>(format_.keyLength));
  PutI32(e, format_.keyLength, ref);
  int32_t keys = IsLeaf() ? 1 : keyCount;
  PutI32(e, format_.keyLength + 4, keys);
  totalKeys_ += keys;
  minKeyCount_ = std::min(minKeyCount_, keys);
  e[format_.keyLength + 8] = 0;
  e[format_.keyLength + 9] = 0;
}

namespace {

int TrailingZeros(const uint8_t* p, int from, int to) {
  int t = 0;
  while (to - t > from && p[to - t - 1] == 0 && t < kMaxPrefix) ++t;
  return t;
}

}  // namespace

void TPage::Lengths(int s, int& d, int& t) const {
  const int k = format_.keyLength;
  const uint8_t* key = Entry(s);
  d = 0;
  t = 0;
  uint8_t c = format_.compression;
  if ((c == lcDuplicate || c == lcFull) && s > 1) {
    const uint8_t* prev = Entry(s - 1);
    int cap = std::min(k, kMaxPrefix);
    while (d < cap && key[d] == prev[d]) ++d;
  }
  if (c == lcTrailing) {
    t = format_.unique ? TrailingZeros(key, 0, k) : TrailingZeros(key, 0, k - 4);
  } else if (c == lcFull) {
    if (format_.unique) t = TrailingZeros(key, d, k);
    else if (k - d >= 5) t = TrailingZeros(key, d, k - 4);
  }
}

int TPage::EncodedEntrySize(int s) const {
  const int k = format_.keyLength;
  if (IsBranch()) return format_.BranchEntrySize();
  int d, t;
  Lengths(s, d, t);
  switch (format_.compression) {
    case lcDuplicate: return k - d + 5;
    case lcTrailing: return k - t + 5;
    case lcFull: return k - d - t + 6;
    default: return k + 4;
  }
}

int TPage::EncodedSize() const {
  int sum = 0;
  for (int s = 1; s <= count_; ++s) sum += EncodedEntrySize(s);
  return sum;
}

bool TPage::Encode(uint8_t* raw) {
  std::memset(raw, 0, kIndexPageSize);
  const int k = format_.keyLength;
  raw[page_header::kType] = type;
  PutI32(raw, page_header::kPrevPage, prevPage);
  PutI32(raw, page_header::kNextPage, nextPage);
  if (isFree) return true;
  PutU16(raw, page_header::kCount, static_cast<uint16_t>(count_));
  uint8_t* out = raw + kPageHeaderSize;
  const bool compressed = IsLeaf() && format_.compression != lcNone;
  int pos = 0;
  for (int s = 1; s <= count_; ++s) {
    const uint8_t* e = Entry(s);
    int size = EncodedEntrySize(s);
    if (pos + size > kPageDataSize) return false;
    uint8_t* o = out + pos;
    if (IsBranch()) {
      std::memcpy(o, e, static_cast<std::size_t>(k + 4));
      if (!format_.noCounts) PutI32(o, k + 4, KeyCount(s));
    } else if (!compressed) {
      std::memcpy(o, e, static_cast<std::size_t>(k + 4));
    } else {
      int d, t;
      Lengths(s, d, t);
      const_cast<uint8_t*>(e)[k + 8] = static_cast<uint8_t>(d);
      const_cast<uint8_t*>(e)[k + 9] = static_cast<uint8_t>(t);
      int keyEnd = k;  // bytes of the key written before the suffix
      bool suffix = !format_.unique && (format_.compression == lcTrailing || k - d >= 5);
      if (suffix) keyEnd = k - 4;
      switch (format_.compression) {
        case lcDuplicate: *o++ = static_cast<uint8_t>(d); break;
        case lcTrailing: *o++ = static_cast<uint8_t>(t); d = 0; break;
        default:
          *o++ = static_cast<uint8_t>(d);
          *o++ = static_cast<uint8_t>(t);
      }
      if (format_.compression == lcDuplicate) {
        t = 0;
        suffix = false;
        keyEnd = k;
      }
      int n = keyEnd - t - d;
      std::memcpy(o, e + d, static_cast<std::size_t>(n));
      o += n;
      if (suffix) {
        std::memcpy(o, e + k - 4, 4);
        o += 4;
      }
      PutI32(o, 0, Ref(s));
    }
    pos += size;
  }
  if (compressed) PutU16(raw, page_header::kUsedBytes, static_cast<uint16_t>(pos));
  return true;
}

bool TPage::Decode(const uint8_t* raw) {
  const int k = format_.keyLength;
  Clear();
  type = raw[page_header::kType];
  prevPage = GetI32(raw, page_header::kPrevPage);
  nextPage = GetI32(raw, page_header::kNextPage);
  isFree = false;
  if (type > ptRootLeaf || k <= 0) return false;
  int count = GetU16(raw, page_header::kCount);
  int used = GetU16(raw, page_header::kUsedBytes);
  const uint8_t* in = raw + kPageHeaderSize;
  const bool compressed = IsLeaf() && format_.compression != lcNone;
  if (!compressed) {
    const bool leaf = IsLeaf();
    const bool counts = !leaf && !format_.noCounts;
    const int size = leaf ? k + 4 : format_.BranchEntrySize();
    if (count > kPageDataSize / size) return false;
    Reserve(count);
    // Totals in locals: stores through the byte pointer could alias the
    // members, which would have them loaded and stored again per entry.
    const std::size_t stride = static_cast<std::size_t>(Stride());
    uint8_t* e = slots_.data();
    int64_t total = 0;
    int32_t least = minKeyCount_;
    for (int s = 0; s < count; ++s, e += stride) {
      const uint8_t* i = in + s * size;
      CopyEntry(e, i, static_cast<std::size_t>(k + 4));
      const int32_t keys = leaf ? 1 : (counts ? GetI32(i, k + 4) : 0);
      PutI32(e, k + 4, keys);
      total += keys;
      least = std::min(least, keys);
      e[k + 8] = e[k + 9] = 0;
    }
    count_ = count;
    totalKeys_ = total;
    minKeyCount_ = least;
    return true;
  }
  if (used > kPageDataSize) return false;
  // Every entry takes at least a length byte and its record number, so the
  // used bytes bound the count before any memory is set aside for it.
  constexpr int kLeastEntrySize = 1 + 4;
  if (count > used / kLeastEntrySize) return false;
  Reserve(count);
  int pos = 0;
  auto take = [&](int n) -> const uint8_t* {
    if (n < 0 || pos + n > used) return nullptr;
    const uint8_t* p = in + pos;
    pos += n;
    return p;
  };
  for (int s = 1; s <= count; ++s) {
    int d = 0, t = 0;
    const uint8_t* b;
    if (format_.compression != lcTrailing) {
      if (!(b = take(1))) return false;
      d = *b;
    }
    if (format_.compression != lcDuplicate) {
      if (!(b = take(1))) return false;
      t = *b;
    }
    if (d > kMaxPrefix || d > k || (s == 1 && d != 0)) return false;
    bool suffix = !format_.unique &&
                  (format_.compression == lcTrailing || (format_.compression == lcFull && k - d >= 5));
    int keyEnd = suffix ? k - 4 : k;
    if (format_.compression == lcFull && !format_.unique && !suffix && t != 0) return false;
    if (t > kMaxPrefix || d + t > keyEnd) return false;
    uint8_t* e = Entry(s);
    if (d > 0) std::memcpy(e, Entry(s - 1), static_cast<std::size_t>(d));
    int n = keyEnd - t - d;
    if (!(b = take(n))) return false;
    std::memcpy(e + d, b, static_cast<std::size_t>(n));
    std::memset(e + keyEnd - t, 0, static_cast<std::size_t>(t));
    if (suffix) {
      if (!(b = take(4))) return false;
      std::memcpy(e + k - 4, b, 4);
    }
    if (!(b = take(4))) return false;
    PutI32(e, k, GetI32(b));
    PutI32(e, k + 4, 1);
    totalKeys_ += 1;
    e[k + 8] = static_cast<uint8_t>(d);
    e[k + 9] = static_cast<uint8_t>(t);
    count_ = s;
  }
  return pos == used;
}

}  // namespace ledger
