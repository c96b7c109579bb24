#pragma once
// A record of the data file in memory, and the pool released records go back to.
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace ledger {

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

  bool Deleted() const noexcept { return image_[0] == 1; }
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
