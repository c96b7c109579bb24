#include "engine/files/blob_buffer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "engine/errors/ledger_error.h"

namespace ledger {

namespace {

// Releases the block it holds when the scope ends, also on errors.
class TPin {
 public:
  explicit TPin(TBlobFile& file, TBlock* block = nullptr) : file_(file), block_(block) {}
  ~TPin() { file_.ReleaseBlock(block_); }
  TPin(const TPin&) = delete;
  TPin& operator=(const TPin&) = delete;
  TBlock* operator->() const noexcept { return block_; }
  TBlock* get() const noexcept { return block_; }
  void reset(TBlock* block) {
    file_.ReleaseBlock(block_);
    block_ = block;
  }

 private:
  TBlobFile& file_;
  TBlock* block_;
};

// A reload after a change normally succeeds at once, because the read lock
// taken by the first attempt stays held; the bound only stops a table that
// reports a change on every check.
constexpr int kMaxRestarts = 16;

}  // namespace

TBlobBuffer::TBlobBuffer(int fieldNumber, int32_t recordNumber, TBlobRef ref, TBlobOpenMode mode,
                         bool keepSnapshot)
    : fieldNumber_(fieldNumber), recordNumber_(recordNumber), ref_(ref), mode_(mode),
      keepSnapshot_(keepSnapshot) {}

void TBlobBuffer::SetData(std::vector<uint8_t> data) {
  data_ = std::move(data);
  modified_ = true;
}

void TBlobBuffer::Load(TBlobFile& file) {
  snapshot_.clear();
  modified_ = false;
  try {
    LoadBlobChain(file, ref_, data_);
  } catch (...) {
    data_.clear();
    data_.shrink_to_fit();
    throw;
  }
  if (keepSnapshot_) snapshot_ = data_;
}

namespace {

// False when the file changed under the walk: the caller starts over.
bool LoadChainOnce(TBlobFile& file, const TBlobRef& ref_, std::vector<uint8_t>& data_) {
  const int32_t id = ref_.blobId;
  const uint32_t per = file.BlockDataSize();
  // Once another process has rewritten the file, a reference past its new
  // end is most likely one read before the rewrite, not a damaged one.
  if (ref_.firstBlock < 1 || ref_.firstBlock > file.BlockCount())
    file.Raise(file.ChangedSinceOpen() ? LEDGER_KEYORRECDELETED : LEDGER_MEMOCORRUPT);

  TPin block(file, file.GetBlock(ref_.firstBlock));
  if (!block.get()) return false;
  if (block->blobId != id) file.Raise(LEDGER_KEYORRECDELETED);
  const int32_t total = block->totalLength;
  // The buffer is sized from the file, so the length must first be one the
  // chain could hold at all.
  if (total < 0 || static_cast<uint64_t>(total) > file.MaxBlobBytes()) file.Raise(LEDGER_ENDOFBLOB);
  const std::size_t size = static_cast<std::size_t>(total);
  // Filled by appending: every byte comes from a block, so zeroing it first
  // would be a pass over the whole blob for nothing.
  data_.clear();
  data_.reserve(size);

  std::unordered_set<int32_t> seen;
  seen.reserve((size + per - 1) / per + 1);
  seen.insert(block->Number());
  std::size_t read = 0;
  for (;;) {
    if (block->blobId != id) file.Raise(LEDGER_KEYORRECDELETED);
    if (block->PinCount() != 1) file.Raise(LEDGER_MEMOCORRUPT);
    std::size_t want = std::min<std::size_t>(per, size - read);
    std::size_t copied = std::min<std::size_t>(want, block->used);
    if (copied > 0) data_.insert(data_.end(), block->Data(), block->Data() + copied);
    read += copied;
    if (copied == 0 || copied < want) break;
    if (read == size || block->next == 0) break;
    int32_t next = block->next;
    // A link out of range, or back to a block this walk already took, would
    // run away or go round for ever.
    if (next < 1 || next > file.BlockCount() || !seen.insert(next).second) file.Raise(LEDGER_MEMOCORRUPT);
    int32_t needed = static_cast<int32_t>(std::min<std::size_t>(
        (size - read + per - 1) / per, static_cast<std::size_t>(std::numeric_limits<int32_t>::max())));
    TBlock* following = file.GetBlock(next, true, needed);
    if (!following) return false;
    block.reset(following);
  }
  if (read != size) file.Raise(LEDGER_ENDOFBLOB);
  return true;
}

}  // namespace

void LoadBlobChain(TBlobFile& file, const TBlobRef& ref, std::vector<uint8_t>& out) {
  out.clear();
  if (ref.firstBlock == 0) return;
  for (int attempt = 0;; ++attempt) {
    if (attempt == kMaxRestarts) file.Raise(LEDGER_LOCKTIMEOUT);
    if (LoadChainOnce(file, ref, out)) return;
  }
}

TBlobRef TBlobBuffer::Store(TBlobFile& file, int32_t newBlobId) {
  const TBlobRef old = ref_;
  if (data_.empty()) {
    if (old.firstBlock != 0) file.FreeChain(old.firstBlock, old.blobId, false);
    ref_ = {0, newBlobId};
    modified_ = false;
    return ref_;
  }
  const std::size_t size = data_.size();
  if (size > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) file.Raise(LEDGER_INVALIDBLOBLEN);
  const std::size_t per = file.BlockDataSize();

  std::unordered_set<int32_t> seen;
  auto takeOld = [&](int32_t b) -> TBlock* {
    if (b < 1 || b > file.BlockCount() || !seen.insert(b).second) file.Raise(LEDGER_MEMOCORRUPT);
    TBlock* block = file.GetBlock(b);
    if (!block) file.Raise(LEDGER_KEYORRECDELETED);
    // Rewriting blocks that another blob owns by now would destroy it.
    if (block->blobId != old.blobId || block->PinCount() != 1) {
      TErrorCode code = block->blobId != old.blobId ? LEDGER_KEYORRECDELETED : LEDGER_MEMOCORRUPT;
      file.ReleaseBlock(block);
      file.Raise(code);
    }
    return block;
  };

  int32_t oldNext = 0;
  TPin current(file);
  if (old.firstBlock != 0) {
    current.reset(takeOld(old.firstBlock));
    oldNext = current->next;
  } else {
    current.reset(file.NewBlock());
  }
  const int32_t firstNumber = current->Number();

  std::size_t written = 0;
  int32_t previous = 0;
  for (;;) {
    std::size_t chunk = std::min(per, size - written);
    current->prev = previous;
    current->blobId = newBlobId;
    current->totalLength = current->Number() == firstNumber ? static_cast<int32_t>(size) : 0;
    current->used = static_cast<uint16_t>(chunk);
    std::memcpy(current->Data(), data_.data() + written, chunk);
    std::memset(current->Data() + chunk, 0, current->DataSize() - chunk);
    current->SetModified(true);
    written += chunk;
    if (written == size) break;
    TBlock* following;
    if (oldNext != 0) {
      following = takeOld(oldNext);
      oldNext = following->next;
    } else {
      following = file.NewBlock();
    }
    current->next = following->Number();
    previous = current->Number();
    current.reset(following);
  }
  current->next = 0;
  current.reset(nullptr);
  if (written != size) file.Raise(LEDGER_ENDOFBLOB);
  if (oldNext != 0) file.FreeChain(oldNext, old.blobId, false);

  ref_ = {firstNumber, newBlobId};
  modified_ = false;
  if (keepSnapshot_) snapshot_ = data_;
  return ref_;
}

}  // namespace ledger
