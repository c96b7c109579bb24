#pragma once
// A file on disk: one descriptor shared by every open in the process.

#include "engine/files/abstract_file.h"

namespace ledger {

class TPhysicalFile : public TAbstractFile {
 public:
  using TAbstractFile::TAbstractFile;
  ~TPhysicalFile() override;

  bool IsMemory() const noexcept override { return false; }
  int Create(bool temporary) override;
  int Open(bool exclusive, bool temporary) override;
  bool Close(int handle) override;
  int Rename(const std::string& newName) override;
  int Delete() override;
  std::int64_t Read(int handle, void* buffer, std::size_t count) override;
  std::int64_t Write(int handle, const void* buffer, std::size_t count) override;
  int Flush() override;
  std::int64_t Size() override;
  bool LockRange(std::uint64_t offset, std::uint64_t length, bool shared) override;
  bool UnlockRange(std::uint64_t offset, std::uint64_t length) override;

 private:
  void CloseDescriptor();
  int fd_ = -1;
};

}  // namespace ledger
