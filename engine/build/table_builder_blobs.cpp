// The blob file: chains of blocks written as the records that hold them are
// appended, and its header.

#include <algorithm>

#include "engine/build/table_builder_state.h"
#include "engine/files/byte_order.h"
#include "engine/files/change_counter.h"
#include "engine/files/scramble.h"

namespace ledger {

void TTableBuilder::TState::FlushBlocks() {
  if (blobBuffer.empty()) return;
  blob.WriteAt(kBlobHeaderSize + static_cast<uint64_t>(firstBufferedBlock - 1) * blockSize,
               blobBuffer.data(), blobBuffer.size());
  blobBuffer.clear();
  firstBufferedBlock = nextBlock;
}

TBlobRef TTableBuilder::TState::WriteBlob(uint64_t size,
                                         const std::function<std::size_t(uint8_t*, std::size_t)>& read) {
  if (size == 0) return {};
  const std::size_t room = blockSize - kBlockHeaderSize;
  const uint64_t blocks = (size + room - 1) / room;
  if (size > INT32_MAX || static_cast<uint64_t>(nextBlock) + blocks - 1 > kMaxBlocks ||
      kBlobHeaderSize + (static_cast<uint64_t>(nextBlock) + blocks - 1) * blockSize > 4000000000ULL)
    Fail(LEDGER_TABLEFULL);
  // Identifiers are issued as the data file issues them.
  lastBlobId = CounterAfter(lastBlobId);
  TBlobRef ref{nextBlock, lastBlobId};
  uint64_t done = 0;
  for (uint64_t i = 0; i < blocks; ++i) {
    std::size_t at = blobBuffer.size();
    blobBuffer.resize(at + blockSize, 0);
    uint8_t* b = blobBuffer.data() + at;
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(room, size - done));
    for (std::size_t got = 0; got < n;) {
      std::size_t piece = read(b + kBlockHeaderSize + got, n - got);
      if (piece == 0) Fail(LEDGER_ENDOFBLOB);  // the source ran dry before its size
      got += std::min(piece, n - got);
    }
    const int32_t number = nextBlock++;
    PutI32(b, block_header::kPrev, i == 0 ? 0 : number - 1);
    PutI32(b, block_header::kNext, i + 1 == blocks ? 0 : number + 1);
    PutU16(b, block_header::kUsed, static_cast<uint16_t>(n));
    PutI32(b, block_header::kBlobId, ref.blobId);
    PutI32(b, block_header::kTotalLength, i == 0 ? static_cast<int32_t>(size) : 0);
    if (encrypted) {
      Scramble(b, kBlockHeaderSize, kRecordKey);
      Scramble(b + kBlockHeaderSize, room, kRecordKey);
    }
    done += n;
    if (blobBuffer.size() >= kWriteChunk) FlushBlocks();
  }
  return ref;
}

void TTableBuilder::TState::WriteBlobHeader() {
  uint8_t raw[kBlobHeaderSize] = {};
  PutI32(raw, blob_header::kChangeCounter, 1);
  PutU8(raw, blob_header::kVersion, kBlobVersion);
  PutI32(raw, blob_header::kFirstFree, 0);
  PutI32(raw, blob_header::kNextBlock, nextBlock);
  if (encrypted) Scramble(raw, sizeof raw, kRecordKey);
  blob.WriteAt(0, raw, sizeof raw);
}

}  // namespace ledger
