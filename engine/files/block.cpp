#include "engine/files/block.h"

#include <algorithm>

#include "engine/files/byte_order.h"

namespace ledger {

void TBlock::Clear() {
  prev = next = 0;
  used = 0;
  blobId = totalLength = 0;
  std::fill(data_.begin(), data_.end(), 0);
}

void TBlock::Reset(TBlobFile* owner, std::size_t dataSize, bool blank) {
  owner_ = owner;
  raw_.fill(0);
  if (blank) data_.assign(dataSize, 0);
  else data_.resize(dataSize);
  prev = next = 0;
  used = 0;
  blobId = totalLength = 0;
}

void TBlock::DecodeHeader(const uint8_t* bytes) {
  std::copy(bytes, bytes + kBlockHeaderSize, raw_.begin());
  prev = GetI32(bytes, block_header::kPrev);
  next = GetI32(bytes, block_header::kNext);
  used = GetU16(bytes, block_header::kUsed);
  blobId = GetI32(bytes, block_header::kBlobId);
  totalLength = GetI32(bytes, block_header::kTotalLength);
}

void TBlock::EncodeHeader(uint8_t* bytes) {
  PutI32(bytes, block_header::kPrev, prev);
  PutI32(bytes, block_header::kNext, next);
  PutU16(bytes, block_header::kUsed, used);
  PutI32(bytes, block_header::kBlobId, blobId);
  PutI32(bytes, block_header::kTotalLength, totalLength);
  std::copy(bytes, bytes + kBlockHeaderSize, raw_.begin());
}

}  // namespace ledger
