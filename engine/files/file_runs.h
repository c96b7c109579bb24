#pragma once
// Runs: consecutive records, blocks or pages moved by one read or write.
// One run costs one system call and, on a read, one change check, so a scan
// or a flush pays little beside the copying.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ledger {

// The most bytes one run moves. file_handler.h's kCopyChunkSize is another
// thing of the same size: the largest frame of a compressed copy, which the
// copies already made fix.
inline constexpr std::size_t kRunBytes = 65536;

// How many units of unitSize bytes one run holds; at least one.
constexpr std::size_t RunUnits(std::size_t unitSize) { return std::max<std::size_t>(1, kRunBytes / unitSize); }

// Writes modified cache entries back, each run of consecutive numbers with
// one write of at most one run's bytes, and marks them clean.
// encode(entry, out) fills unitSize bytes as the file holds them;
// write(number, bytes, size, count) puts count entries from number on.
// Answers whether anything was written.
// REQUIRES: dirty sorted by number, without repeats.
template <class Entry, class Encode, class Write>
bool WriteDirtyRuns(const std::vector<Entry*>& dirty, std::size_t unitSize, Encode&& encode, Write&& write) {
  const std::size_t perWrite = RunUnits(unitSize);
  std::vector<uint8_t> buffer;
  std::size_t i = 0;
  while (i < dirty.size()) {
    std::size_t j = i + 1;
    while (j < dirty.size() && j - i < perWrite && dirty[j]->Number() == dirty[j - 1]->Number() + 1) ++j;
    buffer.resize((j - i) * unitSize);
    for (std::size_t k = i; k < j; ++k) encode(*dirty[k], buffer.data() + (k - i) * unitSize);
    write(dirty[i]->Number(), buffer.data(), buffer.size(), j - i);
    for (std::size_t k = i; k < j; ++k) dirty[k]->SetModified(false);
    i = j;
  }
  return !dirty.empty();
}

}  // namespace ledger
