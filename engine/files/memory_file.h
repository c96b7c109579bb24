#pragma once
// A file held in a growing buffer, for in-memory tables. It outlives its last
// close until deleted; its locks are a list of held ranges.

#include "engine/files/abstract_file.h"

namespace ledger {

class TMemoryFile : public TAbstractFile {
 public:
  using TAbstractFile::TAbstractFile;

  bool IsMemory() const noexcept override { return true; }
  int Create(bool temporary) override;
  int Open(bool exclusive, bool temporary) override;
  bool Close(int handle) override;
  int Rename(const std::string& newName) override;
  int Delete() override;
  std::int64_t Read(int handle, void* buffer, std::size_t count) override;
  std::int64_t Write(int handle, const void* buffer, std::size_t count) override;
  int Flush() override { return 0; }
  std::int64_t Size() override;
  bool LockRange(std::uint64_t offset, std::uint64_t length, bool shared) override;
  bool UnlockRange(std::uint64_t offset, std::uint64_t length) override;

  std::size_t Capacity() const;

 private:
  struct TRange {
    std::uint64_t Start;
    std::uint64_t Length;
  };
  std::vector<std::uint8_t> data_;  // data_.size() is the capacity
  std::uint64_t size_ = 0;
  std::vector<TRange> locks_;
};

}  // namespace ledger
