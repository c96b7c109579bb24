#pragma once
// Sets of record numbers as bit sets, and the process-wide pool they come from.
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace ledger {

// Records 1..Size(); bit (r-1) stands for record r.
class TRecordsBitmap {
 public:
  TRecordsBitmap() = default;
  explicit TRecordsBitmap(int32_t size) { SetSize(size); }

  int32_t Size() const noexcept { return size_; }
  // Keeps the bits of records that still fit; new records start clear.
  void SetSize(int32_t size);

  bool Test(int32_t r) const noexcept;
  void Set(int32_t r) noexcept;
  void Clear(int32_t r) noexcept;
  void ClearAll() noexcept;
  void SetAll() noexcept;
  int32_t Count() const noexcept;
  // Set bits before record r.
  int32_t Rank(int32_t r) const noexcept;

  // Moves r to the k-th set bit after (before) it; position moves by one per
  // set bit passed, up going forward and down going backward. False when
  // fewer than k exist: r and position then stand on the last set bit passed
  // (unchanged when none). r may be 0 (before) or Size() + 1 (after).
  bool FindNext(int32_t& r, int32_t k, int32_t& position) const noexcept;
  bool FindPrior(int32_t& r, int32_t k, int32_t& position) const noexcept;

  // Records beyond the other's size count as absent from it.
  void And(const TRecordsBitmap& other) noexcept;
  void Or(const TRecordsBitmap& other) noexcept;
  void Not() noexcept;
  void CopyFrom(const TRecordsBitmap& other);

 private:
  void ClearTail() noexcept;

  int32_t size_ = 0;
  std::vector<uint32_t> words_;
};

// Pooled so that navigation does not allocate per use; keeps at most 64.
class TRecordsBitmapStack {
 public:
  static constexpr std::size_t kLimit = 64;
  static TRecordsBitmapStack& Instance();

  // A cleared bitmap of size 0.
  std::unique_ptr<TRecordsBitmap> Take();
  void Give(std::unique_ptr<TRecordsBitmap> bitmap);
  std::size_t Count() const;

 private:
  mutable std::mutex guard_;
  std::vector<std::unique_ptr<TRecordsBitmap>> pool_;
};

}  // namespace ledger
