#include "engine/files/blob_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/scramble.h"

namespace ledger {

TBlobFile::TBlobFile(TTableOwner* owner) : owner_(owner) {
  if (!owner_) {
    standalone_ = std::make_unique<TStandaloneOwner>();
    owner_ = standalone_.get();
  }
}

TBlobFile::~TBlobFile() { DetachAll(); }

void TBlobFile::SetBlockSize(uint32_t headerValue) noexcept {
  uint32_t size = headerValue & 0xFFFF;
  blockSize_ = size == 0 ? kDefaultBlockSize : size;
}

void TBlobFile::SizeCache() {
  TCacheLimits limits = owner_->CacheLimits();
  int64_t byBytes = std::max<int64_t>(limits.blobCacheBytes, 0) / blockSize_;
  limit_ = static_cast<std::size_t>(std::max<int64_t>(1, std::min<int64_t>(byBytes, limits.blobCacheBlocks)));
  capacity_ = limit_;
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
  DetachAll();
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
  DetachAll();
  headerModified_ = false;
  TFileHandler::Close();
}

void TBlobFile::Create() {
  if (!owner_->TableName().empty()) SetErrorContext(owner_->TableName(), owner_->DirectoryName());
  if (blockSize_ <= kBlockHeaderSize) Fail(LEDGER_HEADERCORRUPT);
  DetachAll();
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
  header_.changeCounter = header_.changeCounter == std::numeric_limits<int32_t>::max()
                              ? 1
                              : header_.changeCounter + 1;
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
  uint64_t cached = sorted_.empty() ? 0 : static_cast<uint64_t>(sorted_.back()->number_);
  uint64_t blocks = std::min<uint64_t>(std::max(inFile, cached),
                                       static_cast<uint64_t>(std::max(BlockCount(), 0)));
  return blocks * BlockDataSize();
}

std::size_t TBlobFile::PinnedCount() const noexcept {
  std::size_t n = orphans_.size();
  for (const auto& block : sorted_) n += block->Pinned() ? 1 : 0;
  return n;
}

// ---------------------------------------------------------------- cache lists

std::size_t TBlobFile::LowerBound(int32_t b) const {
  auto it = std::lower_bound(sorted_.begin(), sorted_.end(), b,
                             [](const std::unique_ptr<TBlock>& a, int32_t n) { return a->number_ < n; });
  return static_cast<std::size_t>(it - sorted_.begin());
}

TBlock* TBlobFile::FindCached(int32_t b) {
  int checked = 0;
  for (TBlock* p = newest_; p && checked < 4; p = p->older_, ++checked)
    if (p->number_ == b) return p;
  std::size_t i = LowerBound(b);
  if (i < sorted_.size() && sorted_[i]->number_ == b) return sorted_[i].get();
  return nullptr;
}

void TBlobFile::InsertSorted(std::unique_ptr<TBlock> block) {
  std::size_t i = LowerBound(block->number_);
  if (i < sorted_.size() && sorted_[i]->number_ == block->number_) Fail(LEDGER_MEMOCORRUPT);
  sorted_.insert(sorted_.begin() + static_cast<std::ptrdiff_t>(i), std::move(block));
}

std::unique_ptr<TBlock> TBlobFile::RemoveSorted(TBlock* block) {
  std::size_t i = LowerBound(block->number_);
  if (i >= sorted_.size() || sorted_[i].get() != block) Fail(LEDGER_MEMOCORRUPT);
  std::unique_ptr<TBlock> owned = std::move(sorted_[i]);
  sorted_.erase(sorted_.begin() + static_cast<std::ptrdiff_t>(i));
  return owned;
}

void TBlobFile::LinkFront(TBlock* block) {
  block->older_ = newest_;
  block->newer_ = nullptr;
  if (newest_) newest_->newer_ = block;
  newest_ = block;
  if (!oldest_) oldest_ = block;
}

void TBlobFile::Unlink(TBlock* block) {
  if (block->newer_) block->newer_->older_ = block->older_;
  else if (newest_ == block) newest_ = block->older_;
  if (block->older_) block->older_->newer_ = block->newer_;
  else if (oldest_ == block) oldest_ = block->newer_;
  block->older_ = block->newer_ = nullptr;
}

TBlock* TBlobFile::TakeEntry(int32_t b, int32_t windowFirst, int32_t windowLast, bool blank) {
  auto findVictim = [this]() -> TBlock* {
    for (TBlock* p = oldest_; p; p = p->newer_)
      if (!p->modified_ && !p->Pinned()) return p;
    return nullptr;
  };
  std::unique_ptr<TBlock> block;
  if (sorted_.size() < capacity_) {
    block = stack_.Take(this, BlockDataSize());
  } else {
    TBlock* victim = findVictim();
    if (!victim && !owner_->InTransaction()) {
      FlushExcept(windowFirst, windowLast);
      victim = findVictim();
    }
    if (victim) {
      block = RemoveSorted(victim);
      Unlink(victim);
      block->Reset(this, BlockDataSize(), blank);
    } else {
      capacity_ += 32;
      block = stack_.Take(this, BlockDataSize());
    }
  }
  block->number_ = b;
  TBlock* p = block.get();
  InsertSorted(std::move(block));
  LinkFront(p);
  return p;
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

void TBlobFile::DetachAll() {
  for (auto& block : sorted_) block->older_ = block->newer_ = nullptr;
  sorted_.clear();
  orphans_.clear();
  newest_ = oldest_ = nullptr;
}

void TBlobFile::DropCache() {
  for (auto& block : sorted_) {
    block->older_ = block->newer_ = nullptr;
    if (block->Pinned()) {
      block->orphan_ = true;
      orphans_.push_back(std::move(block));
    } else {
      stack_.Give(std::move(block));
    }
  }
  sorted_.clear();
  newest_ = oldest_ = nullptr;
  capacity_ = limit_;
}

void TBlobFile::TrimCache() {
  TBlock* p = oldest_;
  while (sorted_.size() > limit_ && p) {
    TBlock* next = p->newer_;
    if (!p->modified_ && !p->Pinned()) {
      Unlink(p);
      stack_.Give(RemoveSorted(p));
    }
    p = next;
  }
  capacity_ = std::max(limit_, sorted_.size());
}

// ---------------------------------------------------------------- blocks

TBlock* TBlobFile::GetBlock(int32_t b, bool readAhead, int32_t blocksNeeded) {
  if (b <= 0 || b > header_.nextBlock) Fail(LEDGER_MEMOCORRUPT);

  if (b == header_.nextBlock) {
    if (b > kMaxBlocks || kBlobHeaderSize + uint64_t(b) * blockSize_ > kMaxFileSize) Fail(LEDGER_TABLEFULL);
    // The block before must exist, on disk or still in the cache; a header
    // that counts blocks the file never had would have us write far past its end.
    if (b > 1 && kBlobHeaderSize + uint64_t(b - 1) * blockSize_ > Size() && !FindCached(b - 1))
      Fail(LEDGER_HEADERCORRUPT);
    TBlock* block = TakeEntry(b, 0, -1);
    ++block->pinCount_;
    block->modified_ = true;  // the block exists from now on
    ++stats_.cacheHits;
    ++header_.nextBlock;
    headerModified_ = true;
    return block;
  }

  if (TBlock* hit = FindCached(b)) {
    Unlink(hit);
    LinkFront(hit);
    ++hit->pinCount_;
    ++stats_.cacheHits;
    return hit;
  }

  if (!owner_->StrictChangeDetection() && owner_->ReadLockAndCheckChanged()) return nullptr;
  if (b >= header_.nextBlock) Fail(LEDGER_MEMOCORRUPT);

  int64_t n = 1;
  if (readAhead) {
    n = std::min<int64_t>({readAhead_, std::max<int32_t>(blocksNeeded, 1), int64_t{header_.nextBlock} - b});
    n = std::max<int64_t>(1, std::min<int64_t>(n, static_cast<int64_t>(limit_)));
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
    TBlock* block = FindCached(number);
    if (block) {
      if (!block->modified_ && !block->Pinned()) Refresh(block, bytes);
      return block;
    }
    // Refreshed whole from the read: no need to blank it first.
    block = TakeEntry(number, first, last, false);
    Refresh(block, bytes);
    return block;
  };
  TBlock* result = place(b);
  if (!result || result->number_ != b) Fail(LEDGER_MEMOCORRUPT);
  ++result->pinCount_;
  for (int32_t number = first + 1; number <= last; ++number) place(number);
  Unlink(result);
  LinkFront(result);
  return result;
}

void TBlobFile::ReleaseBlock(TBlock* block) {
  if (!block || block->pinCount_ == 0) return;
  if (--block->pinCount_ == 0 && block->orphan_) {
    auto it = std::find_if(orphans_.begin(), orphans_.end(),
                           [block](const std::unique_ptr<TBlock>& p) { return p.get() == block; });
    if (it != orphans_.end()) {
      std::unique_ptr<TBlock> owned = std::move(*it);
      orphans_.erase(it);
      stack_.Give(std::move(owned));
    }
  }
}

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
    if (block->pinCount_ > 1 || block->next < 0 || block->next > BlockCount()) {
      ReleaseBlock(block);
      Fail(LEDGER_MEMOCORRUPT);
    }
    header_.firstFree = block->next;
  } else {
    block = GetForWrite(header_.nextBlock);
  }
  block->Clear();
  block->modified_ = true;
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
    if (block->pinCount_ > 1 || (foreign && !force)) {
      ReleaseBlock(block);
      Fail(LEDGER_MEMOCORRUPT);
    }
    if (foreign) block->blobId = blobId;
    int32_t next = block->next;
    block->next = header_.firstFree;
    header_.firstFree = b;
    block->modified_ = true;
    headerModified_ = true;
    ReleaseBlock(block);
    b = next;
  }
}

