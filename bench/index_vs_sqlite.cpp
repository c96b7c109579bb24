// One million records (a 20-character string key, an integer, a Boolean) as a
// Ledger table and as a SQLite WITHOUT ROWID table keyed the same way, built
// and searched in the same run. After the benchmark table, one line per
// comparison: "ratio NAME VALUE" with VALUE = Ledger time / SQLite time.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/public/builder.h"
#include "engine/public/table_files.h"

namespace {

using bench::Check;
using bench::TRecordingReporter;
using bench::PrintRatio;
using bench::TSqlite;

constexpr int kRecords = 1'000'000;
constexpr int kKeyLength = 20;
constexpr int kProbes = 1 << 16;  // random keys and positions, drawn once
// SQLite's default page cache is 2000 KiB (cache_size = -2000); the Ledger
// index cache gets the same number of bytes.
constexpr int64_t kCacheBytes = 2000 * 1024;

struct TWorkload : bench::TWordRecords {
  std::vector<int> probeRecords;    // indexes into keys
  std::vector<int64_t> probeRanks;  // 1-based positions in key order

  TWorkload() : TWordRecords(kRecords, kKeyLength, "index_vs_sqlite") {
    std::uniform_int_distribution<int> record(0, kRecords - 1);
    for (int i = 0; i < kProbes; ++i) {
      probeRecords.push_back(record(random));
      probeRanks.push_back(record(random) + 1);
    }
  }
};

TWorkload& Work() {
  static TWorkload work;
  return work;
}

// ---------------------------------------------------------------- SQLite

std::string SqlitePath() { return (Work().dir / "bench.sqlite").string(); }

// SQLite at its fastest for a bulk load: no journal, no syncs, one transaction.
void BuildSqlite() {
  const TWorkload& w = Work();
  std::filesystem::remove(SqlitePath());
  TSqlite s(SqlitePath());
  s.Exec("PRAGMA journal_mode=OFF");
  s.Exec("PRAGMA synchronous=OFF");
  s.Exec("CREATE TABLE words(word TEXT PRIMARY KEY, number INTEGER, flag INTEGER) WITHOUT ROWID");
  s.Exec("BEGIN");
  bench::InsertWords(s, w, "INSERT INTO words VALUES(?, ?, ?)");
  s.Exec("COMMIT");
}

struct TSqliteReader {
  TSqlite s{SqlitePath()};
  sqlite3_stmt* lookup = s.Prepare("SELECT number, flag FROM words WHERE word = ?");
  sqlite3_stmt* nth = s.Prepare("SELECT word FROM words ORDER BY word LIMIT 1 OFFSET ?");
  sqlite3_stmt* count = s.Prepare("SELECT count(*) FROM words");
  ~TSqliteReader() {
    for (sqlite3_stmt* st : {lookup, nth, count}) sqlite3_finalize(st);
  }
};

TSqliteReader& SqliteReader() {
  static TSqliteReader reader;
  return reader;
}

void BM_Build_SQLite(benchmark::State& state) {
  for (auto _ : state) BuildSqlite();
}

void BM_Lookup_SQLite(benchmark::State& state) {
  const TWorkload& w = Work();
  sqlite3_stmt* st = SqliteReader().lookup;
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& key = w.keys[w.probeRecords[i++ % kProbes]];
    sqlite3_bind_text(st, 1, key.data(), kKeyLength, SQLITE_STATIC);
    if (sqlite3_step(st) != SQLITE_ROW) state.SkipWithError("key not found");
    benchmark::DoNotOptimize(sqlite3_column_int(st, 0));
    sqlite3_reset(st);
  }
}

