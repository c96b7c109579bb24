#pragma once
// One open table: its data, index and blob files, shared by every cursor on
// it in the process, with the table-level locks and the change check that
// keep the caches of every process honest.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/records_bitmap.h"
#include "engine/files/blob_file.h"
#include "engine/files/data_file.h"
#include "engine/files/index_file.h"
#include "engine/files/table_owner.h"

namespace ledger {

class TDataDirectory;
struct TSessionSettings;

// The change counters of the three files as last seen.
struct TChangeSnapshot {
  int32_t data = 0;
  int32_t index = 0;
  int32_t blob = 0;
  bool operator==(const TChangeSnapshot&) const = default;
};

class TDataTable : public TTableOwner {
 public:
  TDataTable(TDataDirectory& directory, std::string name);
  ~TDataTable() override;
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  TDataDirectory& Directory() const noexcept { return directory_; }
  const std::string& Name() const noexcept { return name_; }
  // Directory path + name + extension, where ".DAT" (any case) in the name
  // is replaced and any other extension kept.
  std::string FileName(const char* extension) const;
  static std::string FileNameFor(const std::string& directoryPath, const std::string& tableName,
                                 const char* extension);

  // Opens the three files (a missing index file is made anew and the
  // rebuild-needed flag set) and derives read-only and no-locking from
  // them. A failure closes what was opened and propagates.
  void OpenFiles(bool exclusive, bool inMemory);
  // Releases record locks and closes the files.
  void CloseFiles();
  bool FilesOpen() const noexcept { return open_; }

  int CursorCount() const noexcept { return cursors_; }
  void AddCursor() noexcept { ++cursors_; }
  int RemoveCursor() noexcept { return --cursors_; }

  TDataFile& Data() noexcept { return data_; }
  TIndexFile& Index() noexcept { return index_; }
  // Null when the table has no blob fields.
  TBlobFile* Blob() noexcept { return blobOpen_ ? &blob_ : nullptr; }

  bool Exclusive() const noexcept { return exclusive_; }
  bool IsInMemory() const noexcept { return inMemory_; }
  bool ReadOnly() const noexcept { return readOnly_; }
  bool NoLocking() const noexcept { return noLocking_; }
  bool RebuildNeeded() const noexcept { return rebuildNeeded_; }
  // Rebuilds the record-status index from every record slot, under the
  // write lock, and clears the rebuild-needed flag.
  void RebuildDeletedIndex();

  // Active records (kept by the index file) and all record slots.
  int32_t RecordCount() const noexcept { return index_.ActiveRecordCount(); }
  int32_t RecordSlots() const noexcept { return data_.RecordCount(); }
  TChangeSnapshot Changes() const noexcept;

  // Table locks. ReadLock answers whether the table changed (always false
  // when no lock is taken: held already, exclusive or no locking).
  bool ReadLock();
  void ReleaseReadLock();
  bool HoldsReadLock() const noexcept { return readLocked_; }
  bool WriteLock();
  void ReleaseWriteLock();
  bool HoldsWriteLock() const noexcept { return writeLocked_; }
  bool TransactionLock();
  void ReleaseTransactionLock();
  void LockRecord(int32_t r);
  void UnlockRecord(int32_t r);

  // Re-reads the headers and drops the caches another process made stale;
  // true when anything changed.
  bool CheckChanged();
  // Writes what was modified at the end of a write operation.
  void Flush(bool force, bool trim);

  // A cursor operation: a read lock taken lazily inside it (on a cache
  // miss) is released when the outermost operation ends.
  void BeginOperation() noexcept { ++operations_; }
  void EndOperation();
  // Set when a lazily taken lock found a change; the cursor repositions
  // and clears it.
  bool ChangedDuringOperation() const noexcept { return changedLazily_; }
  void ClearChangedDuringOperation() noexcept { changedLazily_ = false; }

  // TTableOwner
  const std::string& TableName() const override { return name_; }
  const std::string& DirectoryName() const override;
  bool StrictChangeDetection() const override;
  bool ReadLockAndCheckChanged() override;
  bool InTransaction() const override { return transactionLocked_; }
  bool HasPrimaryIndex() const override { return !index_.NoPrimary(); }
  bool ForceBufferFlush() const override;
  bool ShortReadsAllowed() const override { return (exclusive_ || transactionLocked_) && written_; }
  void MarkWritten() override { written_ = true; }
  TCacheLimits CacheLimits() const override;

 private:
  const TSessionSettings& Settings() const noexcept;
  bool UsesLocks() const noexcept { return !exclusive_ && !noLocking_; }
  void OpenIndexFile();
  bool LockReadBytes();
  bool UnlockReadBytes();
  bool RetakeReadBytes();
  bool LockDataByteIfNeeded();
  bool UnlockDataByteIfUnused();
  void ReleaseAllLocks() noexcept;

  TDataDirectory& directory_;
  std::string name_;
  TDataFile data_;
  TIndexFile index_;
  TBlobFile blob_;
  bool open_ = false;
  bool blobOpen_ = false;
  int cursors_ = 0;
  bool exclusive_ = false;
  bool inMemory_ = false;
  bool readOnly_ = false;
  bool noLocking_ = false;
  bool rebuildNeeded_ = false;
  bool written_ = false;
  bool readLocked_ = false;
  bool writeLocked_ = false;
  bool transactionLocked_ = false;
  bool dataWriteByteHeld_ = false;
  uint64_t indexReadByte_ = 0;
  uint64_t blobReadByte_ = 0;
  int operations_ = 0;
  // The write lock's range covers the read bytes, so they are let go while
  // it is held and taken again after.
  bool readBytesSuspended_ = false;
  bool lazyReadLock_ = false;
  bool changedLazily_ = false;
  std::vector<int32_t> lockedRecords_;
  std::vector<int32_t> deferredUnlocks_;
};

}  // namespace ledger
