#pragma once
// The index file (".IDX"): header, per-slot page caches and the key searches.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/files/byte_buffer.h"
#include "engine/files/file_handler.h"
#include "engine/files/index_header.h"
#include "engine/files/index_key.h"
#include "engine/files/index_page.h"
#include "engine/files/pinned_cache.h"
#include "engine/files/table_owner.h"

namespace ledger {

inline constexpr int kMaxIndexDepth = 64;
inline constexpr int32_t kMaxIndexPages = 2000000000;
inline constexpr int32_t kDefaultIndexCacheBytes = 16384;

struct TIndexFileStats {
  int64_t cacheHits = 0;
  int64_t reads = 0;   // pages read from the file
  int64_t writes = 0;  // write calls for pages
  int64_t pagesWritten = 0;
};

// Where a search ended: a leaf entry and its 1-based position in the index.
// found is false for an empty index, past the end or before the beginning.
struct TKeyPosition {
  bool found = false;
  int32_t leafPage = 0;
  int slot = 0;            // entry in the leaf, 1-based
  int64_t position = 0;    // 1-based position of the key in the index
  int32_t record = 0;
  std::vector<uint8_t> key;
};

class TIndexFile : public TFileHandler {
 public:
  // owner may be null: the file then runs stand-alone (no locks, no changes).
  explicit TIndexFile(TTableOwner* owner = nullptr);
  ~TIndexFile() override;

  void Open() override;
  void Close() override;
  // Writes a fresh header (system slots preset) and leaves the file open.
  void Create(bool noPrimary = false);

  void CheckVersion() const;
  // The full check of the header against the data file's fields; it also
  // prepares the key definitions that searches compare with.
  void CheckStructure(const std::vector<TFieldDesc>& fields, uint32_t lcid);
  bool HeaderChanged();
  bool WriteHeader(bool forced);
  // What every header write does to the change counter, for a writer that
  // must show the change before the header is written; after the largest
  // value the counter starts again at 1.
  void MoveChangeCounter() noexcept;

  const TIndexHeader& Header() const noexcept { return header_; }
  // For writers: changes are written by WriteHeader.
  TIndexHeader& MutableHeader() noexcept {
    headerModified_ = true;
    return header_;
  }
  bool HeaderModified() const noexcept { return headerModified_; }
  const TIndexDesc& Descriptor(int slot) const;
  const TKeyDef& KeyDef(int slot) const;
  int32_t ActiveRecordCount() const noexcept { return header_.activeRecords; }
  int32_t NextPageNumber() const noexcept { return header_.nextPage; }
  bool NoPrimary() const noexcept { return header_.noPrimary; }

  void SetEncrypted(bool value) noexcept { encrypted_ = value; }
  bool Encrypted() const noexcept { return encrypted_; }
  // The session's index cache size; each slot keeps bytes / 8192 pages (at least 2).
  void SetCacheBytes(int32_t bytes);
  std::size_t SlotCapacity() const noexcept { return capacity_; }
  // Pages released and kept for reuse, for all slots together.
  std::size_t PooledPages() const noexcept { return pool_.Count(); }
  std::size_t CachedPages(int slot) const;

  // Pages. GetPage returns the page pinned, or null when another process
  // changed the table meanwhile (the caller starts over from the root).
  TPage* GetPage(int slot, int32_t p, bool isNew = false);
  TPage* RootPage(int slot);  // null for an empty index
  void ReleasePage(TPage* page);
  TPage* NewPage(int slot);  // pinned, cleared, modified
  void FreePage(TPage* page);
  void FlushPages();
  void DropPages();

  // Searches of one index. Keys are compared over their first n bytes
  // (n < 0: the whole key).
  TKeyPosition First(int slot);
  TKeyPosition Last(int slot);
  TKeyPosition FindNotBelow(int slot, const uint8_t* key, int n = -1);
  TKeyPosition FindNotAbove(int slot, const uint8_t* key, int n = -1);
  TKeyPosition Nth(int slot, int64_t n);  // not found unless 1 <= n <= total
  // Not found past either end; 8708 when another process changed the table
  // since at was found.
  TKeyPosition Next(int slot, const TKeyPosition& at);
  TKeyPosition Prior(int slot, const TKeyPosition& at);
  int64_t TotalKeys(int slot);
  // Entries after (or before) at in its leaf whose record numbers continue
  // at's by +1 (or -1), up to maxCount.
  int ReadAheadCount(int slot, const TKeyPosition& at, bool forward, int maxCount);

  const TIndexFileStats& Stats() const noexcept { return stats_; }
  void ResetStats() noexcept { stats_ = {}; }

 private:
  using TFileHandler::Create;
  enum class TMode { First, Last, NotBelow, NotAbove, Nth };

  [[noreturn]] void Corrupt() const;
  [[noreturn]] void RaiseChanged() const;
  void ReadHeader(TIndexHeader& header);
  TPage* TakeEntry(int slot, int32_t p);
  void WritePage(TPage& page, uint8_t* raw);
  TKeyPosition Descend(int slot, TMode mode, const uint8_t* key, int n, int64_t nth);
  TKeyPosition Finish(int slot, TPage* leaf, int s, int64_t position);
  TPage* GetLeaf(int slot, int32_t p);
  void ReadPageBytes(int32_t p, uint8_t* raw);
  void ForgetRun() noexcept { runFirst_ = 1, runLast_ = 0; }

  TTableOwner* owner_;
  std::unique_ptr<TStandaloneOwner> standalone_;
  TIndexHeader header_;
  bool headerModified_ = false;
  bool encrypted_ = false;
  std::array<std::optional<TKeyDef>, kIndexSlots> keyDefs_;
  // One cache per index, so that a walk through one does not push out the
  // pages of the others; released pages go to one pool.
  TEntryPool<TPage> pool_{4};
  std::vector<TPinnedCache<TPage>> caches_;
  std::size_t capacity_ = 2;
  uint64_t fileSize_ = 0;
  // A walk from page to neighbouring page reads the pages beyond with it
  // under the same change check: pages runFirst_..runLast_, descrambled,
  // until a write or a detected change forgets them.
  TByteBuffer run_;
  int32_t runFirst_ = 1;
  int32_t runLast_ = 0;
  int32_t lastRead_ = 0;
  TIndexFileStats stats_;
};

}  // namespace ledger
