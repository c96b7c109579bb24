#include "engine/core/data_table.h"

#include <algorithm>
#include <vector>

#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/index_loader.h"
#include "engine/files/scramble.h"

namespace ledger {

namespace {
// Records read per transfer while the status index is rebuilt.
constexpr std::size_t kRebuildChunkBytes = 1 << 20;
}  // namespace

TDataTable::TDataTable(TDataDirectory& directory, std::string name)
    : directory_(directory), name_(std::move(name)), data_(this), index_(this), blob_(this) {}

TDataTable::~TDataTable() {
  try {
    CloseFiles();
  } catch (const ELedgerEngineError&) {
  }
}

const TSessionSettings& TDataTable::Settings() const noexcept { return directory_.Session().Settings(); }

const std::string& TDataTable::DirectoryName() const { return directory_.Path(); }
bool TDataTable::StrictChangeDetection() const { return Settings().strictChangeDetection; }
bool TDataTable::ForceBufferFlush() const { return Settings().forceBufferFlush; }
TCacheLimits TDataTable::CacheLimits() const { return Settings().cache; }

std::string TDataTable::FileName(const char* extension) const {
  return FileNameFor(directory_.Path(), name_, extension);
}

std::string TDataTable::FileNameFor(const std::string& directoryPath, const std::string& tableName,
                                    const char* extension) {
  std::string name = TrimBlanks(tableName);
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
      SameTrimmedText(name.substr(dot), ".DAT"))
    name.erase(dot);
  return directoryPath + name + extension;
}

TChangeSnapshot TDataTable::Changes() const noexcept {
  return {data_.Header().changeCounter, index_.Header().changeCounter,
          blobOpen_ ? blob_.Header().changeCounter : 0};
}

// ---------------------------------------------------------------- open, close

void TDataTable::OpenIndexFile() {
  try {
    index_.Open();
  } catch (const ELedgerEngineError& e) {
    if (e.ErrorCode() != LEDGER_OSENOENT) throw;
    // Without a primary index the records show in physical order, which
    // the status index alone can serve; a fresh header claiming a primary
    // index would fail its own structure check.
    index_.Create(true);
    index_.Close();
    index_.Open();
    rebuildNeeded_ = true;
  }
}

void TDataTable::OpenFiles(bool exclusive, bool inMemory) {
  if (open_) return;
  exclusive_ = exclusive;
  inMemory_ = inMemory;
  readOnly_ = noLocking_ = rebuildNeeded_ = written_ = false;
  readLocked_ = writeLocked_ = transactionLocked_ = dataWriteByteHeld_ = false;
  operations_ = 0;
  readBytesSuspended_ = lazyReadLock_ = changedLazily_ = false;
  lockedRecords_.clear();
  deferredUnlocks_.clear();

  struct TFileSetup {
    TFileHandler& file;
    const char* extension;
  };
  for (TFileSetup f : {TFileSetup{data_, ".DAT"}, TFileSetup{index_, ".IDX"}, TFileSetup{blob_, ".BLB"}}) {
    f.file.SetFileName(FileName(f.extension));
    f.file.SetInMemory(inMemory);
    f.file.SetExclusive(exclusive);
    f.file.SetTemporary(false);
    f.file.SetSystem(directory_.Session().FileSystem());
  }
  try {
    data_.Open();
    index_.SetEncrypted(data_.Encrypted());
    index_.SetCacheBytes(Settings().indexCacheBytes);
    OpenIndexFile();
    if (data_.BlobFieldCount() > 0) {
      blob_.SetBlockSize(data_.Header().blockSize);
      blob_.SetEncrypted(data_.Encrypted());
      blob_.Open();
      blobOpen_ = true;
    }
    for (TFileHandler* f : {static_cast<TFileHandler*>(&data_), static_cast<TFileHandler*>(&index_),
                            static_cast<TFileHandler*>(&blob_)}) {
      if (!f->IsOpen()) continue;
      readOnly_ = readOnly_ || f->OpenedReadOnly();
      noLocking_ = noLocking_ || f->ReadOnlyFile();
    }
    // Nobody can write a file carrying the read-only attribute, so there is
    // nothing to lock against.
    if (noLocking_) readOnly_ = true;
    open_ = true;

    // The headers read at open were read without a lock; the change check
    // under it brings them up to date before they are judged.
    ReadLock();
    data_.CheckStructure();
    index_.CheckVersion();
    index_.CheckStructure(data_.Fields(), data_.LocaleId());
    if (blobOpen_) blob_.CheckStructure();
    ReleaseReadLock();
  } catch (...) {
    ReleaseAllLocks();
    if (blob_.IsOpen()) blob_.Close();
    if (index_.IsOpen()) index_.Close();
    if (data_.IsOpen()) data_.Close();
    open_ = blobOpen_ = false;
    throw;
  }
}