void TBlobFile::FlushBlocks() { FlushExcept(0, -1); }

void TBlobFile::FlushExcept(int32_t windowFirst, int32_t windowLast) {
  const std::size_t perWrite = std::max<std::size_t>(1, 65536 / blockSize_);
  std::vector<TBlock*> dirty;
  for (auto& block : sorted_) {
    if (!block->modified_ || block->Pinned()) continue;
    if (block->number_ >= windowFirst && block->number_ <= windowLast) continue;
    dirty.push_back(block.get());
  }
  std::vector<uint8_t> buffer;
  std::size_t i = 0;
  bool wrote = false;
  while (i < dirty.size()) {
    std::size_t j = i + 1;
    while (j < dirty.size() && j - i < perWrite && dirty[j]->number_ == dirty[j - 1]->number_ + 1) ++j;
    buffer.resize((j - i) * blockSize_);
    for (std::size_t k = i; k < j; ++k) {
      uint8_t* out = buffer.data() + (k - i) * blockSize_;
      dirty[k]->EncodeHeader(out);
      std::memcpy(out + kBlockHeaderSize, dirty[k]->Data(), dirty[k]->DataSize());
      if (encrypted_) {
        Scramble(out, kBlockHeaderSize, kRecordKey);
        Scramble(out + kBlockHeaderSize, dirty[k]->DataSize(), kRecordKey);
      }
    }
    WriteAt(kBlobHeaderSize + uint64_t(dirty[i]->number_ - 1) * blockSize_, buffer.data(), buffer.size());
    ++stats_.writes;
    stats_.blocksWritten += static_cast<int64_t>(j - i);
    for (std::size_t k = i; k < j; ++k) dirty[k]->modified_ = false;
    wrote = true;
    i = j;
  }
  if (wrote) owner_->MarkWritten();
}

}  // namespace ledger
