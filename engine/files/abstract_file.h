#pragma once
// One shared object per distinct file in the process. Operations answer a
// result >= 0 or a negated engine code; the file handler raises.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/files/file_system.h"

namespace ledger {

// Data never reaches the lock bytes near 4 GB: writes stop here.
inline constexpr std::uint64_t kMaxFileSize = 4000000000ULL;

enum class TSeekOrigin { Begin, Current, End };

class TAbstractFile {
 public:
  TAbstractFile(std::string name, std::shared_ptr<TFileSystem> system);
  virtual ~TAbstractFile();
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;

  // Held around every seek-and-transfer pair; recursive, because each
  // transfer takes it again for its own bookkeeping.
  std::recursive_mutex& Guard() noexcept { return guard_; }

  virtual bool IsMemory() const noexcept = 0;
  const std::string& Name() const noexcept { return name_; }
  bool Exclusive() const noexcept { return exclusive_; }
  bool OpenedReadOnly() const noexcept { return openedReadOnly_; }
  bool ReadOnlyFile() const noexcept { return readOnlyFile_; }
  bool Temporary() const noexcept { return temporary_; }
  int OpenCount() const;
  bool HasHandle(int handle) const;

  // Make the file anew, empty; answers the creator's handle number.
  virtual int Create(bool temporary) = 0;
  // First open of an object without handles; answers the handle number.
  virtual int Open(bool exclusive, bool temporary) = 0;
  // Another handle on an object already open.
  int OpenAnother();
  // Answers true when that was the last handle.
  virtual bool Close(int handle) = 0;
  virtual int Rename(const std::string& newName) = 0;
  virtual int Delete() = 0;

  // Transfers at the handle's position, which they advance.
  virtual std::int64_t Read(int handle, void* buffer, std::size_t count) = 0;
  // A count of 0 truncates the file at the handle's position.
  virtual std::int64_t Write(int handle, const void* buffer, std::size_t count) = 0;
  virtual int Flush() = 0;
  virtual std::int64_t Size() = 0;
  std::int64_t Seek(int handle, TSeekOrigin origin, std::int64_t offset);
  std::int64_t Position(int handle) const;

  virtual bool LockRange(std::uint64_t offset, std::uint64_t length, bool shared) = 0;
  virtual bool UnlockRange(std::uint64_t offset, std::uint64_t length) = 0;

  TFileSystem& System() noexcept { return *system_; }

 protected:
  struct THandle {
    int Number;
    std::uint64_t Position;
  };
  int AddHandle();
  bool RemoveHandle(int handle);  // true when none is left
  THandle* FindHandle(int handle);
  const THandle* FindHandle(int handle) const;
  void SetName(std::string name) { name_ = std::move(name); }

  mutable std::recursive_mutex guard_;
  std::shared_ptr<TFileSystem> system_;
  bool exclusive_ = false;
  bool openedReadOnly_ = false;
  bool readOnlyFile_ = false;
  bool temporary_ = false;

 private:
  std::string name_;
  std::vector<THandle> handles_;
  int lastHandle_ = 0;
};

}  // namespace ledger
