#pragma once
// One open blob of a cursor: the whole blob loaded into memory, served from
// there, and stored back as a chain of blocks.
#include <cstdint>
#include <vector>

#include "engine/files/blob_file.h"
#include "engine/files/value.h"

namespace ledger {

enum class TBlobOpenMode { Read, ReadWrite };

// Reads the chain ref names into out, replacing what it held, and starts over
// when another process rewrote the file meanwhile; an empty reference gives
// nothing. out is filled straight from the blocks, so a caller that keeps its
// vector reads blob after blob with no copy in between and no allocation.
void LoadBlobChain(TBlobFile& file, const TBlobRef& ref, std::vector<uint8_t>& out);

class TBlobBuffer {
 public:
  TBlobBuffer(int fieldNumber, int32_t recordNumber, TBlobRef ref,
              TBlobOpenMode mode = TBlobOpenMode::Read, bool keepSnapshot = false);

  // Reads the chain the reference names; an empty reference loads nothing.
  // A failed load leaves the buffer empty and no block pinned.
  void Load(TBlobFile& file);
  // Writes the data as a chain tagged newBlobId, reusing the old chain, and
  // answers the new reference for the record.
  TBlobRef Store(TBlobFile& file, int32_t newBlobId);

  int FieldNumber() const noexcept { return fieldNumber_; }
  int32_t RecordNumber() const noexcept { return recordNumber_; }
  TBlobRef Ref() const noexcept { return ref_; }
  TBlobOpenMode Mode() const noexcept { return mode_; }
  void SetMode(TBlobOpenMode mode) noexcept { mode_ = mode; }
  bool Modified() const noexcept { return modified_; }
  void SetModified(bool value) noexcept { modified_ = value; }

  std::size_t Size() const noexcept { return data_.size(); }
  std::vector<uint8_t>& Data() noexcept { return data_; }
  const std::vector<uint8_t>& Data() const noexcept { return data_; }
  void SetData(std::vector<uint8_t> data);
  // The data as loaded, kept for fields of the text index.
  const std::vector<uint8_t>& Snapshot() const noexcept { return snapshot_; }

 private:
  int fieldNumber_;
  int32_t recordNumber_;
  TBlobRef ref_;
  TBlobOpenMode mode_;
  bool keepSnapshot_;
  bool modified_ = false;
  std::vector<uint8_t> data_;
  std::vector<uint8_t> snapshot_;
};

}  // namespace ledger
