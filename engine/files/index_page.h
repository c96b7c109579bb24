#pragma once
// Index pages: the 13-byte page header and the entries, expanded in memory to
// fixed slots so that searches need no decoding.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/files/index_header.h"

namespace ledger {

enum TPageType : uint8_t { ptRootBranch = 0, ptBranch = 1, ptLeaf = 2, ptRootLeaf = 3, ptParams = 4 };

inline constexpr int kPageHeaderSize = 13;
inline constexpr int kPageDataSize = kIndexPageSize - kPageHeaderSize;  // 4083
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

class TPage {
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
  int32_t Number() const noexcept { return number_; }

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
  bool modified = false;
  bool isFree = false;
  int pinCount = 0;
  uint64_t lastUse = 0;
  // Recency list of the owning slot's cache, newest first.
  TPage* newer = nullptr;
  TPage* older = nullptr;

 private:
  int Stride() const noexcept { return format_.keyLength + 10; }
  uint8_t* Entry(int s) { return slots_.data() + static_cast<std::size_t>(s - 1) * Stride(); }
  const uint8_t* Entry(int s) const { return slots_.data() + static_cast<std::size_t>(s - 1) * Stride(); }
  void Reserve(int count);
  void Lengths(int s, int& d, int& t) const;

  TPageFormat format_;
  int slot_ = 0;
  int32_t number_ = 0;
  int count_ = 0;
  int64_t totalKeys_ = 0;    // sum of the branch entries' key counts
  int32_t minKeyCount_ = 1;  // smallest of them
  std::vector<uint8_t> slots_;  // key, ref, key count, d, t per entry
};

// Up to four released pages kept for reuse.
class TPageStack {
 public:
  std::unique_ptr<TPage> Take();
  void Give(std::unique_ptr<TPage> page);
  std::size_t Size() const noexcept { return pages_.size(); }

 private:
  std::vector<std::unique_ptr<TPage>> pages_;
};

}  // namespace ledger