void TDataTable::CloseFiles() {
  ReleaseAllLocks();
  if (blob_.IsOpen()) blob_.Close();
  if (index_.IsOpen()) index_.Close();
  if (data_.IsOpen()) data_.Close();
  open_ = blobOpen_ = false;
  operations_ = 0;
  lazyReadLock_ = changedLazily_ = false;
}

// Best effort: closing goes on whatever an unlock answers, and the operating
// system drops what is left when the last handle of a file closes.
void TDataTable::ReleaseAllLocks() noexcept {
  if (data_.IsOpen()) {
    for (int32_t r : lockedRecords_) data_.UnlockRecordByte(r);
  }
  lockedRecords_.clear();
  deferredUnlocks_.clear();
  if (writeLocked_) {
    if (blobOpen_) blob_.UnlockWriteRange();
    if (index_.IsOpen()) index_.UnlockWriteRange();
    writeLocked_ = false;
  }
  transactionLocked_ = false;
  if (dataWriteByteHeld_ && data_.IsOpen()) data_.UnlockDataWriteByte();
  dataWriteByteHeld_ = false;
  if (readLocked_ && !readBytesSuspended_) UnlockReadBytes();
  readLocked_ = readBytesSuspended_ = lazyReadLock_ = false;
}

// ---------------------------------------------------------------- locks

bool TDataTable::LockReadBytes() {
  if (!index_.LockReadByte(indexReadByte_)) return false;
  if (blobOpen_ && !blob_.LockReadByte(blobReadByte_)) {
    index_.UnlockReadByte(indexReadByte_);
    indexReadByte_ = 0;
    return false;
  }
  return true;
}

bool TDataTable::UnlockReadBytes() {
  bool ok = true;
  if (blobOpen_ && blobReadByte_ != 0) ok = blob_.UnlockReadByte(blobReadByte_);
  if (indexReadByte_ != 0) ok = index_.UnlockReadByte(indexReadByte_) && ok;
  blobReadByte_ = indexReadByte_ = 0;
  return ok;
}

// Held once: whoever finds it held leaves taking and releasing to its holder.
bool TDataTable::ReadLock() {
  if (readLocked_ || writeLocked_ || transactionLocked_ || !UsesLocks()) return false;
  if (!LockReadBytes()) RaiseTableError(LEDGER_LOCKTIMEOUT, name_, DirectoryName());
  readLocked_ = true;
  try {
    return CheckChanged();
  } catch (...) {
    UnlockReadBytes();
    readLocked_ = false;
    throw;
  }
}

void TDataTable::ReleaseReadLock() {
  if (!readLocked_) return;
  readLocked_ = false;
  if (readBytesSuspended_) {
    readBytesSuspended_ = false;
    return;
  }
  if (!UnlockReadBytes()) RaiseTableError(LEDGER_UNLOCKFAILED, name_, DirectoryName());
}

bool TDataTable::LockDataByteIfNeeded() {
  if (dataWriteByteHeld_) return true;
  dataWriteByteHeld_ = data_.LockDataWriteByte();
  return dataWriteByteHeld_;
}

bool TDataTable::UnlockDataByteIfUnused() {
  if (!dataWriteByteHeld_ || writeLocked_ || transactionLocked_) return true;
  dataWriteByteHeld_ = false;
  return data_.UnlockDataWriteByte();
}

bool TDataTable::WriteLock() {
  if (writeLocked_ || !UsesLocks()) return false;
  // A read byte of ours inside the write range would stand in the way of
  // the range lock on in-memory files and be lost on physical ones.
  if (readLocked_ && !readBytesSuspended_) {
    UnlockReadBytes();
    readBytesSuspended_ = true;
  }
  bool indexLocked = false;
  bool blobLocked = false;
  auto undo = [&]() {
    if (blobLocked) blob_.UnlockWriteRange();
    if (indexLocked) index_.UnlockWriteRange();
    UnlockDataByteIfUnused();
    if (readBytesSuspended_) RetakeReadBytes();
  };
  if (!LockDataByteIfNeeded() || !(indexLocked = index_.LockWriteRange()) ||
      (blobOpen_ && !(blobLocked = blob_.LockWriteRange()))) {
    undo();
    RaiseTableError(LEDGER_LOCKTIMEOUT, name_, DirectoryName());
  }
  writeLocked_ = true;
  if (transactionLocked_) return false;
  try {
    return CheckChanged();
  } catch (...) {
    writeLocked_ = false;
    undo();
    throw;
  }
}

