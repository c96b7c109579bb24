#pragma once
// Opens an index file made of arbitrary bytes, checks it and walks every
// index the way a cursor would. Shared by the fuzz target and the test that
// replays its corpus.
//
// Input layout: one flag byte, then the index file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/errors/ledger_error.h"
#include "engine/files/file_handler.h"
#include "engine/files/index_file.h"

namespace ledger::fuzzing {

enum : uint8_t {
  kIndexLocale = 1,       // compare with the English (USA) locale
  kIndexSmallCache = 2,   // else a cache large enough to hold every page
  kIndexSkipCheck = 4,    // search without the header check first
};

inline constexpr int kMaxStepsPerIndex = 3000;

// The fields every fuzzed descriptor may name: a number, a string, a memo.
inline std::vector<TFieldDesc> IndexFuzzFields() {
  TFieldDesc n;
  n.number = 1;
  n.name = "Number";
  n.type = ftInteger;
  n.physicalSize = 4;
  n.offset = 9;
  TFieldDesc s;
  s.number = 2;
  s.name = "Word";
  s.type = ftString;
  s.size = 20;
  s.physicalSize = 20;
  s.offset = 14;
  TFieldDesc m;
  m.number = 3;
  m.name = "Note";
  m.type = ftBlob;
  m.subtype = fstMemo;
  m.size = 10;
  m.physicalSize = 20;
  m.offset = 35;
  return {n, s, m};
}

inline void WalkIndex(TIndexFile& file, int slot) {
  const int64_t total = file.TotalKeys(slot);
  for (int64_t i = 1; i <= std::min<int64_t>(total, 64); ++i) file.Nth(slot, i);
  if (total > 64) file.Nth(slot, total);
  file.Nth(slot, total + 1);
  std::vector<uint8_t> seen;
  TKeyPosition p = file.First(slot);
  for (int i = 0; p.found && i < kMaxStepsPerIndex; ++i) {
    if (i % 97 == 0) seen = p.key;
    file.ReadAheadCount(slot, p, true, 8);
    p = file.Next(slot, p);
  }
  p = file.Last(slot);
  for (int i = 0; p.found && i < kMaxStepsPerIndex; ++i) p = file.Prior(slot, p);
  if (!seen.empty()) {
    file.FindNotBelow(slot, seen.data());
    file.FindNotAbove(slot, seen.data());
    file.FindNotBelow(slot, seen.data(), static_cast<int>(seen.size() / 2));
  }
  std::vector<uint8_t> low(file.Descriptor(slot).keyLength, 0), high(low.size(), 0xFF);
  file.FindNotBelow(slot, low.data());
  file.FindNotAbove(slot, high.data());
}

inline void ReadIndex(const uint8_t* input, std::size_t size) {
  if (size < 1) return;
  const uint8_t flags = input[0];
  const std::string name = "fuzz/Index.IDX";
  {
    TFileHandler out(name, true);
    out.Create();
    if (size > 1) out.Write(input + 1, size - 1);
    out.Close();
  }
  TIndexFile file;
  file.SetFileName(name);
  file.SetInMemory(true);
  file.SetCacheBytes((flags & kIndexSmallCache) ? 16384 : 1 << 22);
  try {
    file.Open();
    file.CheckVersion();
    if (!(flags & kIndexSkipCheck)) file.CheckStructure(IndexFuzzFields(), (flags & kIndexLocale) ? 1033 : 0);
    const int slots[] = {0, 1, 2, 3, kSlotDeleted};
    for (int slot : slots) {
      if (slot != kSlotDeleted && slot > file.Header().secondaryCount) continue;
      if (!file.Descriptor(slot).Defined()) continue;
      try {
        WalkIndex(file, slot);
      } catch (const ELedgerEngineError&) {
      }
    }
  } catch (const ELedgerEngineError&) {
  }
  file.Close();
  TFileHandler gone(name, true);
  try {
    gone.Delete();
  } catch (const ELedgerEngineError&) {
  }
}

}  // namespace ledger::fuzzing
