#pragma once
// A handler per table file: opens the shared file object for its name and
// file system, transfers at its own position, and raises every failure as an engine
// error with its table as context. TDataFile, TIndexFile and TBlobFile derive
// from it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/files/abstract_file.h"
#include "engine/files/host_file_system.h"

namespace ledger {

// Lock bytes. Processes sharing a table coordinate through byte-range locks
// near 4 GB, beyond any data (files stop at kMaxFileSize), each taken without
// waiting and tried again on refusal.
//   file       offset                     length  kind       taken for
//   .DAT       4294967295 kDataWriteByte       1  exclusive  write lock, transaction lock
//   .DAT       4294967294 - r                  1  exclusive  lock of record r, r >= 1
//   .IDX .BLB  4294901759 kWriteRangeStart 65536  exclusive  write lock: the whole range
//   .IDX .BLB  4294967295 - k                  1  shared     read lock, k drawn at random
//                                                            from 1 .. 65535 per attempt
// Every read byte lies inside the write range, so readers exclude a writer
// and never one another. A write lock takes the data byte, then the index
// range, then the blob range. The write, transaction and read locks are
// tried kLockAttempts times kLockPauseMs apart; a record lock once plus the
// session's retry count, its wait time apart. After a lock the reader trusts
// its caches only while the change counters at offset 0 of the three
// headers stay as they were.
inline constexpr std::uint64_t kDataWriteByte = 4294967295ULL;
inline constexpr std::uint64_t kWriteRangeStart = 4294901759ULL;
inline constexpr std::uint64_t kWriteRangeLength = 65536;
// Read bytes are drawn from 1 .. kReadLockBytes below kDataWriteByte.
inline constexpr std::uint32_t kReadLockBytes = 65535;
inline constexpr int kLockAttempts = 32767;
inline constexpr unsigned kLockPauseMs = 3;
inline constexpr std::size_t kCopyChunkSize = 65536;

// Record 0 and numbers past the lock area have no lock byte.
inline constexpr bool HasRecordLockByte(std::uint32_t record) noexcept {
  return record != 0 && record <= kDataWriteByte - 1;
}
inline constexpr std::uint64_t RecordLockOffset(std::uint32_t record) noexcept {
  return kDataWriteByte - 1 - record;
}
// k from 1 to kReadLockBytes: always inside the write range.
inline constexpr std::uint64_t ReadLockOffset(std::uint32_t k) noexcept {
  return kDataWriteByte - k;
}

static_assert(kWriteRangeStart >= kMaxFileSize);
static_assert(kWriteRangeStart + kWriteRangeLength == kDataWriteByte);
static_assert(ReadLockOffset(1) == kWriteRangeStart + kWriteRangeLength - 1 &&
              ReadLockOffset(kReadLockBytes) > kWriteRangeStart);
static_assert(RecordLockOffset(1) < kDataWriteByte);

// Percentage done, reported by the copy operations.
using TProgressCallback = std::function<void(int percent)>;

class TFileHandler {
 public:
  TFileHandler() = default;
  explicit TFileHandler(std::string fileName, bool inMemory = false);
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  // Settings, before opening.
  void SetFileName(std::string fileName);
  const std::string& FileName() const noexcept { return fileName_; }
  void SetInMemory(bool value) noexcept { inMemory_ = value; }
  bool InMemory() const noexcept { return inMemory_; }
  void SetExclusive(bool value) noexcept { exclusive_ = value; }
  bool Exclusive() const noexcept { return exclusive_; }
  void SetTemporary(bool value) noexcept { temporary_ = value; }
  bool Temporary() const noexcept { return temporary_; }
  // The services every open, create, delete and rename of this handler goes
  // through; null stands for the real ones. Opens share a file object only
  // with handlers on the same system.
  void SetSystem(std::shared_ptr<TFileSystem> system);
  const std::shared_ptr<TFileSystem>& System() const noexcept { return system_; }
  // The open file's services, else this handler's.
  TFileSystem& ActiveSystem() const noexcept { return file_ != nullptr ? file_->System() : *system_; }
  // The table and directory named by errors; by default the file's stem and
  // its directory.
  void SetErrorContext(std::string tableName, std::string databaseName);
  const std::string& TableName() const;
  const std::string& DatabaseName() const;

