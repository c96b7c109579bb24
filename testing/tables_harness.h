#pragma once
// Opens a data file and a blob file made of arbitrary bytes and reads every
// record and blob, the way a cursor would. Shared by the fuzz target and the
// test that replays its corpus.
//
// Input layout: one flag byte, the data file's length (4 bytes, little
// endian), the data file, then the blob file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "engine/errors/ledger_error.h"
#include "engine/files/blob_buffer.h"
#include "engine/files/blob_file.h"
#include "engine/files/byte_order.h"
#include "engine/files/data_file.h"
#include "engine/files/file_handler.h"
#include "engine/files/table_owner.h"

namespace ledger::fuzzing {

enum : uint8_t {
  kFullCheck = 1,     // the structure checks instead of the version checks
  kBackward = 2,      // walk the records from the last to the first
  kSmallCaches = 4,   // caches of a few entries, so eviction runs
  kReadAhead = 8,
  kWrite = 16,        // also rewrite blobs, add and free records, flush
};

inline constexpr int32_t kMaxRecordsVisited = 2000;

inline void PutMemoryFile(const std::string& name, const uint8_t* bytes, std::size_t size) {
  TFileHandler file(name, true);
  file.Create();
  if (size > 0) file.Write(bytes, size);
  file.Close();
}

inline void DropMemoryFile(const std::string& name) {
  TFileHandler file(name, true);
  try {
    file.Delete();
  } catch (const ELedgerEngineError&) {
  }
}

inline std::vector<uint8_t> MakeInput(uint8_t flags, const std::vector<uint8_t>& data,
                                      const std::vector<uint8_t>& blob) {
  std::vector<uint8_t> input(5);
  input[0] = flags;
  PutU32(input.data(), 1, static_cast<uint32_t>(data.size()));
  input.insert(input.end(), data.begin(), data.end());
  input.insert(input.end(), blob.begin(), blob.end());
  return input;
}

inline void ReadEveryRecord(TDataFile& data, TBlobFile* blob, uint8_t flags) {
  const int32_t count = std::min(data.RecordCount(), kMaxRecordsVisited);
  const auto direction = (flags & kBackward) ? TReadDirection::Backward : TReadDirection::Forward;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t r = (flags & kBackward) ? count - i : i + 1;
    TRecord* record = nullptr;
    try {
      record = data.GetRecord(r, direction, (flags & kReadAhead) != 0);
    } catch (const ELedgerEngineError&) {
      return;  // the rest of the file is no better
    }
    if (!record) continue;
    for (int f = 1; f <= data.FieldCount(); ++f) {
      try {
        TFieldValue value = data.GetField(*record, f);
        const TBlobRef* ref = std::get_if<TBlobRef>(&value);
        if (ref && blob && blob->IsOpen()) {
          TBlobBuffer buffer(f, r, *ref, TBlobOpenMode::ReadWrite);
          buffer.Load(*blob);
          if (flags & kWrite) {
            std::vector<uint8_t> bytes = buffer.Data();
            bytes.resize((bytes.size() * 3) / 2 + 1, static_cast<uint8_t>(r));
            buffer.SetData(std::move(bytes));
            data.SetField(*record, f, buffer.Store(*blob, data.NextBlobId()));
          }
        }
      } catch (const ELedgerEngineError&) {
      }
    }
    data.ReleaseRecord(record);
  }
}

inline void WriteSome(TDataFile& data, TBlobFile* blob) {
  try {
    data.ReleaseRecord(data.NewRecordSlot());
    if (data.RecordCount() >= 1) {
      TRecord* first = data.GetRecord(1);
      if (first && !first->Deleted()) data.FreeRecordSlot(first);
      data.ReleaseRecord(first);
    }
    data.ReleaseRecord(data.NewRecordSlot());
    data.FlushRecords();
    data.WriteHeader(false);
    if (blob && blob->IsOpen()) {
      blob->FlushBlocks();
      blob->WriteHeader(false);
      blob->TrimCache();
    }
    data.TrimCache();
  } catch (const ELedgerEngineError&) {
  }
}

inline void ReadTables(const uint8_t* input, std::size_t size) {
  if (size < 5) return;
  const uint8_t flags = input[0];
  const std::size_t rest = size - 5;
  const std::size_t dataSize = std::min<std::size_t>(GetU32(input, 1), rest);
  const std::string dataName = "fuzz/Tables.DAT";
  const std::string blobName = "fuzz/Tables.BLB";
  PutMemoryFile(dataName, input + 5, dataSize);
  PutMemoryFile(blobName, input + 5 + dataSize, rest - dataSize);
  {
    TStandaloneOwner owner("Tables", "fuzz");
    if (flags & kSmallCaches) {
      owner.limits.dataCacheBytes = 256;
      owner.limits.blobCacheBytes = 1024;
    }
    TDataFile data(&owner);
    data.SetInMemory(true);
    data.SetFileName(dataName);
    TBlobFile blob(&owner);
    blob.SetInMemory(true);
    blob.SetFileName(blobName);
    try {
      data.Open();
      if (flags & kFullCheck) data.CheckStructure();
      else data.CheckVersion();
      (void)data.Description();
      (void)data.Password();
      if (data.BlobFieldCount() > 0) {
        blob.SetBlockSize(data.Header().blockSize);
        blob.SetEncrypted(data.Encrypted());
        blob.Open();
        if (flags & kFullCheck) blob.CheckStructure();
        else blob.CheckVersion();
      }
      ReadEveryRecord(data, &blob, flags);
      if (flags & kWrite) WriteSome(data, &blob);
    } catch (const ELedgerEngineError&) {
    }
    blob.Close();
    data.Close();
  }
  DropMemoryFile(dataName);
  DropMemoryFile(blobName);
}

}  // namespace ledger::fuzzing
