#pragma once
// The builder's state, shared by the table_builder*.cpp files that each
// write one part of a table: records (table_builder_records.cpp), blobs
// (table_builder_blobs.cpp), indexes (table_builder_index.cpp), and putting
// the finished files in place (table_builder_commit.cpp).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/build/table_builder.h"
#include "engine/errors/ledger_error.h"
#include "engine/files/blob_file.h"
#include "engine/files/index_key.h"
#include "engine/files/table_owner.h"

namespace ledger {

// Records, blocks and copied bytes go to disk a megabyte at a time.
inline constexpr std::size_t kWriteChunk = 1 << 20;
inline constexpr const char* kBuildSuffix = ".building";

// One index as the records come: its key of every record slot, sorted and
// loaded only when the table is finished.
struct TIndexBuild {
  int slot = 0;
  TIndexDesc desc;
  TKeyDef keyDef;
  int stride = 0;             // key + record number
  std::vector<uint8_t> keys;  // one stride per record slot, in record order
};

struct TTableBuilder::TState {
  std::string directory;
  std::string table;
  TTableDefinition def;
  TBuildTarget target;
  std::shared_ptr<TFileSystem> system;
  TStandaloneOwner owner;
  TDataFile data{&owner};
  TFileHandler blob;
  TFileHandler index;
  std::vector<TFieldDesc> fields;
  uint32_t lcid = 0;
  int recordSize = 0;
  uint64_t dataStart = 0;
  bool encrypted = false;
  bool hasBlobs = false;
  uint32_t blockSize = kDefaultBlockSize;
  bool finished = false;

  int32_t records = 0;
  int32_t lastBlobId = 0;
  std::vector<uint8_t> recordBuffer;
  int32_t firstBufferedRecord = 1;
  std::vector<uint8_t> blobBuffer;
  int32_t nextBlock = 1;
  int32_t firstBufferedBlock = 1;

  std::vector<TIndexBuild> indexes;
  std::vector<uint8_t> deleted;  // per record slot
  std::vector<int32_t> deletionOrder;

  // In key order, appended records wait in the spill file (in append order)
  // until Finish knows where each one goes.
  bool keyOrdered = false;
  TFileHandler spill;
  std::vector<int32_t> autoIncBySlot;  // empty while slots follow append order

  TState(std::string dir, std::string name, TTableDefinition d, TBuildTarget t, std::shared_ptr<TFileSystem> fs)
      : directory(std::move(dir)),
        table(std::move(name)),
        def(std::move(d)),
        target(t),
        system(std::move(fs)),
        owner(table, directory) {
    for (TFileHandler* file : {static_cast<TFileHandler*>(&data), &blob, &index}) file->SetSystem(system);
  }

  std::string FinalName(const char* ext) const { return directory + "/" + table + ext; }
  std::string TempName(const char* ext) const { return FinalName(ext) + kBuildSuffix; }
  // Where an old file waits while the new set moves in.
  std::string AsideName(const char* ext) const { return FinalName(ext) + ".replaced" + kBuildSuffix; }

  [[noreturn]] void Fail(TErrorCode code) const { RaiseTableError(code, table, directory); }

  void DefineIndexes();
  TIndexDesc Describe(const TIndexDefinition& def, bool primary) const;
  void FlushRecords();
  void PlaceInKeyOrder(std::vector<std::vector<const uint8_t*>>& sorted);
  void FlushBlocks();
  TBlobRef WriteBlob(uint64_t size, const std::function<std::size_t(uint8_t*, std::size_t)>& read);
  void ApplyDeletions();
  void WriteDataHeader(int32_t firstFree);
  void WriteBlobHeader();
  void WriteIndexFile(std::vector<std::vector<const uint8_t*>>& sorted);
  std::vector<const uint8_t*> SortedEntries(const TIndexBuild& index) const;
  void CloseAll();
  void RemoveTemporaries();
  void RenameIntoPlace(const char* ext);
  void ReplaceFiles();
  void ContinueBlobIds();
  void RewriteInPlace();
  void CopyOver(const char* ext, TFileHandler& target, int32_t counter, bool scrambleCounter);
};

}  // namespace ledger
