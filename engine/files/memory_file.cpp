#include "engine/files/memory_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/errors/ledger_error.h"

namespace ledger {
namespace {

constexpr std::uint64_t kGrowStep = 4096;

bool Overlaps(std::uint64_t aStart, std::uint64_t aLength, std::uint64_t bStart,
              std::uint64_t bLength) {
  // Compared as lengths from the lower start, so ranges ending at 2^64 do not wrap.
  return aStart <= bStart ? bStart - aStart < aLength : aStart - bStart < bLength;
}

}  // namespace

int TMemoryFile::Create(bool temporary) {
  std::lock_guard lock(guard_);
  data_.clear();
  data_.shrink_to_fit();
  size_ = 0;
  locks_.clear();
  exclusive_ = true;
  temporary_ = temporary;
  openedReadOnly_ = false;
  readOnlyFile_ = false;
  return AddHandle();
}

int TMemoryFile::Open(bool exclusive, bool temporary) {
  std::lock_guard lock(guard_);
  exclusive_ = exclusive;
  temporary_ = temporary;
  openedReadOnly_ = false;
  readOnlyFile_ = false;
  return AddHandle();
}

bool TMemoryFile::Close(int handle) {
  std::lock_guard lock(guard_);
  if (!RemoveHandle(handle)) return false;
  // As the system does for files: locks end with the last close.
  locks_.clear();
  return true;
}

int TMemoryFile::Rename(const std::string& newName) {
  std::lock_guard lock(guard_);
  SetName(newName);
  return 0;
}

int TMemoryFile::Delete() {
  std::lock_guard lock(guard_);
  data_.clear();
  data_.shrink_to_fit();
  size_ = 0;
  return 0;
}

std::int64_t TMemoryFile::Read(int handle, void* buffer, std::size_t count) {
  std::lock_guard lock(guard_);
  THandle* h = FindHandle(handle);
  if (h == nullptr) return -LEDGER_OSEBADF;
  if (h->Position >= size_) return 0;
  const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - h->Position));
  if (n > 0) std::memcpy(buffer, data_.data() + h->Position, n);
  h->Position += n;
  return static_cast<std::int64_t>(n);
}

std::int64_t TMemoryFile::Write(int handle, const void* buffer, std::size_t count) {
  std::lock_guard lock(guard_);
  THandle* h = FindHandle(handle);
  if (h == nullptr) return -LEDGER_OSEBADF;
  if (h->Position > kMaxFileSize || count > kMaxFileSize - h->Position) return -LEDGER_WRITEERR;
  const std::uint64_t end = h->Position + count;
  if (end > data_.size()) {
    try {
      data_.resize(static_cast<std::size_t>((end + kGrowStep - 1) / kGrowStep * kGrowStep), 0);
    } catch (const std::bad_alloc&) {
      return -LEDGER_OSENOMEM;
    }
  }
  if (count == 0) {
    // Bytes cut off must read back as zero if the file grows again.
    if (h->Position < size_)
      std::fill(data_.begin() + static_cast<std::ptrdiff_t>(h->Position),
                data_.begin() + static_cast<std::ptrdiff_t>(size_), 0);
    size_ = h->Position;
    return 0;
  }
  std::memcpy(data_.data() + h->Position, buffer, count);
  h->Position = end;
  size_ = std::max(size_, end);
  return static_cast<std::int64_t>(count);
}

std::int64_t TMemoryFile::Size() {
  std::lock_guard lock(guard_);
  return static_cast<std::int64_t>(size_);
}

std::size_t TMemoryFile::Capacity() const {
  std::lock_guard lock(guard_);
  return data_.size();
}

bool TMemoryFile::LockRange(std::uint64_t offset, std::uint64_t length, bool /*shared*/) {
  std::lock_guard lock(guard_);
  if (length == 0) return false;
  for (const TRange& held : locks_)
    if (Overlaps(offset, length, held.Start, held.Length)) return false;
  locks_.push_back({offset, length});
  return true;
}

bool TMemoryFile::UnlockRange(std::uint64_t offset, std::uint64_t length) {
  std::lock_guard lock(guard_);
  auto it = std::find_if(locks_.begin(), locks_.end(), [&](const TRange& held) {
    return held.Start == offset && held.Length == length;
  });
  if (it == locks_.end()) return false;
  locks_.erase(it);
  return true;
}

}  // namespace ledger
