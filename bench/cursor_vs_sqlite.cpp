// The cursor against SQLite on the same data in the same run: one million
// records (a 20-character string key, an integer, a Boolean) in a Ledger
// table and in a SQLite WITHOUT ROWID table keyed the same way, and a
// thousand 100 KB blobs in each; the records also in a SQLite rowid table
// with an index on the key, laid out as a Ledger table is (records in
// insertion order, the index apart). After the benchmark table, one line per
// comparison: "ratio NAME VALUE" with VALUE = Ledger time / SQLite time, and
// "gbps NAME VALUE" for the blob reads.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/public/builder.h"
#include "engine/public/cursor.h"

namespace {

using bench::Check;
using bench::TRecordingReporter;
using bench::TSqlite;

constexpr int kRecords = 1'000'000;
constexpr int kKeyLength = 20;
constexpr int kBlobs = 1000;
constexpr int kBlobBytes = 100 * 1024;
constexpr int kProbes = 1 << 16;  // random keys, positions and blobs, drawn once
// SQLite's default page cache is 2000 KiB (cache_size = -2000); the Ledger
// index cache gets the same number of bytes, its record and blob caches stay
// at their defaults.
constexpr int64_t kCacheBytes = 2000 * 1024;
constexpr int kIndexPageBytes = 4096;
// The index file keeps indexCacheBytes / 8192 pages per index slot.
constexpr int32_t kLedgerIndexCacheSetting = static_cast<int32_t>(kCacheBytes / kIndexPageBytes * 8192);

struct TWorkload : bench::TWordRecords {
  std::vector<int> probeRecords;    // indexes into keys
  std::vector<int32_t> probeRanks;  // 1-based positions in key order
  std::vector<int32_t> probeBlobs;  // 1-based blob record numbers

