#include "engine/files/record.h"

#include <algorithm>

#include "engine/files/byte_order.h"
#include "engine/files/value.h"

namespace ledger {

int32_t TRecord::Link() const noexcept { return GetI32(image_.data(), record_image::kLink); }

void TRecord::SetLink(int32_t value) noexcept { PutI32(image_.data(), record_image::kLink, value); }

int32_t TRecord::AutoIncValue() const noexcept { return GetI32(image_.data(), kAutoIncOffset); }

void TRecord::Reset(TDataFile* owner, std::size_t size) {
  owner_ = owner;
  modified_ = false;
  pinCount_ = 0;
  number_ = 0;
  orphan_ = false;
  image_.assign(size, 0);
  sortKey_.clear();
  older_ = newer_ = nullptr;
}

std::unique_ptr<TRecord> TRecordStack::Take(TDataFile* owner, std::size_t size) {
  if (pool_.empty()) return std::make_unique<TRecord>(owner, size);
  std::unique_ptr<TRecord> record = std::move(pool_.back());
  pool_.pop_back();
  record->Reset(owner, size);
  return record;
}

void TRecordStack::Give(std::unique_ptr<TRecord> record) {
  if (record && pool_.size() < kLimit) pool_.push_back(std::move(record));
}

}  // namespace ledger
