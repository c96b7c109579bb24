#pragma once
// The data file (".DAT"): header, field descriptors and fixed-size records,
// with the record cache, read-ahead and record slot reuse.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/files/data_header.h"
#include "engine/files/file_handler.h"
#include "engine/files/pinned_cache.h"
#include "engine/files/record.h"
#include "engine/files/table_owner.h"
#include "engine/files/value.h"

namespace ledger {

enum class TReadDirection { Forward = 1, Backward = 2 };

inline constexpr int32_t kMaxRecords = 200000000;
// Every record's lock byte lies beyond the bytes a data file may hold.
static_assert(RecordLockOffset(kMaxRecords) >= kMaxFileSize);

struct TDataFileStats {
  int64_t cacheHits = 0;
  int64_t reads = 0;         // file reads
  int64_t recordsRead = 0;   // records those reads fetched
  int64_t writes = 0;        // file writes of records
  int64_t recordsWritten = 0;
};

// What a new table is made of.
struct TDataFileDefinition {
  std::vector<TFieldDesc> fields;  // numbers, offsets and physical sizes are computed
  std::string description;
  std::string password;
  bool encrypted = false;
  uint16_t languageId = 0;
  uint16_t sortId = 0;
  int16_t userMajor = 0;
  int16_t userMinor = 0;
  uint16_t blockSize = 0;  // blob block size; 0 stands for 512
};

class TDataFile : public TFileHandler {
 public:
  // owner may be null: the file then runs stand-alone (no locks, no changes).
  explicit TDataFile(TTableOwner* owner = nullptr);
  ~TDataFile() override;

  void Open() override;
  void Close() override;
  // Creates the file anew from a definition and leaves it open.
  void Create(const TDataFileDefinition& definition);

  void CheckVersion() const;
  void CheckStructure();

  // True (and the new header adopted) when another writer moved the counter.
  bool HeaderChanged();
  void ReloadHeader();
  bool WriteHeader(bool forced);

  // All slots, deleted ones included; 0 for a header that counts none.
  int32_t RecordCount() const noexcept { return std::max(header_.nextRecord, 1) - 1; }

  // Pinned record r, or null when the table changed meanwhile (the caller
  // repositions and asks again). readAheadCount < 0: the file's own window.
  TRecord* GetRecord(int32_t r, TReadDirection direction = TReadDirection::Forward,
                     bool readAhead = false, int32_t readAheadCount = -1);
  // For a caller that knows which records it asks for next (the rest of an
  // index leaf): a miss also reads those of them the cache lacks, under the
  // same read lock, records within one read-ahead window of each other in one
  // read. As many as the cache holds; r comes back pinned, or null when the
  // table changed.
  TRecord* GetRecord(int32_t r, std::span<const int32_t> following);
  // Record r pinned when the cache holds it; null, reading nothing, when not.
  TRecord* CachedRecord(int32_t r);
  void ReleaseRecord(TRecord* record);
  // A pinned, blank, modified record with its number and a new auto-increment value.
  TRecord* NewRecordSlot();
  void FreeRecordSlot(TRecord* record);
  void FlushRecords();
  void DropCache();
  void TrimCache();
  void Empty();

  // Field values of a record image, checked against its size.
  TFieldValue GetField(const TRecord& record, int position) const;
  void SetField(TRecord& record, int position, const TFieldValue& value);

  // Fields by position (1-based); 0 from FindField when no field has the name.
  int FieldCount() const noexcept { return static_cast<int>(fields_.size()); }
  const TFieldDesc& Field(int position) const;
  int FindField(std::string_view name) const;
  const std::vector<TFieldDesc>& Fields() const noexcept { return fields_; }

  const TDataHeader& Header() const noexcept { return header_; }
  bool HeaderModified() const noexcept { return headerModified_; }
  void SetHeaderModified() noexcept { headerModified_ = true; }
  int RecordSize() const noexcept { return header_.recordSize; }
  int BlobFieldCount() const noexcept { return header_.blobFieldCount; }
  uint32_t BlobBlockSize() const noexcept;  // 0 stored means 512
  uint32_t LocaleId() const noexcept { return header_.LocaleId(); }
  int16_t UserMajor() const noexcept { return header_.userMajor; }
  int16_t UserMinor() const noexcept { return header_.userMinor; }
  bool Encrypted() const noexcept { return header_.encrypted == 1; }
  std::string Description() const;
  std::string Password() const;
  uint64_t DataStart() const noexcept;