void TDataTable::ReleaseWriteLock() {
  if (!writeLocked_) return;
  bool ok = true;
  if (blobOpen_) ok = blob_.UnlockWriteRange();
  ok = index_.UnlockWriteRange() && ok;
  writeLocked_ = false;
  ok = UnlockDataByteIfUnused() && ok;
  if (readBytesSuspended_ && !RetakeReadBytes()) ok = false;
  if (!ok) RaiseTableError(LEDGER_LOCKTIMEOUT, name_, DirectoryName());
}

// Between the range and the read bytes another writer may have slipped in:
// the caches are checked again, and an operation under way is told.
bool TDataTable::RetakeReadBytes() {
  readBytesSuspended_ = false;
  if (!readLocked_) return true;
  if (!LockReadBytes()) {
    readLocked_ = false;
    return false;
  }
  if (CheckChanged() && operations_ > 0) changedLazily_ = true;
  return true;
}

bool TDataTable::TransactionLock() {
  if (transactionLocked_) return false;
  if (UsesLocks() && !LockDataByteIfNeeded()) RaiseTableError(LEDGER_LOCKTIMEOUT, name_, DirectoryName());
  transactionLocked_ = true;
  if (!UsesLocks()) return false;
  try {
    return CheckChanged();
  } catch (...) {
    transactionLocked_ = false;
    UnlockDataByteIfUnused();
    throw;
  }
}

void TDataTable::ReleaseTransactionLock() {
  if (!transactionLocked_) return;
  transactionLocked_ = false;
  const bool released = UnlockDataByteIfUnused();
  bool unlocked = true;
  std::vector<int32_t> deferred;
  deferred.swap(deferredUnlocks_);
  for (int32_t r : deferred) {
    auto it = std::find(lockedRecords_.begin(), lockedRecords_.end(), r);
    if (it == lockedRecords_.end()) continue;
    lockedRecords_.erase(it);
    unlocked = data_.UnlockRecordByte(r) && unlocked;
  }
  if (!released) RaiseTableError(LEDGER_LOCKTIMEOUT, name_, DirectoryName());
  if (!unlocked) RaiseTableError(LEDGER_UNLOCKFAILED, name_, DirectoryName());
}

void TDataTable::LockRecord(int32_t r) {
  if (r <= 0) RaiseTableError(LEDGER_RECLOCKFAILED, name_, DirectoryName());
  if (!UsesLocks()) return;
  const bool held = std::find(lockedRecords_.begin(), lockedRecords_.end(), r) != lockedRecords_.end();
  if (held) {
    if (transactionLocked_) return;
    // All cursors of the process share one lock owner, so the operating
    // system would grant the byte again; another cursor's lock must refuse.
    RaiseTableError(LEDGER_RECLOCKFAILED, name_, DirectoryName());
  }
  // The read lock's change check makes the caller's next read of the record
  // current; a lock somebody else holds stays theirs to release.
  const bool readFirst = !StrictChangeDetection() && !readLocked_ && !writeLocked_ && !transactionLocked_;
  if (readFirst) ReadLock();
  const TSessionSettings& s = Settings();
  const bool locked = data_.LockRecordByte(r, s.lockRetryCount, s.lockWaitTime);
  if (readFirst) ReleaseReadLock();
  if (!locked) RaiseTableError(LEDGER_RECLOCKFAILED, name_, DirectoryName());
  lockedRecords_.push_back(r);
}

void TDataTable::UnlockRecord(int32_t r) {
  if (!UsesLocks()) return;
  auto it = std::find(lockedRecords_.begin(), lockedRecords_.end(), r);
  if (it == lockedRecords_.end()) RaiseTableError(LEDGER_UNLOCKFAILED, name_, DirectoryName());
  if (transactionLocked_) {
    deferredUnlocks_.push_back(r);
    return;
  }
  lockedRecords_.erase(it);
  if (!data_.UnlockRecordByte(r)) RaiseTableError(LEDGER_UNLOCKFAILED, name_, DirectoryName());
}

// ---------------------------------------------------------------- changes