  TWorkload() : TWordRecords(kRecords, kKeyLength, "cursor_vs_sqlite") {
    std::uniform_int_distribution<int> record(0, kRecords - 1);
    std::uniform_int_distribution<int> blob(1, kBlobs);
    for (int i = 0; i < kProbes; ++i) {
      probeRecords.push_back(record(random));
      probeRanks.push_back(record(random) + 1);
      probeBlobs.push_back(blob(random));
    }
  }
};

TWorkload& Work() {
  static TWorkload work;
  return work;
}

// Blob i's bytes: different in every blob, cheap to make.
void FillBlob(int i, std::vector<uint8_t>& bytes) {
  bytes.resize(kBlobBytes);
  uint32_t x = 2654435761u * static_cast<uint32_t>(i);
  for (auto& b : bytes) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
}

// ---------------------------------------------------------------- SQLite

std::string SqlitePath() { return (Work().dir / "bench.sqlite").string(); }

void BuildSqlite() {
  const TWorkload& w = Work();
  std::filesystem::remove(SqlitePath());
  TSqlite s(SqlitePath());
  s.Exec("PRAGMA journal_mode=OFF");
  s.Exec("PRAGMA synchronous=OFF");
  s.Exec("CREATE TABLE words(word TEXT PRIMARY KEY, number INTEGER, flag INTEGER) WITHOUT ROWID");
  s.Exec("CREATE TABLE heap(word TEXT, number INTEGER, flag INTEGER)");
  s.Exec("CREATE TABLE blobs(id INTEGER PRIMARY KEY, data BLOB)");
  s.Exec("BEGIN");
  bench::InsertWords(s, w, "INSERT INTO words VALUES(?, ?, ?)");
  bench::InsertWords(s, w, "INSERT INTO heap VALUES(?, ?, ?)");
  s.Exec("CREATE INDEX heap_word ON heap(word)");
  sqlite3_stmt* insert = s.Prepare("INSERT INTO blobs VALUES(?, ?)");
  std::vector<uint8_t> bytes;
  for (int i = 1; i <= kBlobs; ++i) {
    FillBlob(i, bytes);
    sqlite3_bind_int(insert, 1, i);
    sqlite3_bind_blob(insert, 2, bytes.data(), kBlobBytes, SQLITE_STATIC);
    Check(sqlite3_step(insert), s.db, "insert blob");
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  s.Exec("COMMIT");
}

struct TSqliteReader {
  TSqlite s{SqlitePath()};
  sqlite3_stmt* lookup = s.Prepare("SELECT number, flag FROM words WHERE word = ?");
  sqlite3_stmt* nth = s.Prepare("SELECT word, number, flag FROM words ORDER BY word LIMIT 1 OFFSET ?");
  sqlite3_stmt* count = s.Prepare("SELECT count(*) FROM words");
  sqlite3_stmt* scanKeyOrder = s.Prepare("SELECT word, number, flag FROM words ORDER BY word");
  // A WITHOUT ROWID table is stored in key order: its plain scan is its physical order.
  sqlite3_stmt* scan = s.Prepare("SELECT word, number, flag FROM words");
  // Key order through an index that holds only the key: one row fetch per key.
  sqlite3_stmt* scanHeap = s.Prepare("SELECT word, number, flag FROM heap INDEXED BY heap_word ORDER BY word");
  ~TSqliteReader() {
    for (sqlite3_stmt* st : {lookup, nth, count, scanKeyOrder, scan, scanHeap}) sqlite3_finalize(st);
  }
};

// On a connection of its own: an open blob handle keeps a read transaction
// going, which would spare the other statements their locks and change checks.
struct TSqliteBlobReader {
  TSqlite s{SqlitePath()};
  sqlite3_blob* blob = nullptr;
  TSqliteBlobReader() { Check(sqlite3_blob_open(s.db, "main", "blobs", "data", 1, 0, &blob), s.db, "blob open"); }
  ~TSqliteBlobReader() { sqlite3_blob_close(blob); }
};

TSqliteReader& SqliteReader() {
  static TSqliteReader reader;
  return reader;
}

// A connection of its own each time: the schema is read, the first row found.
void BM_OpenFirst_SQLite(benchmark::State& state) {
  for (auto _ : state) {
    TSqlite s(SqlitePath());
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(s.db, "SELECT word, number, flag FROM words ORDER BY word LIMIT 1", -1, &st, nullptr),
          s.db, "prepare");
    if (sqlite3_step(st) != SQLITE_ROW) state.SkipWithError("no first row");
    benchmark::DoNotOptimize(sqlite3_column_text(st, 0));
    benchmark::DoNotOptimize(sqlite3_column_int(st, 1));
    benchmark::DoNotOptimize(sqlite3_column_int(st, 2));
    sqlite3_finalize(st);
  }
}

void BM_Count_SQLite(benchmark::State& state) {
  sqlite3_stmt* st = SqliteReader().count;
  for (auto _ : state) {
    if (sqlite3_step(st) != SQLITE_ROW || sqlite3_column_int64(st, 0) != kRecords)
      state.SkipWithError("wrong count");
    sqlite3_reset(st);
  }
}

void BM_Position_SQLite(benchmark::State& state) {
  const TWorkload& w = Work();
  sqlite3_stmt* st = SqliteReader().nth;
  std::size_t i = 0;
  for (auto _ : state) {
    sqlite3_bind_int64(st, 1, w.probeRanks[i++ % kProbes] - 1);
    if (sqlite3_step(st) != SQLITE_ROW) state.SkipWithError("position not found");
    benchmark::DoNotOptimize(sqlite3_column_text(st, 0));
    benchmark::DoNotOptimize(sqlite3_column_int(st, 1));
    benchmark::DoNotOptimize(sqlite3_column_int(st, 2));
    sqlite3_reset(st);
  }
}

void BM_FindKey_SQLite(benchmark::State& state) {
  const TWorkload& w = Work();
  sqlite3_stmt* st = SqliteReader().lookup;
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& key = w.keys[w.probeRecords[i++ % kProbes]];
    sqlite3_bind_text(st, 1, key.data(), kKeyLength, SQLITE_STATIC);
    if (sqlite3_step(st) != SQLITE_ROW) state.SkipWithError("key not found");
    benchmark::DoNotOptimize(sqlite3_column_int(st, 0));
    benchmark::DoNotOptimize(sqlite3_column_int(st, 1));
    sqlite3_reset(st);
  }
}

