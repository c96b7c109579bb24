#pragma once
// What the data, index and blob files need from the table that owns them.
// The table object implements it; files opened on their own (tools, tests,
// the fuzzer) use TStandaloneOwner, which never locks and never sees changes.
#include <cstdint>
#include <string>
#include <utility>

namespace ledger {

struct TCacheLimits {
  int32_t dataCacheBytes = 16384;
  int32_t dataCacheRecords = 8192;
  int32_t blobCacheBytes = 32768;
  int32_t blobCacheBlocks = 8192;
};

class TTableOwner {
 public:
  virtual ~TTableOwner() = default;

  // Context of every error the files raise.
  virtual const std::string& TableName() const = 0;
  virtual const std::string& DirectoryName() const = 0;

  // With strict change detection the cursor locks around every operation, so
  // a cache miss needs no lock of its own.
  virtual bool StrictChangeDetection() const = 0;
  // Called on a cache miss without strict change detection: takes the table's
  // read lock (kept until the operation ends) and runs the change check.
  // True when another process changed the table; the caches are dropped by then.
  virtual bool ReadLockAndCheckChanged() = 0;
  // While a transaction holds the table, modified entries are never written early.
  virtual bool InTransaction() const = 0;
  // A table without primary index keeps insertion order, so freed slots are not reused.
  virtual bool HasPrimaryIndex() const = 0;
  virtual bool ForceBufferFlush() const = 0;
  // Short reads are allowed only once this process has written to a table it
  // holds exclusively or inside a transaction.
  virtual bool ShortReadsAllowed() const = 0;
  virtual void MarkWritten() = 0;
  virtual TCacheLimits CacheLimits() const = 0;
};

class TStandaloneOwner : public TTableOwner {
 public:
  TStandaloneOwner(std::string tableName = {}, std::string directory = {})
      : tableName_(std::move(tableName)), directory_(std::move(directory)) {}

  const std::string& TableName() const override { return tableName_; }
  const std::string& DirectoryName() const override { return directory_; }
  bool StrictChangeDetection() const override { return true; }
  bool ReadLockAndCheckChanged() override { return false; }
  bool InTransaction() const override { return false; }
  bool HasPrimaryIndex() const override { return hasPrimaryIndex; }
  bool ForceBufferFlush() const override { return false; }
  bool ShortReadsAllowed() const override { return false; }
  void MarkWritten() override {}
  TCacheLimits CacheLimits() const override { return limits; }

  bool hasPrimaryIndex = true;
  TCacheLimits limits;

 private:
  std::string tableName_;
  std::string directory_;
};

}  // namespace ledger
