#pragma once
// What every benchmark against SQLite shares: a thin connection wrapper and a
// reporter that keeps each run's time, so ratios can be printed after the table.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

inline void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

struct TSqlite {
  sqlite3* db = nullptr;
  explicit TSqlite(const std::string& path) { Check(sqlite3_open(path.c_str(), &db), db, "open"); }
  ~TSqlite() { sqlite3_close(db); }
  TSqlite(const TSqlite&) = delete;
  TSqlite& operator=(const TSqlite&) = delete;
  void Exec(const char* sql) { Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql); }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    Check(sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr), db, sql);
    return s;
  }
};

// The records both engines get: random keys of lower-case letters in
// insertion order (never a repeat, which a unique index would refuse), an
// integer and a Boolean each, and a scratch folder for the files. Probes are
// drawn from the same generator afterwards, so every run sees the same data.
struct TWordRecords {
  std::mt19937_64 random{20240531};
  std::vector<std::string> keys;
  std::vector<int32_t> numbers;
  std::vector<bool> flags;
  std::filesystem::path dir;

  TWordRecords(int count, int keyLength, const std::string& folderPrefix) {
    std::uniform_int_distribution<int> letter('a', 'z');
    keys.resize(count);
    for (auto& k : keys) {
      k.resize(keyLength);
      for (char& c : k) c = static_cast<char>(letter(random));
    }
    std::vector<std::string> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
      throw std::runtime_error("duplicate key drawn");
    numbers.resize(count);
    flags.resize(count);
    for (int i = 0; i < count; ++i) {
      numbers[i] = static_cast<int32_t>(random());
      flags[i] = (random() & 1) != 0;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / (folderPrefix + ".XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
    dir = pattern;
  }
  ~TWordRecords() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  TWordRecords(const TWordRecords&) = delete;
  TWordRecords& operator=(const TWordRecords&) = delete;
};

// Inserts every word record through insertSql, which takes (word, number, flag).
inline void InsertWords(TSqlite& s, const TWordRecords& w, const char* insertSql) {
  sqlite3_stmt* insert = s.Prepare(insertSql);
  for (std::size_t i = 0; i < w.keys.size(); ++i) {
    sqlite3_bind_text(insert, 1, w.keys[i].data(), static_cast<int>(w.keys[i].size()), SQLITE_STATIC);
    sqlite3_bind_int(insert, 2, w.numbers[i]);
    sqlite3_bind_int(insert, 3, w.flags[i] ? 1 : 0);
    Check(sqlite3_step(insert), s.db, "insert");
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
}

// Keeps the seconds per iteration of every run while the console shows them;
// a run that failed keeps none, so no ratio is printed for it.
class TRecordingReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred)
        seconds[run.benchmark_name()] = run.real_accumulated_time / static_cast<double>(run.iterations);
    ConsoleReporter::ReportRuns(runs);
  }
};

// "ratio NAME VALUE" with VALUE = Ledger time / SQLite time.
inline void PrintRatio(const TRecordingReporter& r, const char* name, const std::string& ledgerRun,
                       const std::string& sqliteRun) {
  auto a = r.seconds.find(ledgerRun);
  auto b = r.seconds.find(sqliteRun);
  if (a == r.seconds.end() || b == r.seconds.end() || b->second <= 0) return;
  std::printf("ratio %s %.6g\n", name, a->second / b->second);
}

}  // namespace bench
