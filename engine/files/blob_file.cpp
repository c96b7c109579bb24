#include "engine/files/blob_file.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/change_counter.h"
#include "engine/files/file_runs.h"
#include "engine/files/scramble.h"

namespace ledger {

TBlobFile::TBlobFile(TTableOwner* owner) : owner_(owner) {
  if (!owner_) {
    standalone_ = std::make_unique<TStandaloneOwner>();
    owner_ = standalone_.get();
  }
}

TBlobFile::~TBlobFile() = default;

void TBlobFile::SetBlockSize(uint32_t headerValue) noexcept {
  uint32_t size = headerValue & 0xFFFF;
  blockSize_ = size == 0 ? kDefaultBlockSize : size;
}

void TBlobFile::SizeCache() {
  TCacheLimits limits = owner_->CacheLimits();
  int64_t byBytes = std::max<int64_t>(limits.blobCacheBytes, 0) / blockSize_;
  cache_.SetLimit(static_cast<std::size_t>(std::max<int64_t>(1, std::min<int64_t>(byBytes, limits.blobCacheBlocks))));
  readAhead_ = std::max<int32_t>(1, static_cast<int32_t>(16384 / blockSize_));
}

// ---------------------------------------------------------------- header

void TBlobFile::ReadHeader(TBlobHeader& header) {
  ReadAt(0, header.raw.data(), header.raw.size());
  DecodeHeader(header);
}

void TBlobFile::DecodeHeader(TBlobHeader& header) {
  if (encrypted_) Scramble(header.raw.data(), header.raw.size(), kRecordKey);
  const uint8_t* b = header.raw.data();
  header.changeCounter = GetI32(b, blob_header::kChangeCounter);
  header.version = GetU8(b, blob_header::kVersion);
  header.firstFree = GetI32(b, blob_header::kFirstFree);
  header.nextBlock = GetI32(b, blob_header::kNextBlock);
  header.modifiedMark = GetU8(b, blob_header::kModifiedMark);
}

void TBlobFile::Open() {
  if (IsOpen()) return;
  cache_.Clear();
  if (!owner_->TableName().empty()) SetErrorContext(owner_->TableName(), owner_->DirectoryName());
  TFileHandler::Open();
  try {
    // A block must hold its header and at least one byte of data.
    if (blockSize_ <= kBlockHeaderSize) Fail(LEDGER_HEADERCORRUPT);
    ReadHeader(header_);
    headerModified_ = false;
    changedSinceOpen_ = false;
    ResetStats();
    SizeCache();
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

void TBlobFile::Close() {
  cache_.Clear();
  headerModified_ = false;
  TFileHandler::Close();
}

void TBlobFile::Create() {
  if (!owner_->TableName().empty()) SetErrorContext(owner_->TableName(), owner_->DirectoryName());
  if (blockSize_ <= kBlockHeaderSize) Fail(LEDGER_HEADERCORRUPT);
  cache_.Clear();
  TFileHandler::Create();
  try {
    header_ = TBlobHeader{};
    headerModified_ = true;
    ResetStats();
    SizeCache();
    WriteHeader(true);
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

void TBlobFile::CheckVersion() const {
  if (header_.version != kBlobVersion) Fail(LEDGER_OLDVERSION);
}

void TBlobFile::CheckStructure() const {
  CheckVersion();
  if (header_.nextBlock < 1) Fail(LEDGER_HEADERCORRUPT);
  if (header_.firstFree < 0 || header_.firstFree >= header_.nextBlock) Fail(LEDGER_HEADERCORRUPT);
}

bool TBlobFile::HeaderChanged() {
  // Nearly every check finds nothing: the counter alone tells, and the rest
  // is unscrambled and decoded only for a header that did change.
  TBlobHeader fresh;
  ReadAt(0, fresh.raw.data(), fresh.raw.size());
  uint8_t counter[4];
  std::memcpy(counter, fresh.raw.data(), sizeof counter);
  if (encrypted_) Scramble(counter, sizeof counter, kRecordKey);
  if (GetI32(counter, blob_header::kChangeCounter) == header_.changeCounter) return false;
  DecodeHeader(fresh);
  header_ = fresh;
  headerModified_ = false;
  changedSinceOpen_ = true;
  return true;
}

bool TBlobFile::WriteHeader(bool forced) {
  if (!headerModified_ && !forced) return false;
  header_.changeCounter = CounterAfter(header_.changeCounter);
  header_.modifiedMark = headerModified_ ? 1 : 0;
  uint8_t* b = header_.raw.data();
  PutI32(b, blob_header::kChangeCounter, header_.changeCounter);
  PutU8(b, blob_header::kVersion, header_.version);
  PutI32(b, blob_header::kFirstFree, header_.firstFree);
  PutI32(b, blob_header::kNextBlock, header_.nextBlock);
  PutU8(b, blob_header::kModifiedMark, header_.modifiedMark);
  std::array<uint8_t, kBlobHeaderSize> out = header_.raw;
  if (encrypted_) Scramble(out.data(), out.size(), kRecordKey);
  WriteAt(0, out.data(), out.size());
  owner_->MarkWritten();
  headerModified_ = false;
  if (owner_->ForceBufferFlush()) Flush();
  return true;
}

void TBlobFile::Empty() {
  {
    TFileGuard guard(*this);
    Seek(TSeekOrigin::Begin, kBlobHeaderSize);
    Write(nullptr, 0);
  }
  if (owner_->ForceBufferFlush()) Flush();
  DropCache();
  // The change counter keeps counting so that other readers notice.
  header_.firstFree = 0;
  header_.nextBlock = 1;
  headerModified_ = true;
}

uint64_t TBlobFile::MaxBlobBytes() {
  uint64_t size = Size();
  uint64_t inFile = size > kBlobHeaderSize ? (size - kBlobHeaderSize) / blockSize_ : 0;
  uint64_t cached = cache_.Count() == 0 ? 0 : static_cast<uint64_t>(cache_.Sorted().back().number);
  uint64_t blocks = std::min<uint64_t>(std::max(inFile, cached),
                                       static_cast<uint64_t>(std::max(BlockCount(), 0)));
  return blocks * BlockDataSize();
}

// ---------------------------------------------------------------- cache

TBlock* TBlobFile::TakeEntry(int32_t b, int32_t windowFirst, int32_t windowLast, bool blank) {
  TBlock* block = cache_.Take(b, [&] {
    if (!owner_->InTransaction()) FlushExcept(windowFirst, windowLast);
  });
  if (!block) Fail(LEDGER_MEMOCORRUPT);
  block->Reset(this, BlockDataSize(), blank);
  return block;
}

void TBlobFile::Refresh(TBlock* block, const uint8_t* bytes) {
  uint8_t head[kBlockHeaderSize];
  std::memcpy(head, bytes, kBlockHeaderSize);
  std::memcpy(block->Data(), bytes + kBlockHeaderSize, block->DataSize());
  if (encrypted_) {
    Scramble(head, kBlockHeaderSize, kRecordKey);
    Scramble(block->Data(), block->DataSize(), kRecordKey);
  }
  block->DecodeHeader(head);
}

void TBlobFile::DropCache() { cache_.Drop(); }

void TBlobFile::TrimCache() { cache_.Trim(); }

// ---------------------------------------------------------------- blocks

TBlock* TBlobFile::GetBlock(int32_t b, bool readAhead, int32_t blocksNeeded) {
  if (b <= 0 || b > header_.nextBlock) Fail(LEDGER_MEMOCORRUPT);

  if (b == header_.nextBlock) {
    if (b > kMaxBlocks || kBlobHeaderSize + uint64_t(b) * blockSize_ > kMaxFileSize) Fail(LEDGER_TABLEFULL);
    // The block before must exist, on disk or still in the cache; a header
    // that counts blocks the file never had would have us write far past its end.
    if (b > 1 && kBlobHeaderSize + uint64_t(b - 1) * blockSize_ > Size() && !cache_.Find(b - 1))
      Fail(LEDGER_HEADERCORRUPT);
    TBlock* block = TakeEntry(b, 0, -1);
    cache_.Pin(block);
    block->SetModified(true);  // the block exists from now on
    ++stats_.cacheHits;
    ++header_.nextBlock;
    headerModified_ = true;
    return block;
  }

  if (TBlock* hit = cache_.Find(b)) {
    ++stats_.cacheHits;
    return cache_.Hit(hit);
  }

  if (!owner_->StrictChangeDetection() && owner_->ReadLockAndCheckChanged()) return nullptr;
  if (b >= header_.nextBlock) Fail(LEDGER_MEMOCORRUPT);

  int64_t n = 1;
  if (readAhead) {
    n = std::min<int64_t>({readAhead_, std::max<int32_t>(blocksNeeded, 1), int64_t{header_.nextBlock} - b});
    n = std::max<int64_t>(1, std::min<int64_t>(n, static_cast<int64_t>(cache_.Limit())));
  }
  const int32_t first = b;
  const int32_t last = static_cast<int32_t>(b + n - 1);
  io_.resize(static_cast<std::size_t>(n) * blockSize_);
  uint64_t offset = kBlobHeaderSize + uint64_t(b - 1) * blockSize_;
  std::size_t got = ReadAt(offset, io_.data(), io_.size(), owner_->ShortReadsAllowed());
  std::size_t whole = got / blockSize_;
  ++stats_.reads;
  stats_.blocksRead += static_cast<int64_t>(whole);

  auto place = [&](int32_t number) -> TBlock* {
    std::size_t index = static_cast<std::size_t>(number - first);
    if (index >= whole) return nullptr;
    const uint8_t* bytes = io_.data() + index * blockSize_;
    TBlock* block = cache_.Find(number);
    if (block) {
      if (!block->Modified() && !block->Pinned()) Refresh(block, bytes);
      return block;
    }
    // Refreshed whole from the read: no need to blank it first.
    block = TakeEntry(number, first, last, false);
    Refresh(block, bytes);
    return block;
  };
  TBlock* result = place(b);
  if (!result || result->Number() != b) Fail(LEDGER_MEMOCORRUPT);
  cache_.Pin(result);
  for (int32_t number = first + 1; number <= last; ++number) place(number);
  cache_.Touch(result);
  return result;
}

void TBlobFile::ReleaseBlock(TBlock* block) { cache_.Release(block); }

// The write path runs under the table's write lock, where no change can be
// reported; if one is, the caller's view of the chain is stale.
TBlock* TBlobFile::GetForWrite(int32_t b) {
  TBlock* block = GetBlock(b);
  if (!block) Fail(LEDGER_KEYORRECDELETED);
  return block;
}

TBlock* TBlobFile::NewBlock() {
  TBlock* block;
  if (header_.firstFree != 0) {
    int32_t b = header_.firstFree;
    if (b < 1 || b > BlockCount()) Fail(LEDGER_MEMOCORRUPT);
    block = GetForWrite(b);
    // A free block in use elsewhere, or a free link out of range, means the
    // free chain is broken; handing the block out would lose data.
    if (block->PinCount() > 1 || block->next < 0 || block->next > BlockCount()) {
      ReleaseBlock(block);
      Fail(LEDGER_MEMOCORRUPT);
    }
    header_.firstFree = block->next;
  } else {
    block = GetForWrite(header_.nextBlock);
  }
  block->Clear();
  block->SetModified(true);
  headerModified_ = true;
  return block;
}

void TBlobFile::FreeChain(int32_t first, int32_t blobId, bool force) {
  std::unordered_set<int32_t> seen;
  int32_t b = first;
  while (b != 0) {
    if (b < 1 || b > BlockCount() || !seen.insert(b).second) Fail(LEDGER_MEMOCORRUPT);
    TBlock* block = GetForWrite(b);
    bool foreign = block->blobId != blobId;
    if (block->PinCount() > 1 || (foreign && !force)) {
      ReleaseBlock(block);
      Fail(LEDGER_MEMOCORRUPT);
    }
    if (foreign) block->blobId = blobId;
    int32_t next = block->next;
    block->next = header_.firstFree;
    header_.firstFree = b;
    block->SetModified(true);
    headerModified_ = true;
    ReleaseBlock(block);
    b = next;
  }
}

void TBlobFile::FlushBlocks() { FlushExcept(0, -1); }

void TBlobFile::FlushExcept(int32_t windowFirst, int32_t windowLast) {
  std::vector<TBlock*> dirty;
  cache_.Dirty(dirty, windowFirst, windowLast);
  const bool wrote = WriteDirtyRuns(
      dirty, blockSize_,
      [&](TBlock& block, uint8_t* out) {
        block.EncodeHeader(out);
        std::memcpy(out + kBlockHeaderSize, block.Data(), block.DataSize());
        if (encrypted_) {
          Scramble(out, kBlockHeaderSize, kRecordKey);
          Scramble(out + kBlockHeaderSize, block.DataSize(), kRecordKey);
        }
      },
      [&](int32_t first, const uint8_t* bytes, std::size_t size, std::size_t count) {
        WriteAt(kBlobHeaderSize + uint64_t(first - 1) * blockSize_, bytes, size);
        ++stats_.writes;
        stats_.blocksWritten += static_cast<int64_t>(count);
      });
  if (wrote) owner_->MarkWritten();
}

}  // namespace ledger