void BM_NthKey_SQLite(benchmark::State& state) {
  const TWorkload& w = Work();
  sqlite3_stmt* st = SqliteReader().nth;
  std::size_t i = 0;
  for (auto _ : state) {
    sqlite3_bind_int64(st, 1, w.probeRanks[i++ % kProbes] - 1);
    if (sqlite3_step(st) != SQLITE_ROW) state.SkipWithError("position not found");
    benchmark::DoNotOptimize(sqlite3_column_text(st, 0));
    sqlite3_reset(st);
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

// ---------------------------------------------------------------- Ledger

constexpr int kIndexPageBytes = 4096;
// The index file keeps SetCacheBytes / 8192 pages per index slot.
constexpr int32_t kLedgerCacheSetting = static_cast<int32_t>(kCacheBytes / kIndexPageBytes * 8192);

void BuildLedger() {
  const TWorkload& w = Work();
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) std::filesystem::remove(w.dir / (std::string("Words") + ext));
  ledger::TTableDefinition def;
  auto field = [](const char* name, uint8_t type, uint8_t size) {
    ledger::TFieldDesc f;
    f.name = name;
    f.type = type;
    f.size = size;
    return f;
  };
  def.data.fields = {field("Word", ledger::ftString, kKeyLength), field("Number", ledger::ftInteger, 0),
                     field("Flag", ledger::ftBoolean, 0)};
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

struct TLedgerReader {
  ledger::TDataFile data;
  ledger::TIndexFile index;
  TLedgerReader() {
    data.SetFileName((Work().dir / "Words.DAT").string());
    data.Open();
    index.SetFileName((Work().dir / "Words.IDX").string());
    index.Open();
    index.CheckStructure(data.Fields(), data.LocaleId());
    index.SetCacheBytes(kLedgerCacheSetting);
  }
};

TLedgerReader& LedgerReader() {
  static TLedgerReader reader;
  return reader;
}

// The probe keys as field values, made once, as SQLite binds them without copying.
const std::vector<ledger::TFieldValue>& ProbeValues() {
  static const std::vector<ledger::TFieldValue> values = [] {
    std::vector<ledger::TFieldValue> v;
    for (int r : Work().probeRecords) v.emplace_back(Work().keys[r]);
    return v;
  }();
  return values;
}

void BM_Build_Ledger(benchmark::State& state) {
  for (auto _ : state) BuildLedger();
}

void BM_Lookup_Ledger(benchmark::State& state) {
  ledger::TIndexFile& index = LedgerReader().index;
  const ledger::TKeyDef& def = index.KeyDef(0);
  std::vector<uint8_t> key(def.KeyLength());
  const std::vector<ledger::TFieldValue>& values = ProbeValues();
  std::size_t i = 0;
  for (auto _ : state) {
    def.BuildFromValues(std::span(&values[i++ % kProbes], 1), 0, key.data());
    ledger::TKeyPosition at = index.FindNotBelow(0, key.data());
    if (!at.found || def.Compare(at.key.data(), key.data()) != 0) state.SkipWithError("key not found");
    benchmark::DoNotOptimize(at.record);
  }
}

// The lookup stops at the index entry; SQLite's also returns the
// row, so this one reads the record too, through the data file's own cache.
void BM_LookupRecord_Ledger(benchmark::State& state) {
  TLedgerReader& reader = LedgerReader();
  const ledger::TKeyDef& def = reader.index.KeyDef(0);
  std::vector<uint8_t> key(def.KeyLength());
  const std::vector<ledger::TFieldValue>& values = ProbeValues();
  std::size_t i = 0;
  for (auto _ : state) {
    def.BuildFromValues(std::span(&values[i++ % kProbes], 1), 0, key.data());
    ledger::TKeyPosition at = reader.index.FindNotBelow(0, key.data());
    if (!at.found || def.Compare(at.key.data(), key.data()) != 0) state.SkipWithError("key not found");
    ledger::TRecord* record = reader.data.GetRecord(at.record);
    if (!record) {
      state.SkipWithError("record not read");
      break;
    }
    benchmark::DoNotOptimize(reader.data.GetField(*record, 2));
    reader.data.ReleaseRecord(record);
  }
}

void BM_NthKey_Ledger(benchmark::State& state) {
  const TWorkload& w = Work();
  ledger::TIndexFile& index = LedgerReader().index;
  std::size_t i = 0;
  for (auto _ : state) {
    ledger::TKeyPosition at = index.Nth(0, w.probeRanks[i++ % kProbes]);
    if (!at.found) state.SkipWithError("position not found");
    benchmark::DoNotOptimize(at.record);
  }
}

void BM_Count_Ledger(benchmark::State& state) {
  ledger::TIndexFile& index = LedgerReader().index;
  for (auto _ : state)
    if (index.TotalKeys(0) != kRecords) state.SkipWithError("wrong count");
}

// ---------------------------------------------------------------- ratios

}  // namespace

// Builds run first (the readers open what they wrote), each a few times at most.
BENCHMARK(BM_Build_Ledger)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Build_SQLite)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Lookup_Ledger)->UseRealTime();
BENCHMARK(BM_LookupRecord_Ledger)->UseRealTime();
BENCHMARK(BM_Lookup_SQLite)->UseRealTime();
BENCHMARK(BM_NthKey_Ledger)->UseRealTime();
BENCHMARK(BM_NthKey_SQLite)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Count_Ledger)->UseRealTime();
BENCHMARK(BM_Count_SQLite)->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::printf("%d records; SQLite page cache %lld bytes (its default); Ledger index cache %lld pages of %d bytes = %lld bytes, data file cache at its default\n",
              kRecords, static_cast<long long>(kCacheBytes), static_cast<long long>(kCacheBytes / kIndexPageBytes),
              kIndexPageBytes, static_cast<long long>(kCacheBytes / kIndexPageBytes * kIndexPageBytes));
  TRecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // The console reporter ends on a colour reset; the ratio lines start clean.
  std::printf("\n");
  PrintRatio(reporter, "build", "BM_Build_Ledger/iterations:2/real_time", "BM_Build_SQLite/iterations:2/real_time");
  PrintRatio(reporter, "lookup", "BM_Lookup_Ledger/real_time", "BM_Lookup_SQLite/real_time");
  PrintRatio(reporter, "lookup_with_record", "BM_LookupRecord_Ledger/real_time", "BM_Lookup_SQLite/real_time");
  PrintRatio(reporter, "nth_key_vs_offset", "BM_NthKey_Ledger/real_time", "BM_NthKey_SQLite/real_time");
  PrintRatio(reporter, "nth_key_vs_lookup", "BM_NthKey_Ledger/real_time", "BM_Lookup_SQLite/real_time");
  PrintRatio(reporter, "count", "BM_Count_Ledger/real_time", "BM_Count_SQLite/real_time");
  benchmark::Shutdown();
  return 0;
}
