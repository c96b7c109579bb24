// The record cache: records read one at a time or a window at once, held,
// released, made and freed, and written back in runs.

#include "engine/files/data_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/file_runs.h"
#include "engine/files/scramble.h"

namespace ledger {

// ---------------------------------------------------------------- cache

TRecord* TDataFile::TakeEntry(int32_t r, int32_t windowFirst, int32_t windowLast) {
  TRecord* record = cache_.Take(r, [&] {
    if (!owner_->InTransaction()) FlushExcept(windowFirst, windowLast);
  });
  if (!record) Fail(LEDGER_FILECORRUPT);
  record->Reset(this, header_.recordSize);
  return record;
}

void TDataFile::Refresh(TRecord* record, const uint8_t* bytes) {
  std::memcpy(record->Data(), bytes, record->Size());
  if (Encrypted()) Scramble(record->Data(), record->Size(), kRecordKey);
  if (!record->Deleted()) record->SetLink(record->Number());
}

void TDataFile::DropCache() {
  cache_.Drop();
  ForgetScan();
}

void TDataFile::TrimCache() { cache_.Trim(); }

// ---------------------------------------------------------------- records

TRecord* TDataFile::Hit(TRecord* record) {
  ++stats_.cacheHits;
  return cache_.Hit(record);
}

TRecord* TDataFile::CachedRecord(int32_t r) {
  if (r <= 0 || r >= header_.nextRecord) return nullptr;
  TRecord* record = cache_.Find(r);
  return record ? Hit(record) : nullptr;
}

TRecord* TDataFile::GetRecord(int32_t r, TReadDirection direction, bool readAhead, int32_t readAheadCount) {
  if (r <= 0 || r > header_.nextRecord) Fail(LEDGER_FILECORRUPT);
  const int recordSize = header_.recordSize;

  if (r == header_.nextRecord) {
    uint64_t end = DataStart() + uint64_t(r) * uint64_t(recordSize);
    if (r > kMaxRecords || end > kMaxFileSize) Fail(LEDGER_TABLEFULL);
    // The slot before must exist, on disk or still in the cache; a header
    // that counts slots the file never had would have us write far past its end.
    if (r > 1 && DataStart() + uint64_t(r - 1) * uint64_t(recordSize) > Size() && !cache_.Find(r - 1))
      Fail(LEDGER_HEADERCORRUPT);
    TRecord* record = TakeEntry(r, 0, -1);
    cache_.Pin(record);
    // The slot exists from now on, so it has to reach the file even when
    // nobody fills it.
    record->SetModified(true);
    ++stats_.cacheHits;
    ++header_.nextRecord;
    headerModified_ = true;
    return record;
  }

  if (TRecord* hit = cache_.Find(r)) return Hit(hit);

  if (!owner_->StrictChangeDetection() && owner_->ReadLockAndCheckChanged()) return nullptr;
  if (r >= header_.nextRecord) Fail(LEDGER_FILECORRUPT);

  int64_t n = 1;
  if (readAhead) n = readAheadCount >= 1 ? std::min<int64_t>(readAheadCount, readAhead_) : readAhead_;
  return ReadWindow(r, direction, n);
}

TRecord* TDataFile::GetRecord(int32_t r, std::span<const int32_t> following) {
  if (r <= 0 || r >= header_.nextRecord || following.empty()) return GetRecord(r);
  if (TRecord* hit = cache_.Find(r)) return Hit(hit);
  if (!owner_->StrictChangeDetection() && owner_->ReadLockAndCheckChanged()) return nullptr;
  if (r >= header_.nextRecord) Fail(LEDGER_FILECORRUPT);
  return ReadScattered(r, following);
}

// n consecutive records from r on in the direction given, with one read.
TRecord* TDataFile::ReadWindow(int32_t r, TReadDirection direction, int64_t n) {
  const int recordSize = header_.recordSize;
  const int32_t last = header_.nextRecord - 1;
  // A window larger than the cache would evict its own records.
  n = std::max<int64_t>(1, std::min<int64_t>(n, static_cast<int64_t>(cache_.Limit())));
  int32_t first = r, lastInWindow = r;
  if (direction == TReadDirection::Backward)
    first = static_cast<int32_t>(std::max<int64_t>(int64_t{r} - n + 1, 1));
  else
    lastInWindow = static_cast<int32_t>(std::min<int64_t>(int64_t{r} + n - 1, last));

  std::size_t count = static_cast<std::size_t>(lastInWindow - first + 1);
  io_.resize(count * static_cast<std::size_t>(recordSize));
  uint64_t offset = DataStart() + uint64_t(first - 1) * uint64_t(recordSize);
  std::size_t got = ReadAt(offset, io_.data(), io_.size(), owner_->ShortReadsAllowed());
  std::size_t whole = got / static_cast<std::size_t>(recordSize);
  ++stats_.reads;
  stats_.recordsRead += static_cast<int64_t>(whole);

  auto place = [&](int32_t number) -> TRecord* {
    std::size_t index = static_cast<std::size_t>(number - first);
    if (index >= whole) return nullptr;
    const uint8_t* bytes = io_.data() + index * static_cast<std::size_t>(recordSize);
    // The caller found r missing, and nothing since has added it.
    TRecord* record = number == r ? nullptr : cache_.Find(number);
    if (record) {
      if (!record->Modified() && !record->Pinned()) Refresh(record, bytes);
      return record;
    }
    record = TakeEntry(number, first, lastInWindow);
    Refresh(record, bytes);
    taken_.push_back(record);
    return record;
  };

  // The requested record first and pinned, so the rest of the window cannot
  // push it out again.
  TRecord* result = place(r);
  if (!result || result->Number() != r) Fail(LEDGER_FILECORRUPT);
  cache_.Pin(result);
  taken_.clear();
  for (int32_t number = first; number <= lastInWindow; ++number)
    if (number != r) place(number);
  // Placed in ascending order, which keeps the insertions at one end of the
  // sorted list; a forward window is linked again so that the recency list
  // holds it in the order a scan asks for it.
  if (direction == TReadDirection::Forward)
    for (auto it = taken_.rbegin(); it != taken_.rend(); ++it) cache_.Touch(*it);
  cache_.Touch(result);
  return result;
}

void TDataFile::ReleaseRecord(TRecord* record) { cache_.Release(record); }

// ---------------------------------------------------------------- scans

int32_t TDataFile::ScanWindowRecords() const noexcept {
  return static_cast<int32_t>(RunUnits(static_cast<std::size_t>(header_.recordSize)));
}

const uint8_t* TDataFile::HeldRecord(int32_t r) {
  // The cache first: it holds what this process changed and has not written.
  if (TRecord* hit = cache_.Find(r)) {
    ++stats_.cacheHits;
    cache_.Touch(hit);
    return hit->Data();
  }
  if (r < scanFirst_ || r > scanLast_) return nullptr;
  ++stats_.cacheHits;
  return scan_.data() + static_cast<std::size_t>(r - scanFirst_) * static_cast<std::size_t>(header_.recordSize);
}

const uint8_t* TDataFile::ScanRecord(int32_t r, int32_t lo, int32_t hi) {
  if (r <= 0 || r >= header_.nextRecord) Fail(LEDGER_FILECORRUPT);
  if (const uint8_t* held = HeldRecord(r)) return held;
  const std::size_t recordSize = static_cast<std::size_t>(header_.recordSize);

  ForgetScan();
  if (!owner_->StrictChangeDetection() && owner_->ReadLockAndCheckChanged()) return nullptr;
  if (r >= header_.nextRecord) Fail(LEDGER_FILECORRUPT);
  const int64_t cap = ScanWindowRecords();
  const int64_t first = std::max<int64_t>({lo, 1, int64_t{r} - cap + 1});
  const int64_t last = std::min<int64_t>({hi, int64_t{header_.nextRecord} - 1, first + cap - 1});
  scan_.resize(static_cast<std::size_t>(last - first + 1) * recordSize);
  const std::size_t got = ReadAt(DataStart() + uint64_t(first - 1) * recordSize, scan_.data(), scan_.size(),
                                 owner_->ShortReadsAllowed());
  const std::size_t whole = got / recordSize;
  ++stats_.reads;
  stats_.recordsRead += static_cast<int64_t>(whole);
  if (static_cast<std::size_t>(r - first) >= whole) Fail(LEDGER_FILECORRUPT);
  for (std::size_t i = 0; i < whole; ++i) {
    uint8_t* image = scan_.data() + i * recordSize;
    if (Encrypted()) Scramble(image, recordSize, kRecordKey);
    if (image[record_image::kStatus] != kRecordDeleted)
      PutI32(image, record_image::kLink, static_cast<int32_t>(first + static_cast<int64_t>(i)));
  }
  scanFirst_ = static_cast<int32_t>(first);
  scanLast_ = static_cast<int32_t>(first + static_cast<int64_t>(whole) - 1);
  return scan_.data() + static_cast<std::size_t>(r - first) * recordSize;
}

TRecord* TDataFile::NewRecordSlot() {
  for (int attempt = 0; attempt < 8; ++attempt) {
    bool fromChain = header_.firstFree != 0 && owner_->HasPrimaryIndex();
    int32_t slot = fromChain ? header_.firstFree : header_.nextRecord;
    TRecord* record = GetRecord(slot, TReadDirection::Forward, false);
    if (!record) continue;  // the table changed: the header is fresh now
    if (fromChain && !record->Deleted()) {
      // A free chain that leads to a live record would hand it out twice.
      ReleaseRecord(record);
      Fail(LEDGER_FILECORRUPT);
    }
    header_.firstFree = record->Deleted() ? record->Link() : 0;
    std::memset(record->Data(), 0, record->Size());
    record->SetLink(slot);
    PutI32(record->Data(), kAutoIncOffset, NextAutoIncValue());
    record->SetModified(true);
    headerModified_ = true;
    return record;
  }
  Fail(LEDGER_FILECORRUPT);
}

void TDataFile::FreeRecordSlot(TRecord* record) {
  // Freeing a slot twice would put it on the chain twice and let two new
  // records share it.
  if (record->Deleted()) Fail(LEDGER_KEYORRECDELETED);
  record->Data()[record_image::kStatus] = kRecordDeleted;
  record->SetLink(header_.firstFree != 0 && owner_->HasPrimaryIndex() ? header_.firstFree : 0);
  header_.firstFree = record->Number();
  record->SetModified(true);
  headerModified_ = true;
}

void TDataFile::FlushRecords() { FlushExcept(0, -1); }

void TDataFile::FlushExcept(int32_t windowFirst, int32_t windowLast) {
  const std::size_t recordSize = header_.recordSize;
  std::vector<TRecord*> dirty;
  cache_.Dirty(dirty, windowFirst, windowLast);
  const bool wrote = WriteDirtyRuns(
      dirty, recordSize,
      [&](const TRecord& record, uint8_t* out) {
        std::memcpy(out, record.Data(), recordSize);
        if (Encrypted()) Scramble(out, recordSize, kRecordKey);
      },
      [&](int32_t first, const uint8_t* bytes, std::size_t size, std::size_t count) {
        WriteAt(DataStart() + uint64_t(first - 1) * recordSize, bytes, size);
        ++stats_.writes;
        stats_.recordsWritten += static_cast<int64_t>(count);
      });
  if (wrote) {
    ForgetScan();
    owner_->MarkWritten();
  }
}

}  // namespace ledger
