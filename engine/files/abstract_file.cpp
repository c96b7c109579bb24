#include "engine/files/abstract_file.h"

#include <algorithm>

#include "engine/errors/ledger_error.h"
#include "engine/files/change_counter.h"

namespace ledger {

TAbstractFile::TAbstractFile(std::string name, std::shared_ptr<TFileSystem> system)
    : system_(std::move(system)), name_(std::move(name)) {}

TAbstractFile::~TAbstractFile() = default;

int TAbstractFile::OpenCount() const {
  std::lock_guard lock(guard_);
  return static_cast<int>(handles_.size());
}

bool TAbstractFile::HasHandle(int handle) const {
  std::lock_guard lock(guard_);
  return FindHandle(handle) != nullptr;
}

int TAbstractFile::OpenAnother() {
  std::lock_guard lock(guard_);
  return AddHandle();
}

int TAbstractFile::AddHandle() {
  // Numbers stay positive even after wrapping, and are never reused while held.
  do {
    lastHandle_ = CounterAfter(lastHandle_);
  } while (FindHandle(lastHandle_) != nullptr);
  handles_.push_back({lastHandle_, 0});
  return lastHandle_;
}

bool TAbstractFile::RemoveHandle(int handle) {
  std::erase_if(handles_, [handle](const THandle& h) { return h.Number == handle; });
  return handles_.empty();
}

TAbstractFile::THandle* TAbstractFile::FindHandle(int handle) {
  auto it = std::find_if(handles_.begin(), handles_.end(),
                         [handle](const THandle& h) { return h.Number == handle; });
  return it == handles_.end() ? nullptr : &*it;
}

const TAbstractFile::THandle* TAbstractFile::FindHandle(int handle) const {
  return const_cast<TAbstractFile*>(this)->FindHandle(handle);
}

std::int64_t TAbstractFile::Seek(int handle, TSeekOrigin origin, std::int64_t offset) {
  std::lock_guard lock(guard_);
  THandle* h = FindHandle(handle);
  if (h == nullptr) return -LEDGER_OSEBADF;
  std::int64_t base = 0;
  if (origin == TSeekOrigin::Current) {
    base = static_cast<std::int64_t>(h->Position);
  } else if (origin == TSeekOrigin::End) {
    base = Size();
    if (base < 0) return base;
  }
  // Positions stay within what a 64-bit offset holds and never go negative.
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return -LEDGER_OSUNKNOWN;
  h->Position = static_cast<std::uint64_t>(base + offset);
  return base + offset;
}

std::int64_t TAbstractFile::Position(int handle) const {
  std::lock_guard lock(guard_);
  const THandle* h = FindHandle(handle);
  return h == nullptr ? -LEDGER_OSEBADF : static_cast<std::int64_t>(h->Position);
}

}  // namespace ledger