void ScanSqlite(benchmark::State& state, sqlite3_stmt* st) {
  for (auto _ : state) {
    int rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_text(st, 0));
      benchmark::DoNotOptimize(sqlite3_column_int(st, 1));
      benchmark::DoNotOptimize(sqlite3_column_int(st, 2));
      ++rows;
    }
    sqlite3_reset(st);
    if (rows != kRecords) state.SkipWithError("scan missed rows");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_ScanKeyOrder_SQLite(benchmark::State& state) { ScanSqlite(state, SqliteReader().scanKeyOrder); }
void BM_ScanPhysical_SQLite(benchmark::State& state) { ScanSqlite(state, SqliteReader().scan); }
void BM_ScanKeyOrderRowidTable_SQLite(benchmark::State& state) { ScanSqlite(state, SqliteReader().scanHeap); }

void BM_BlobRead_SQLite(benchmark::State& state) {
  const TWorkload& w = Work();
  TSqliteBlobReader reader;
  std::vector<uint8_t> out(kBlobBytes);
  std::size_t i = 0;
  for (auto _ : state) {
    Check(sqlite3_blob_reopen(reader.blob, w.probeBlobs[i++ % kProbes]), reader.s.db, "blob reopen");
    const int size = sqlite3_blob_bytes(reader.blob);
    if (size != kBlobBytes) state.SkipWithError("wrong blob size");
    Check(sqlite3_blob_read(reader.blob, out.data(), size, 0), reader.s.db, "blob read");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * kBlobBytes);
}

// ---------------------------------------------------------------- Ledger


void BuildLedger() {
  const TWorkload& w = Work();
  {
    ledger::TTableDefinition def;
    def.data.fields = {ledger::FieldDef("Word", ledger::ftString, kKeyLength), ledger::FieldDef("Number", ledger::ftInteger),
                       ledger::FieldDef("Flag", ledger::ftBoolean)};
    ledger::TIndexDefinition primary;
    primary.fields = {"Word"};
    def.primary = primary;
    ledger::TTableBuilder builder(w.dir.string(), "Words", std::move(def), ledger::TBuildTarget::NewFiles,
                                  ledger::PosixFileSystem());
    std::vector<ledger::TFieldValue> values(3);
    for (int i = 0; i < kRecords; ++i) {
      values[0] = w.keys[i];
      values[1] = int64_t{w.numbers[i]};
      values[2] = static_cast<bool>(w.flags[i]);
      builder.Append(values);
    }
    builder.Finish();
  }
  // Blocks of 4096 bytes, about the size of SQLite's pages.
  ledger::TTableDefinition def;
  def.data.fields = {ledger::FieldDef("ID", ledger::ftInteger), ledger::FieldDef("Data", ledger::ftBlob, 0, ledger::fstBinary)};
  def.data.blockSize = 4096;
  ledger::TIndexDefinition primary;
  primary.fields = {"ID"};
  def.primary = primary;
  ledger::TTableBuilder builder(w.dir.string(), "Blobs", std::move(def), ledger::TBuildTarget::NewFiles,
                                ledger::PosixFileSystem());
  std::vector<ledger::TFieldValue> values(2);
  std::vector<uint8_t> bytes;
  for (int i = 1; i <= kBlobs; ++i) {
    FillBlob(i, bytes);
    values[0] = int64_t{i};
    values[1] = bytes;
    builder.Append(values);
  }
  builder.Finish();
}

struct TLedger {
  ledger::TDataSession session{ledger::PosixFileSystem()};
  ledger::TDataDirectory* directory = nullptr;
  TLedger() {
    session.SetCacheLimits(ledger::TCacheLimits{}, kLedgerIndexCacheSetting);
    directory = &session.OpenDirectory("Bench", Work().dir.string());
  }
  ~TLedger() { session.ReleaseDirectory(*directory); }
  std::unique_ptr<ledger::TDataCursor> Open(const char* table, bool physical = false) {
    auto cursor = std::make_unique<ledger::TDataCursor>(*directory);
    cursor->SetTableName(table);
    cursor->SetNoIndex(physical);
    cursor->Open();
    return cursor;
  }
};

