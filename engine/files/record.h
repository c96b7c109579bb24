#pragma once
// A record of the data file in memory, and the pool released records go back to.
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

class TRecord {
 public:
  TRecord(TDataFile* owner, std::size_t size) : owner_(owner), image_(size, 0) {}

  TDataFile* Owner() const noexcept { return owner_; }
  int32_t Number() const noexcept { return number_; }
  bool Modified() const noexcept { return modified_; }
  void SetModified(bool value) noexcept { modified_ = value; }
  int PinCount() const noexcept { return pinCount_; }
  bool Pinned() const noexcept { return pinCount_ > 0; }

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
  friend class TRecordStack;

  void Reset(TDataFile* owner, std::size_t size);

  TDataFile* owner_;
  bool modified_ = false;
  int pinCount_ = 0;
  int32_t number_ = 0;
  bool orphan_ = false;  // dropped from the cache while pinned
  std::vector<uint8_t> image_;
  std::vector<uint8_t> sortKey_;
  TRecord* older_ = nullptr;
  TRecord* newer_ = nullptr;
};

// Keeps up to 64 released records; a reused one comes back blank and unpinned.
class TRecordStack {
 public:
  static constexpr std::size_t kLimit = 64;

  std::unique_ptr<TRecord> Take(TDataFile* owner, std::size_t size);
  void Give(std::unique_ptr<TRecord> record);
  std::size_t Count() const noexcept { return pool_.size(); }

 private:
  std::vector<std::unique_ptr<TRecord>> pool_;
};

}  // namespace ledger
