#pragma once
// Index pages: the 13-byte page header and the entries, expanded in memory to
// fixed slots so that searches need no decoding.
//
// Page p of the index file: 4096 bytes at p * 4096 (index_header.h).
// Page header (page_header::k*)
//   off  size  type   meaning
//     0     1  uint8  type: 0 root branch, 1 branch, 2 leaf, 3 root leaf (a
//                     root that is also a leaf), 4 parameter page (TPageType)
//     1     2  uint16 entry count; 0 in a free page
//     3     4  int32  previous page of the same level, 0 at the left end
//     7     4  int32  next page of the same level, 0 at the right end; a free
//                     page: the next free page of its index
//    11     2  uint16 bytes the entries of a compressed leaf use, at most
//                     4083, and its entries end exactly there; 0 on other
//                     pages and ignored there
//    13  4083         entries, packed from the start; unused bytes zero
//
// Entries, K = key length of the page's index (index_key.h), ref = int32.
// Branch (types 0, 1), uncompressed with a fixed size:
//   key[K] | child page | keys in the child's subtree (int32)        K + 8
//   without counts (slot 32): key[K] | child page                     K + 4
//   The key is the first key of the child's subtree.
// Leaf (types 2, 3), by the index's leaf compression; ref = record number.
//   0 none:       key[K] | ref                                        K + 4
//   1 duplicate:  d | key[d .. K-1] | ref                             K - d + 5
//   2 trailing:   t | key[0 .. E-t-1] | suffix | ref                  K - t + 5
//   3 full:       d | t | key[d .. E-t-1] | suffix | ref              K - d - t + 6
// d: leading bytes equal to the previous entry's key (0 in the first entry,
// at most 254). t: zero bytes dropped before E (at most 254), restored as
// zeros. For a unique index E = K and there is no suffix. For a non-unique
// index the last 4 key bytes are the suffix (the auto-increment value) and
// E = K - 4, so no zero is dropped from the suffix; under full compression
// only while at least 5 bytes follow the prefix (K - d >= 5): else E = K,
// t = 0 and the suffix travels among the key bytes.
// A free page keeps its header (count 0) and no entries. Type 4 pages hold
// 4083 bytes of raw data chained through the next link; this engine does not
// read them.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/files/byte_buffer.h"
#include "engine/files/index_header.h"
#include "engine/files/pinned_cache.h"

namespace ledger {

enum TPageType : uint8_t { ptRootBranch = 0, ptBranch = 1, ptLeaf = 2, ptRootLeaf = 3, ptParams = 4 };

namespace page_header {
inline constexpr int kType = 0;
inline constexpr int kCount = 1;
inline constexpr int kPrevPage = 3;
inline constexpr int kNextPage = 7;
inline constexpr int kUsedBytes = 11;
inline constexpr int kEntries = 13;
static_assert(kCount == kType + 1 && kPrevPage == kCount + 2 && kNextPage == kPrevPage + 4 &&
              kUsedBytes == kNextPage + 4 && kEntries == kUsedBytes + 2);
}  // namespace page_header

inline constexpr int kPageHeaderSize = page_header::kEntries;
inline constexpr int kPageDataSize = kIndexPageSize - kPageHeaderSize;  // 4083
// The most a prefix length d or a trailing length t may count.
inline constexpr int kMaxPrefix = 254;

// What a page copies from its index.
struct TPageFormat {
  int keyLength = 0;
  bool unique = true;
  bool descending = false;
  bool noCounts = false;
  uint8_t compression = lcNone;

  static TPageFormat Of(int slot, const TIndexDesc& desc);
  int BranchEntrySize() const { return keyLength + (noCounts ? 4 : 8); }
  int BranchCapacity() const { return kPageDataSize / BranchEntrySize(); }
  int LeafCapacity() const { return kPageDataSize / (keyLength + 4); }  // uncompressed leaves
};

class TIndexFile;

// A page of the index file in memory; its number, modified flag and pins
// come from the cache entry.
class TPage : public TCacheEntry<TPage> {
 public:
  TPage() = default;
  void Reset(const TPageFormat& format, int slot, int32_t number);

  // Decodes 4096 page bytes (already unscrambled); false when they cannot be
  // a page of this format (the page is then left empty).
  bool Decode(const uint8_t* raw);
  // Writes the 4096 page bytes; recomputes prefix and trailing lengths and
  // the used bytes. False when the entries do not fit.
  bool Encode(uint8_t* raw);
  // Bytes the entries take when encoded, for deciding how many fit.
  int EncodedSize() const;
  // Bytes entry s (1-based) takes after entry s - 1 in a compressed leaf.
  int EncodedEntrySize(int s) const;

  bool IsLeaf() const noexcept { return type == ptLeaf || type == ptRootLeaf; }
  bool IsBranch() const noexcept { return type == ptRootBranch || type == ptBranch; }
  bool IsRoot() const noexcept { return type == ptRootBranch || type == ptRootLeaf; }
  int Count() const noexcept { return count_; }
  const TPageFormat& Format() const noexcept { return format_; }
  int Slot() const noexcept { return slot_; }

  // Entries, 1-based.
  uint8_t* Key(int s) { return Entry(s); }
  const uint8_t* Key(int s) const { return Entry(s); }
  int32_t Ref(int s) const;    // record number (leaf) or child page (branch)
  int32_t KeyCount(int s) const;  // 1 on a leaf
  int64_t TotalKeys() const noexcept { return IsLeaf() ? count_ : totalKeys_; }
  // False when a branch entry claims no keys or fewer than none.
  bool CountsPositive() const noexcept { return IsLeaf() || minKeyCount_ > 0; }
  int64_t KeysBefore(int s) const;

  void Clear() {
    count_ = 0;
    totalKeys_ = 0;
    minKeyCount_ = 1;
  }
  // Appends an entry; the key is copied (keyLength bytes).
  void Append(const uint8_t* key, int32_t ref, int32_t keyCount = 1);
  void SetRef(int s, int32_t ref);
  void SetKeyCount(int s, int32_t keyCount);

  uint8_t type = ptRootLeaf;
  int32_t prevPage = 0;
  int32_t nextPage = 0;
  bool isFree = false;

 private:
  int Stride() const noexcept { return format_.keyLength + 10; }
  uint8_t* Entry(int s) { return slots_.data() + static_cast<std::size_t>(s - 1) * Stride(); }
  const uint8_t* Entry(int s) const { return slots_.data() + static_cast<std::size_t>(s - 1) * Stride(); }
  void Reserve(int count);
  void Lengths(int s, int& d, int& t) const;

  TPageFormat format_;
  int slot_ = 0;
  int count_ = 0;
  int64_t totalKeys_ = 0;    // sum of the branch entries' key counts
  int32_t minKeyCount_ = 1;  // smallest of them
  TByteBuffer slots_;  // key, ref, key count, d, t per entry
};

}  // namespace ledger