TLedger& Ledger() {
  static TLedger ledger;
  return ledger;
}

// The three fields of a words record, copied out as the dataset would.
struct TWordFields {
  uint8_t word[kKeyLength + 1];
  uint8_t number[8];
  uint8_t flag[8];
};

void ReadWordFields(const ledger::TDataCursor& cursor, std::span<const uint8_t> image, TWordFields& out) {
  cursor.GetField(1, image, out.word);
  cursor.GetField(2, image, out.number);
  cursor.GetField(3, image, out.flag);
  benchmark::DoNotOptimize(out);
}

// Opening the table each time: files opened and checked, the first record read.
void BM_OpenFirst_Ledger(benchmark::State& state) {
  std::vector<uint8_t> buffer;
  TWordFields fields;
  for (auto _ : state) {
    auto cursor = Ledger().Open("Words");
    buffer.resize(cursor->RecordSize());
    cursor->SetToBeginning();
    if (cursor->Next(buffer.data()) != ledger::kStatusOk) state.SkipWithError("no first record");
    ReadWordFields(*cursor, buffer, fields);
  }
}

// The remaining ones share one open cursor, as a table component keeps one.
struct TWordsCursor {
  std::unique_ptr<ledger::TDataCursor> byKey = Ledger().Open("Words");
  std::unique_ptr<ledger::TDataCursor> physical = Ledger().Open("Words", true);
};

TWordsCursor& Words() {
  static TWordsCursor words;
  return words;
}

void BM_Count_Ledger(benchmark::State& state) {
  ledger::TDataCursor& cursor = *Words().byKey;
  for (auto _ : state)
    if (cursor.RecordCount() != kRecords) state.SkipWithError("wrong count");
}

void BM_Position_Ledger(benchmark::State& state) {
  const TWorkload& w = Work();
  ledger::TDataCursor& cursor = *Words().byKey;
  TWordFields fields;
  std::size_t i = 0;
  for (auto _ : state) {
    if (!cursor.GoToPosition(w.probeRanks[i++ % kProbes])) state.SkipWithError("position not found");
    ReadWordFields(cursor, cursor.CurrentRecord(), fields);
  }
}

// The key is built from the value each time, as a lookup by field value must.
void BM_FindKey_Ledger(benchmark::State& state) {
  const TWorkload& w = Work();
  ledger::TDataCursor& cursor = *Words().byKey;
  std::vector<uint8_t> image(cursor.RecordSize());
  std::vector<uint8_t> key(cursor.ActiveIndexDescriptor().keyLength);
  std::vector<ledger::TFieldValue> values;
  for (int r : w.probeRecords) values.emplace_back(w.keys[r]);
  cursor.BlankRecord(image);
  uint8_t number[8];
  uint8_t flag[8];
  std::size_t i = 0;
  for (auto _ : state) {
    cursor.PutField(1, image, values[i++ % kProbes]);
    cursor.BuildKey(image, key.data());
    if (!cursor.FindKey(key.data(), 1)) state.SkipWithError("key not found");
    cursor.GetField(2, cursor.CurrentRecord(), number);
    cursor.GetField(3, cursor.CurrentRecord(), flag);
    benchmark::DoNotOptimize(number);
    benchmark::DoNotOptimize(flag);
  }
}

