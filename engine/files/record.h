#pragma once
// A record of the data file in memory.
//
// Record image: record size bytes, on disk at DataStart() + (r - 1) * record
// size (data_header.h), scrambled as one run per record with kRecordKey when
// the table is encrypted (scramble.h).
//   off  size  type   meaning
//     0     1  uint8  status: 0 active, 1 deleted (kRecordActive, kRecordDeleted)
//     1     4  int32  link: an active record's own number; a deleted one's
//                     next free slot, 0 at the end of the free chain (always
//                     0 in a table without primary index, which reuses no slot)
//     5     4  int32  auto-increment value, given when the record is made;
//                     the value of an auto-increment field (no null flag)
//     9     ...       the fields in descriptor order, each a null-flag byte
//                     (0 null, else a value is present) and physical size
//                     bytes of value (value.h); a null field's bytes are zero
// The record size is 9 + the sum of (physical size + 1) over the fields that
// are not auto-increment; a blank image is all zero.
//
// In memory, beyond the file's bytes:
//  - reading sets bytes 1-4 of an active record to its number, whatever the
//    file held, so a copy of the image tells the cursor which record it is;
//  - a blob field's first-block number below 0 in an image a cursor handed
//    out is the handle of a blob the cursor holds open; its null flag then
//    tells whether the open blob is empty. Never stored: a record read from
//    the file with one is corrupt.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/files/pinned_cache.h"

namespace ledger {

namespace record_image {
inline constexpr int kStatus = 0;
inline constexpr int kLink = 1;
inline constexpr int kAutoInc = 5;
inline constexpr int kFields = 9;
static_assert(kLink == kStatus + 1 && kAutoInc == kLink + 4 && kFields == kAutoInc + 4);
}  // namespace record_image

inline constexpr int kRecordHeaderSize = record_image::kFields;
inline constexpr int kAutoIncOffset = record_image::kAutoInc;
inline constexpr uint8_t kRecordActive = 0;
inline constexpr uint8_t kRecordDeleted = 1;

class TDataFile;

// Its number, modified flag and pins come from the cache entry.
class TRecord : public TCacheEntry<TRecord> {
 public:
  TDataFile* Owner() const noexcept { return owner_; }

  std::span<uint8_t> Image() noexcept { return image_; }
  std::span<const uint8_t> Image() const noexcept { return image_; }
  uint8_t* Data() noexcept { return image_.data(); }
  const uint8_t* Data() const noexcept { return image_.data(); }
  std::size_t Size() const noexcept { return image_.size(); }

  bool Deleted() const noexcept { return image_[record_image::kStatus] == kRecordDeleted; }
  // Bytes 1-4: the record's number when active, the next free slot when deleted.
  int32_t Link() const noexcept;
  void SetLink(int32_t value) noexcept;
  int32_t AutoIncValue() const noexcept;

  // Used by the query processor's sort.
  std::vector<uint8_t>& SortKey() noexcept { return sortKey_; }

 private:
  friend class TDataFile;

  void Reset(TDataFile* owner, std::size_t size);

  TDataFile* owner_ = nullptr;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> sortKey_;
};

}  // namespace ledger