bool TDataTable::CheckChanged() {
  bool changed = false;
  if (index_.HeaderChanged()) {
    // The index pages are dropped with it; the records may have moved too.
    data_.ReloadHeader();
    data_.DropCache();
    changed = true;
  } else if (data_.HeaderChanged()) {
    data_.DropCache();
    changed = true;
  }
  if (blobOpen_ && blob_.HeaderChanged()) {
    blob_.DropCache();
    changed = true;
  }
  return changed;
}

bool TDataTable::ReadLockAndCheckChanged() {
  if (readLocked_ || writeLocked_ || transactionLocked_ || !UsesLocks()) return false;
  const bool changed = ReadLock();
  if (operations_ > 0) {
    lazyReadLock_ = true;
    if (changed) changedLazily_ = true;
  } else {
    ReleaseReadLock();
  }
  return changed;
}

void TDataTable::EndOperation() {
  if (operations_ > 0) --operations_;
  if (operations_ == 0 && lazyReadLock_) {
    lazyReadLock_ = false;
    ReleaseReadLock();
  }
}

void TDataTable::Flush(bool force, bool trim) {
  if (transactionLocked_) {
    // Everything waits for the commit; the counter moves now so that the
    // other cursors of the process notice the change.
    index_.MoveChangeCounter();
    data_.SetHeaderModified();
    return;
  }
  const bool osFlush = force || ForceBufferFlush();

  const int64_t recordWrites = data_.Stats().writes;
  data_.FlushRecords();
  bool wrote = data_.WriteHeader(force) || data_.Stats().writes != recordWrites;
  if (wrote && osFlush) data_.Flush();

  const int64_t pageWrites = index_.Stats().writes;
  index_.FlushPages();
  wrote = index_.WriteHeader(false) || index_.Stats().writes != pageWrites;
  if (wrote && osFlush) index_.Flush();

  if (blobOpen_) {
    const int64_t blockWrites = blob_.Stats().writes;
    blob_.FlushBlocks();
    wrote = blob_.WriteHeader(false) || blob_.Stats().writes != blockWrites;
    if (wrote && osFlush) blob_.Flush();
  }
  if (trim) {
    data_.TrimCache();
    if (blobOpen_) blob_.TrimCache();
  }
}

// ---------------------------------------------------------------- status index

void TDataTable::RebuildDeletedIndex() {
  if (!open_) RaiseTableError(LEDGER_OSEBADF, name_, DirectoryName());
  const bool lockTaken = !writeLocked_ && UsesLocks();
  WriteLock();
  try {
    data_.FlushRecords();
    const auto slots = static_cast<std::size_t>(std::max(data_.RecordCount(), 0));
    const auto recordSize = static_cast<std::size_t>(data_.RecordSize());
    std::vector<uint8_t> deleted(slots);
    std::vector<int32_t> autoInc(slots);
    const std::size_t perRead = std::max<std::size_t>(1, kRebuildChunkBytes / recordSize);
    std::vector<uint8_t> buffer;
    for (std::size_t first = 0; first < slots; first += perRead) {
      const std::size_t count = std::min(perRead, slots - first);
      buffer.resize(count * recordSize);
      data_.ReadAt(data_.DataStart() + first * recordSize, buffer.data(), buffer.size());
      for (std::size_t i = 0; i < count; ++i) {
        uint8_t* image = buffer.data() + i * recordSize;
        if (data_.Encrypted()) Scramble(image, recordSize, kRecordKey);
        deleted[first + i] = image[record_image::kStatus] != kRecordActive;
        autoInc[first + i] = GetI32(image, kAutoIncOffset);
      }
    }

    // The new tree goes after every page the file holds; the old one's
    // pages, if any, are left unused.
    index_.FlushPages();
    index_.DropPages();
    TIndexDesc desc = index_.Header().slots[kSlotDeleted];
    TPageWriter writer(index_, index_.Encrypted(), index_.NextPageNumber());
    TIndexLoader loader(writer, 1.0);
    const int32_t active = LoadStatusIndex(loader, desc, deleted, autoInc);
    writer.Flush();
    TIndexHeader& header = index_.MutableHeader();
    header.slots[kSlotDeleted].rootPage = desc.rootPage;
    header.slots[kSlotDeleted].firstFreePage = 0;
    header.nextPage = writer.NextPage();
    header.activeRecords = active;
    Flush(false, false);
    rebuildNeeded_ = false;
  } catch (...) {
    if (lockTaken && writeLocked_) {
      try {
        ReleaseWriteLock();
      } catch (const ELedgerEngineError&) {
      }
    }
    throw;
  }
  if (lockTaken) ReleaseWriteLock();
}

}  // namespace ledger
