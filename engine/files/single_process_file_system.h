#pragma once
// The engine's file services where one process is all there is (a browser
// tab): POSIX calls on the files, every byte-range and share lock granted
// since nobody else could hold one, renames without renameat2. Read-only
// systems refuse whatever would change a file, as a read-only share does,
// so tables open read-only but still lock and read their change counters.

#include <string>

#include "engine/files/file_system.h"

namespace ledger {

class TSingleProcessFileSystem : public TPosixFileSystem {
 public:
  enum class TAccess { ReadOnly, ReadWrite };
  explicit TSingleProcessFileSystem(TAccess access) : readOnly_(access == TAccess::ReadOnly) {}

  int Open(const std::string& path, int flags, unsigned mode) override;
  int SetLock(int fd, TLockKind kind, std::uint64_t offset, std::uint64_t length) override;
  int Flock(int fd, int operation) override;
  int AdviseRandom(int fd) override;
  int Unlink(const std::string& path) override;
  int Rename(const std::string& from, const std::string& to) override;

 private:
  bool readOnly_;
};

}  // namespace ledger