  int32_t NextAutoIncValue();
  int32_t NextBlobId();

  bool LockRecordByte(int32_t r, int retryCount, unsigned waitMs);
  bool UnlockRecordByte(int32_t r);

  // Record r's image for a scan to copy before its next call on this file:
  // the cache's entry when it holds r, else a run of records read with r in
  // one go and kept as plain bytes beside the cache, so that a scan costs
  // no cache entry per record. The run is [lo, hi] clamped to the file and
  // to ScanWindowRecords() around r. nullptr when the change check found
  // the table changed. A write from this process or a detected change
  // forgets the run.
  // REQUIRES: lo <= r <= hi.
  const uint8_t* ScanRecord(int32_t r, int32_t lo, int32_t hi);
  // Record r's image from the cache or the scan's run, or nullptr: no read.
  const uint8_t* HeldRecord(int32_t r);
  // The records one run holds (file_runs.h).
  int32_t ScanWindowRecords() const noexcept;

  const TDataFileStats& Stats() const noexcept { return stats_; }
  void ResetStats() noexcept { stats_ = {}; }
  std::size_t CacheCount() const noexcept { return cache_.Count(); }
  // Records somebody still holds, the dropped ones included.
  std::size_t PinnedCount() const noexcept { return cache_.PinnedCount(); }
  std::size_t CacheCapacity() const noexcept { return cache_.Capacity(); }
  std::size_t CacheLimit() const noexcept { return cache_.Limit(); }
  int32_t ReadAheadCount() const noexcept { return readAhead_; }
  // Records released and kept for reuse.
  std::size_t PooledRecords() const noexcept { return pool_.Count(); }

 private:
  using TFileHandler::Create;

  [[noreturn]] void Fail(int code) const { Raise(code); }
  void ReadHeaderBytes(TDataHeader& header);
  void AdoptHeader(const TDataHeader& fresh);
  void LoadDescriptors();
  void WriteDescriptors();
  void SizeCache();

  // Cache.
  TRecord* TakeEntry(int32_t r, int32_t windowFirst, int32_t windowLast);
  TRecord* Hit(TRecord* record);
  TRecord* ReadWindow(int32_t r, TReadDirection direction, int64_t n);
  TRecord* ReadScattered(int32_t r, std::span<const int32_t> following);
  void Refresh(TRecord* record, const uint8_t* bytes);
  void FlushExcept(int32_t windowFirst, int32_t windowLast);
  void ForgetScan() noexcept { scanFirst_ = 1; scanLast_ = 0; }

  TTableOwner* owner_;
  std::unique_ptr<TStandaloneOwner> standalone_;
  TDataHeader header_;
  bool headerModified_ = false;
  bool descriptorsModified_ = false;
  std::vector<TFieldDesc> fields_;
  // Physical size and scale of each field as the file holds them: the full
  // check puts recomputed ones into fields_, and a header another writer
  // left is compared with what was read, not with what was recomputed.
  struct TStoredSize {
    uint8_t size = 0;
    uint8_t scale = 0;
    bool operator==(const TStoredSize&) const = default;
  };
  std::vector<TStoredSize> storedSizes_;
  TEntryPool<TRecord> pool_{64};
  // Grows by 64 records when every record is pinned or modified.
  TPinnedCache<TRecord> cache_{pool_, 64};
  int32_t readAhead_ = 1;
  std::vector<uint8_t> io_;
  // Scattered reads: the followers by number with their place in the
  // caller's order, what became of each, and the records wanted in order.
  struct TCandidate {
    int32_t number;
    int32_t at;
  };
  std::vector<TCandidate> byNumber_;
  std::vector<uint8_t> state_;
  std::vector<TRecord*> cachedAt_;
  std::vector<int32_t> slotOf_;    // per follower: its place in wanted_, or -1
  std::vector<int32_t> wanted_;
  std::vector<int32_t> wantedAt_;  // per wanted record: the follower, or -1 for r
  std::vector<TRecord*> evict_;
  std::vector<TRecord*> fresh_;
  std::vector<uint8_t> read_;
  std::vector<TRecord*> taken_;  // entries a window read added
  // The scan's run: records scanFirst_..scanLast_, read under one change
  // check, descrambled and with their links set as the cache's would be.
  std::vector<uint8_t> scan_;
  int32_t scanFirst_ = 1;
  int32_t scanLast_ = 0;
  TDataFileStats stats_;
};

}  // namespace ledger
