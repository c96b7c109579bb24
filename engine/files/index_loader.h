#pragma once
// Bulk loading of one index from keys already in order: leaves are filled and
// chained left to right, then each branch level is built over the one below
// until a single root remains. Pages are numbered in the order they are
// written, so the output is one sequential stream.
#include <cstdint>
#include <span>
#include <vector>

#include "engine/files/file_handler.h"
#include "engine/files/index_page.h"

namespace ledger {

// Appends encoded index pages to a file in page-number order with large writes.
class TPageWriter {
 public:
  // firstPage: where the pages go; past the pages a file already holds when
  // one index of it is loaded anew.
  TPageWriter(TFileHandler& file, bool encrypted, int32_t firstPage = 1)
      : file_(file), encrypted_(encrypted), nextPage_(firstPage), firstBuffered_(firstPage) {}
  int32_t NextPage() const noexcept { return nextPage_; }
  // Encodes the page under the next page number, which it must already carry.
  void Write(TPage& page);
  void Flush();

 private:
  TFileHandler& file_;
  bool encrypted_;
  int32_t nextPage_;
  int32_t firstBuffered_;
  std::vector<uint8_t> buffer_;
};

class TIndexLoader {
 public:
  // fill: share of each page's room used, in (0, 1]; 1 packs pages full.
  TIndexLoader(TPageWriter& writer, double fill) : writer_(writer), fill_(fill) {}

  // entries: pointers to key bytes followed by the int32 record number, in
  // key order. Returns the root page, 0 for an empty index.
  int32_t Load(int slot, const TPageFormat& format, const std::vector<const uint8_t*>& entries);

 private:
  struct TChild {
    const uint8_t* firstKey;
    int32_t page;
    int64_t keys;
  };
  std::vector<TChild> LoadLeaves(int slot, const TPageFormat& format,
                                 const std::vector<const uint8_t*>& entries);
  std::vector<TChild> LoadBranches(int slot, const TPageFormat& format,
                                   const std::vector<TChild>& children);

  TPageWriter& writer_;
  double fill_;
};

// Loads "Sys Deleted" (slot 31) into desc.rootPage: per record slot r a key
// of its status (0 active, 1 deleted: deleted[r - 1] != 0) and the key form of
// its auto-increment value (autoInc[r - 1]; r itself when autoInc is empty),
// with r stored. Answers the number of active slots.
int32_t LoadStatusIndex(TIndexLoader& loader, TIndexDesc& desc, std::span<const uint8_t> deleted,
                        std::span<const int32_t> autoInc = {});

}  // namespace ledger
