#pragma once
// A block of the blob file in memory.
//
// Block of B bytes (blob_file.h): an 18-byte header, then B - 18 data bytes.
// Header and data are each scrambled with kRecordKey when the table is
// encrypted, each run starting at the key (scramble.h).
// Block header (block_header::k*), integers little-endian
//   off  size  type    meaning
//     0     4  int32   previous block of the blob's chain; 0 in the first
//     4     4  int32   next block of the chain, 0 in the last; a free block:
//                      the next free block
//     8     2  uint16  data bytes used in this block, at most B - 18
//    10     4  int32   identifier of the blob the block belongs to; a blob
//                      rewritten gets a new one, so a reader holding the old
//                      reference notices
//    14     4  int32   the blob's length in bytes, in its first block; 0 in
//                      the others
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/files/pinned_cache.h"

namespace ledger {

class TBlobFile;

namespace block_header {
inline constexpr int kPrev = 0;
inline constexpr int kNext = 4;
inline constexpr int kUsed = 8;
inline constexpr int kBlobId = 10;
inline constexpr int kTotalLength = 14;
inline constexpr int kSize = 18;
static_assert(kNext == kPrev + 4 && kUsed == kNext + 4 && kBlobId == kUsed + 2 &&
              kTotalLength == kBlobId + 4 && kSize == kTotalLength + 4);
}  // namespace block_header

inline constexpr int kBlockHeaderSize = block_header::kSize;
// The block size of a table whose data file header says 0.
inline constexpr uint32_t kDefaultBlockSize = 512;

// Its number, modified flag and pins come from the cache entry.
class TBlock : public TCacheEntry<TBlock> {
 public:
  TBlobFile* Owner() const noexcept { return owner_; }

  // The 18-byte header as last read or written.
  const std::array<uint8_t, kBlockHeaderSize>& RawHeader() const noexcept { return raw_; }

  int32_t prev = 0;
  int32_t next = 0;
  uint16_t used = 0;
  int32_t blobId = 0;
  int32_t totalLength = 0;

  uint8_t* Data() noexcept { return data_.data(); }
  const uint8_t* Data() const noexcept { return data_.data(); }
  std::size_t DataSize() const noexcept { return data_.size(); }

  // Header fields and data to zero.
  void Clear();

 private:
  friend class TBlobFile;

  // blank false: the caller fills the whole block from the file right away.
  void Reset(TBlobFile* owner, std::size_t dataSize, bool blank = true);
  void DecodeHeader(const uint8_t* bytes);
  void EncodeHeader(uint8_t* bytes);

  TBlobFile* owner_ = nullptr;
  std::array<uint8_t, kBlockHeaderSize> raw_{};
  std::vector<uint8_t> data_;
};

}  // namespace ledger