void ScanLedger(benchmark::State& state, ledger::TDataCursor& cursor) {
  std::vector<uint8_t> buffer(cursor.RecordSize());
  TWordFields fields;
  for (auto _ : state) {
    int rows = 0;
    cursor.SetToBeginning();
    while (cursor.Next(buffer.data()) == ledger::kStatusOk) {
      ReadWordFields(cursor, buffer, fields);
      ++rows;
    }
    if (rows != kRecords) state.SkipWithError("scan missed records");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_ScanKeyOrder_Ledger(benchmark::State& state) { ScanLedger(state, *Words().byKey); }

void BM_ScanPhysical_Ledger(benchmark::State& state) {
  if (!Words().physical->PhysicalOrder()) {
    state.SkipWithError("cursor not in physical order");
    return;
  }
  ScanLedger(state, *Words().physical);
}

// The whole blob straight into the caller's buffer, as SQLite's blob read gives it.
void BM_BlobRead_Ledger(benchmark::State& state) {
  const TWorkload& w = Work();
  auto cursor = Ledger().Open("Blobs");
  std::vector<uint8_t> out;
  std::size_t i = 0;
  for (auto _ : state) {
    cursor->GoToPosition(w.probeBlobs[i++ % kProbes]);
    if (cursor->ReadWholeBlob(2, cursor->CurrentRecord(), out) != 0 || out.size() != kBlobBytes) {
      state.SkipWithError("blob not read");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * kBlobBytes);
}

// ---------------------------------------------------------------- ratios

// Runs are named with their real-time suffix.
void PrintRealTimeRatio(const TRecordingReporter& r, const char* name, const std::string& ledger,
                        const std::string& sqlite) {
  bench::PrintRatio(r, name, ledger + "/real_time", sqlite + "/real_time");
}

void PrintRate(const TRecordingReporter& r, const char* name, const std::string& run) {
  auto a = r.seconds.find(run + "/real_time");
  if (a == r.seconds.end() || a->second <= 0) return;
  std::printf("gbps %s %.4g\n", name, kBlobBytes / a->second / 1e9);
}

}  // namespace

BENCHMARK(BM_OpenFirst_Ledger)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenFirst_SQLite)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Count_Ledger)->UseRealTime();
BENCHMARK(BM_Count_SQLite)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Position_Ledger)->UseRealTime();
BENCHMARK(BM_Position_SQLite)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindKey_Ledger)->UseRealTime();
BENCHMARK(BM_FindKey_SQLite)->UseRealTime();
BENCHMARK(BM_ScanKeyOrder_Ledger)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanKeyOrder_SQLite)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanKeyOrderRowidTable_SQLite)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanPhysical_Ledger)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanPhysical_SQLite)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlobRead_Ledger)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BlobRead_SQLite)->UseRealTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::printf("%d records, %d blobs of %d bytes; SQLite page cache %lld bytes (its default); "
              "Ledger index cache %lld bytes, record and blob caches at their defaults\n",
              kRecords, kBlobs, kBlobBytes, static_cast<long long>(kCacheBytes),
              static_cast<long long>(kCacheBytes / kIndexPageBytes * kIndexPageBytes));
  BuildSqlite();
  BuildLedger();
  TRecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // The console reporter ends on a colour reset; the ratio lines start clean.
  std::printf("\n");
  PrintRealTimeRatio(reporter, "open_first", "BM_OpenFirst_Ledger", "BM_OpenFirst_SQLite");
  PrintRealTimeRatio(reporter, "count", "BM_Count_Ledger", "BM_Count_SQLite");
  PrintRealTimeRatio(reporter, "position", "BM_Position_Ledger", "BM_Position_SQLite");
  PrintRealTimeRatio(reporter, "find_key", "BM_FindKey_Ledger", "BM_FindKey_SQLite");
  PrintRealTimeRatio(reporter, "scan_key_order", "BM_ScanKeyOrder_Ledger", "BM_ScanKeyOrder_SQLite");
  PrintRealTimeRatio(reporter, "scan_key_order_vs_rowid_table", "BM_ScanKeyOrder_Ledger", "BM_ScanKeyOrderRowidTable_SQLite");
  PrintRealTimeRatio(reporter, "scan_physical", "BM_ScanPhysical_Ledger", "BM_ScanPhysical_SQLite");
  PrintRealTimeRatio(reporter, "blob_read", "BM_BlobRead_Ledger", "BM_BlobRead_SQLite");
  PrintRate(reporter, "ledger_blob_read", "BM_BlobRead_Ledger");
  PrintRate(reporter, "sqlite_blob_read", "BM_BlobRead_SQLite");
  benchmark::Shutdown();
  return 0;
}
