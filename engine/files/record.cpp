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
  image_.assign(size, 0);
  sortKey_.clear();
}

}  // namespace ledger
