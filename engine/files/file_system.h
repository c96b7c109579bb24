#pragma once
// The operating-system services under the engine, behind one interface so
// tests can refuse what root would be allowed (EACCES, EROFS), lock waits
// need not sleep and the clock can be set. Calls answer a result >= 0 or a
// negated errno.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ledger {

struct TFileStatus {
  std::uint64_t Size = 0;
  unsigned Mode = 0;  // permission bits
  bool IsRegular = false;
  bool IsDirectory = false;
};

enum class TLockKind { Shared, Exclusive, Unlock };

class TFileSystem {
 public:
  virtual ~TFileSystem() = default;

  // flags are open(2) flags; the descriptor is always close-on-exec.
  virtual int Open(const std::string& path, int flags, unsigned mode) = 0;
  virtual int Close(int fd) = 0;
  virtual std::int64_t PRead(int fd, void* buffer, std::size_t count, std::uint64_t offset) = 0;
  virtual std::int64_t PWrite(int fd, const void* buffer, std::size_t count, std::uint64_t offset) = 0;
  virtual int FTruncate(int fd, std::uint64_t length) = 0;
  virtual int FSync(int fd) = 0;
  virtual int FStat(int fd, TFileStatus& status) = 0;
  virtual int Stat(const std::string& path, TFileStatus& status) = 0;
  // Non-blocking open-file-description byte-range lock.
  virtual int SetLock(int fd, TLockKind kind, std::uint64_t offset, std::uint64_t length) = 0;
  // Whole-file share lock (flock(2) operation, always non-blocking).
  virtual int Flock(int fd, int operation) = 0;
  virtual int AdviseRandom(int fd) = 0;
  virtual int Unlink(const std::string& path) = 0;
  // Fails with -EEXIST rather than replacing an existing target.
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  // The absolute working directory, as getcwd(3) gives it.
  virtual int GetCwd(std::string& path) = 0;

  // Wall-clock time, as stamped into headers.
  virtual std::chrono::system_clock::time_point Now() = 0;
  // Pacing of lock retries.
  virtual void SleepMs(unsigned milliseconds) = 0;
  // A random number from 0 to n - 1.
  virtual std::uint32_t Random(std::uint32_t n) = 0;
};

// The real services; tests derive from it and override single calls.
class TPosixFileSystem : public TFileSystem {
 public:
  int Open(const std::string& path, int flags, unsigned mode) override;
  int Close(int fd) override;
  std::int64_t PRead(int fd, void* buffer, std::size_t count, std::uint64_t offset) override;
  std::int64_t PWrite(int fd, const void* buffer, std::size_t count, std::uint64_t offset) override;
  int FTruncate(int fd, std::uint64_t length) override;
  int FSync(int fd) override;
  int FStat(int fd, TFileStatus& status) override;
  int Stat(const std::string& path, TFileStatus& status) override;
  int SetLock(int fd, TLockKind kind, std::uint64_t offset, std::uint64_t length) override;
  int Flock(int fd, int operation) override;
  int AdviseRandom(int fd) override;
  int Unlink(const std::string& path) override;
  int Rename(const std::string& from, const std::string& to) override;
  int GetCwd(std::string& path) override;
  std::chrono::system_clock::time_point Now() override;
  void SleepMs(unsigned milliseconds) override;
  std::uint32_t Random(std::uint32_t n) override;
};

std::shared_ptr<TFileSystem> PosixFileSystem();

}  // namespace ledger