  // Results of the last open.
  bool OpenedReadOnly() const noexcept { return openedReadOnly_; }
  bool ReadOnlyFile() const noexcept { return readOnlyFile_; }
  bool IsOpen() const noexcept { return file_ != nullptr; }
  int HandleNumber() const noexcept { return handle_; }
  TAbstractFile* File() const noexcept { return file_; }

  virtual void Open();
  virtual void Close();
  virtual void Create();
  virtual void Delete();
  virtual void Rename(const std::string& newName);
  virtual void CopyTo(const std::string& destName, bool compress, int progressStep,
                      const TProgressCallback& progress);
  virtual void CopyFrom(const std::string& sourceName, bool compress, int progressStep,
                        const TProgressCallback& progress);
  // At the current position; a short read raises LEDGER_READERR unless allowed.
  virtual std::size_t Read(void* buffer, std::size_t count, bool allowShort = false);
  // At the current position; a count of 0 truncates the file there.
  virtual void Write(const void* buffer, std::size_t count);
  virtual void Flush();

  std::uint64_t Seek(TSeekOrigin origin, std::int64_t offset);
  std::uint64_t Size();
  // True when the name is open in the process or names a file on disk.
  bool Exists() const;
  static bool Exists(const std::string& fileName, bool inMemory, const std::shared_ptr<TFileSystem>& system);

  // Seek and transfer under the guard in one call.
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count, bool allowShort = false);
  void WriteAt(std::uint64_t offset, const void* buffer, std::size_t count);

  // The shared file object's guard, for seek-and-transfer sequences. Open,
  // create and close no file while holding it: they take the file list's
  // guard first, and a thread doing so holds that one before this one.
  void EnterGuard();
  void LeaveGuard();

  // One non-blocking attempt; shared locks are for read-lock bytes.
  bool LockRange(std::uint64_t offset, std::uint64_t length, bool shared = false);
  bool UnlockRange(std::uint64_t offset, std::uint64_t length);
  // Tries attempts times with pauseMs between tries.
  bool LockRangeRetrying(std::uint64_t offset, std::uint64_t length, bool shared, int attempts,
                         unsigned pauseMs);

  // The lock bytes, with their retry rules; they answer success and leave
  // raising to the table, which knows which code applies.
  bool LockDataWriteByte();
  bool UnlockDataWriteByte();
  bool LockWriteRange();
  bool UnlockWriteRange();
  // Draws a new byte for every attempt; the byte held is stored in heldOffset.
  bool LockReadByte(std::uint64_t& heldOffset);
  bool UnlockReadByte(std::uint64_t heldOffset);
  // One try plus retryCount more, waitMs apart.
  bool LockRecord(std::uint32_t record, int retryCount, unsigned waitMs);
  bool UnlockRecord(std::uint32_t record);

  // Raises code with this handler's table and directory as context.
  [[noreturn]] void Raise(int code) const;

 private:
  TAbstractFile& OpenFile() const;
  void Copy(TFileHandler& from, TFileHandler& to, bool compress, bool decompress, int progressStep,
            const TProgressCallback& progress);

  // Derives the default error context from the file name. Deferred until an
  // error or a copy needs it: splitting a path costs more than opening a
  // cursor's first record does otherwise.
  void DeriveErrorContext() const;

  std::string fileName_;
  mutable std::string tableName_;
  mutable std::string databaseName_;
  bool contextSet_ = false;
  mutable bool contextDerived_ = false;
  bool inMemory_ = false;
  bool exclusive_ = false;
  bool temporary_ = false;
  bool openedReadOnly_ = false;
  bool readOnlyFile_ = false;
  int handle_ = 0;
  TAbstractFile* file_ = nullptr;
  std::shared_ptr<TFileSystem> system_ = HostFileSystem();
};

// Holds a handler's guard for a scope.
class TFileGuard {
 public:
  explicit TFileGuard(TFileHandler& handler) : handler_(handler) { handler_.EnterGuard(); }
  ~TFileGuard() { handler_.LeaveGuard(); }
  TFileGuard(const TFileGuard&) = delete;
  TFileGuard& operator=(const TFileGuard&) = delete;

 private:
  TFileHandler& handler_;
};

}  // namespace ledger
