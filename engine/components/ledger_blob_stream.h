#pragma once
// A stream over one blob field of the record a table shows: the cursor
// loads the blob whole when the stream opens and serves reads from memory.
#include <cstdint>
#include <string>

#include "dataset/data_set.h"
#include "dataset/stream.h"

namespace ledger {

class TLedgerDataSet;

class TLedgerBlobStream : public dataset::TStream {
 public:
  // Stays unopened (reads 0 bytes, size 0) when no record is shown. Write
  // modes belong to editing and are refused.
  TLedgerBlobStream(const dataset::TField& field, dataset::TBlobStreamMode mode);
  ~TLedgerBlobStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // No bound is checked; reads outside the blob copy nothing.
  int64_t Seek(int64_t offset, dataset::TSeekOrigin origin) override;

  bool Opened() const noexcept { return opened_; }

 private:
  friend class TLedgerDataSet;
  // The dataset closes or lays out its buffers anew: the blob is let go.
  void Detach() noexcept;
  uint32_t BlobSize();

  TLedgerDataSet* dataSet_ = nullptr;
  std::string fieldName_;
  int fieldNo_ = 0;
  uint8_t* image_ = nullptr;
  bool opened_ = false;
  int64_t position_ = 0;
};

}  // namespace ledger
