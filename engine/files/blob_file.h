#pragma once
// The blob file (".BLB"): a 512-byte header and fixed-size blocks; each blob
// is a doubly linked chain of blocks tagged with the blob's identifier.
//
// File layout: the header at 0; block b (from 1) at 512 + (b - 1) * B, B the
// block size of the data file header (low 16 bits, 0 = kDefaultBlockSize; it
// must exceed the 18-byte block header). Blocks 1 .. next block - 1 exist.
// The header is scrambled whole with kRecordKey when the table is encrypted
// (scramble.h).
//
// A record's blob field holds the blob's first block (0 = empty) and its
// identifier (value.h). Reading it: from the first block follow the next
// links, taking the used bytes of each block (block.h), until the total
// length the first block gives is collected; every block of the chain must
// carry the record's identifier, or the blob was rewritten since the record
// was read.
//
// Header (blob_header::k*), integers little-endian
//   off  size  type   meaning
//     0     4  int32  change counter: +1 on every header write, from
//                     INT32_MAX back to 1; other processes compare it
//     4     4         reserved: zero when created, kept as found
//     8     1  uint8  format version, kBlobVersion
//     9     4  int32  first free block, head of the free chain through the
//                     blocks' next links; 0 = none
//    13     4  int32  next block number; 1 in an empty file
//    17     1  uint8  the writer's header-modified flag; ignored on read
//    18   494         reserved: zero when created, kept as found
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/files/block.h"
#include "engine/files/file_handler.h"
#include "engine/files/table_owner.h"

namespace ledger {

inline constexpr int kBlobHeaderSize = 512;
inline constexpr int32_t kMaxBlocks = 2000000000;
inline constexpr uint8_t kBlobVersion = 5;

namespace blob_header {
inline constexpr int kChangeCounter = 0;
inline constexpr int kReservedAfterCounter = 4;
inline constexpr int kVersion = 8;
inline constexpr int kFirstFree = 9;
inline constexpr int kNextBlock = 13;
inline constexpr int kModifiedMark = 17;
inline constexpr int kReserved = 18;
inline constexpr int kReservedBytes = 494;
static_assert(kReservedAfterCounter == kChangeCounter + 4 && kVersion == kReservedAfterCounter + 4 &&
              kFirstFree == kVersion + 1 && kNextBlock == kFirstFree + 4 &&
              kModifiedMark == kNextBlock + 4 && kReserved == kModifiedMark + 1 &&
              kReserved + kReservedBytes == kBlobHeaderSize);
}  // namespace blob_header

struct TBlobHeader {
  int32_t changeCounter = 0;
  uint8_t version = kBlobVersion;
  int32_t firstFree = 0;
  int32_t nextBlock = 1;
  uint8_t modifiedMark = 0;
  std::array<uint8_t, kBlobHeaderSize> raw{};  // keeps the reserved bytes as found
};

struct TBlobFileStats {
  int64_t cacheHits = 0;
  int64_t reads = 0;
  int64_t blocksRead = 0;
  int64_t writes = 0;
  int64_t blocksWritten = 0;
};

class TBlobFile : public TFileHandler {
 public:
  explicit TBlobFile(TTableOwner* owner = nullptr);
  ~TBlobFile() override;

  // Before opening or creating: the block size field of the data file header
  // (low 16 bits used, 0 meaning 512) and whether the table is encrypted.
  void SetBlockSize(uint32_t headerValue) noexcept;
  void SetEncrypted(bool value) noexcept { encrypted_ = value; }
  uint32_t BlockSize() const noexcept { return blockSize_; }
  uint32_t BlockDataSize() const noexcept { return blockSize_ - kBlockHeaderSize; }
  int32_t BlockCount() const noexcept { return std::max(header_.nextBlock, 1) - 1; }

  void Open() override;
  void Close() override;
  void Create() override;

  void CheckVersion() const;
  void CheckStructure() const;
  bool HeaderChanged();
  bool WriteHeader(bool forced);
  void Empty();

  // Pinned block b, or null when the table changed meanwhile. blocksNeeded
  // bounds the read-ahead window.
  TBlock* GetBlock(int32_t b, bool readAhead = false, int32_t blocksNeeded = 1);
  void ReleaseBlock(TBlock* block);
  // A pinned, cleared, modified block: the head of the free chain or a new one.
  TBlock* NewBlock();
  void FreeChain(int32_t first, int32_t blobId, bool force);
  void FlushBlocks();
  void DropCache();
  void TrimCache();

  // The most bytes a chain can hold in this file as it stands; a total
  // length above it cannot be genuine.
  uint64_t MaxBlobBytes();

  const TBlobHeader& Header() const noexcept { return header_; }
  bool HeaderModified() const noexcept { return headerModified_; }
  // Another writer's change was adopted since the file was opened.
  bool ChangedSinceOpen() const noexcept { return changedSinceOpen_; }
  const TBlobFileStats& Stats() const noexcept { return stats_; }
  void ResetStats() noexcept { stats_ = {}; }
  std::size_t CacheCount() const noexcept { return cache_.Count(); }
  // Blocks somebody still holds, the dropped ones included.
  std::size_t PinnedCount() const noexcept { return cache_.PinnedCount(); }
  std::size_t CacheCapacity() const noexcept { return cache_.Capacity(); }
  std::size_t CacheLimit() const noexcept { return cache_.Limit(); }
  int32_t ReadAheadCount() const noexcept { return readAhead_; }
  TTableOwner& Owner() const noexcept { return *owner_; }

 private:
  [[noreturn]] void Fail(int code) const { Raise(code); }
  void ReadHeader(TBlobHeader& header);
  void DecodeHeader(TBlobHeader& header);  // from its raw bytes, as read
  void SizeCache();
  TBlock* TakeEntry(int32_t b, int32_t windowFirst, int32_t windowLast, bool blank = true);
  void Refresh(TBlock* block, const uint8_t* bytes);
  void FlushExcept(int32_t windowFirst, int32_t windowLast);
  TBlock* GetForWrite(int32_t b);

  TTableOwner* owner_;
  std::unique_ptr<TStandaloneOwner> standalone_;
  uint32_t blockSize_ = 512;
  bool encrypted_ = false;
  TBlobHeader header_;
  bool headerModified_ = false;
  bool changedSinceOpen_ = false;
  TEntryPool<TBlock> pool_{32};
  // Grows by 32 blocks when every block is pinned or modified.
  TPinnedCache<TBlock> cache_{pool_, 32};
  int32_t readAhead_ = 1;
  std::vector<uint8_t> io_;
  TBlobFileStats stats_;
};

}  // namespace ledger
