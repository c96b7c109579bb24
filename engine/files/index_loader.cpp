#include "engine/files/index_loader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/index_key.h"
#include "engine/files/scramble.h"

namespace ledger {

namespace {
constexpr std::size_t kWriteChunk = 1 << 20;
}

void TPageWriter::Write(TPage& page) {
  if (page.Number() != nextPage_) file_.Raise(LEDGER_INDEXCORRUPT);
  std::size_t at = buffer_.size();
  buffer_.resize(at + kIndexPageSize);
  if (!page.Encode(buffer_.data() + at)) file_.Raise(LEDGER_INDEXCORRUPT);
  if (encrypted_) Scramble(buffer_.data() + at, kIndexPageSize, kRecordKey);
  ++nextPage_;
  if (buffer_.size() >= kWriteChunk) Flush();
}

void TPageWriter::Flush() {
  if (!buffer_.empty())
    file_.WriteAt(static_cast<uint64_t>(firstBuffered_) * kIndexPageSize, buffer_.data(), buffer_.size());
  buffer_.clear();
  firstBuffered_ = nextPage_;
}

int32_t TIndexLoader::Load(int slot, const TPageFormat& format,
                           const std::vector<const uint8_t*>& entries) {
  if (entries.empty()) return 0;
  std::vector<TChild> level = LoadLeaves(slot, format, entries);
  while (level.size() > 1) level = LoadBranches(slot, format, level);
  return level.front().page;
}

std::vector<TIndexLoader::TChild> TIndexLoader::LoadLeaves(
    int slot, const TPageFormat& format, const std::vector<const uint8_t*>& entries) {
  const int k = format.keyLength;
  const bool compressed = format.compression != lcNone;
  // Compressed leaves are limited by bytes, plain ones by entries.
  const int byteLimit = std::max(k + 6, static_cast<int>(std::floor(kPageDataSize * fill_)));
  const int entryLimit = std::max(1, static_cast<int>(std::floor(format.LeafCapacity() * fill_)));

  std::vector<TChild> parents;
  TPage page;
  std::size_t i = 0;
  while (i < entries.size()) {
    const int32_t number = writer_.NextPage();
    page.Reset(format, slot, number);
    page.type = ptLeaf;
    const std::size_t first = i;
    int used = 0;
    while (i < entries.size()) {
      if (!compressed && page.Count() >= entryLimit) break;
      page.Append(entries[i], GetI32(entries[i], k));
      if (compressed) {
        int size = page.EncodedEntrySize(page.Count());
        if (page.Count() > 1 && used + size > byteLimit) {
          // No way to drop the last entry, so lay the page out again without it.
          page.Reset(format, slot, number);
          page.type = ptLeaf;
          for (std::size_t j = first; j < i; ++j) page.Append(entries[j], GetI32(entries[j], k));
          break;
        }
        used += size;
      }
      ++i;
    }
    const bool last = i == entries.size();
    if (first == 0 && last) page.type = ptRootLeaf;
    page.prevPage = first == 0 ? 0 : number - 1;
    page.nextPage = last ? 0 : number + 1;
    parents.push_back({entries[first], number, static_cast<int64_t>(i - first)});
    writer_.Write(page);
  }
  return parents;
}

std::vector<TIndexLoader::TChild> TIndexLoader::LoadBranches(int slot, const TPageFormat& format,
                                                             const std::vector<TChild>& children) {
  // At least two entries a page, or the tree would never narrow to a root.
  const int entryLimit = std::max(2, static_cast<int>(std::floor(format.BranchCapacity() * fill_)));
  std::vector<TChild> parents;
  TPage page;
  std::size_t i = 0;
  while (i < children.size()) {
    const int32_t number = writer_.NextPage();
    page.Reset(format, slot, number);
    page.type = ptBranch;
    const std::size_t first = i;
    int64_t keys = 0;
    for (; i < children.size() && page.Count() < entryLimit; ++i) {
      page.Append(children[i].firstKey, children[i].page, static_cast<int32_t>(children[i].keys));
      keys += children[i].keys;
    }
    if (first == 0 && i == children.size()) page.type = ptRootBranch;
    parents.push_back({children[first].firstKey, number, keys});
    writer_.Write(page);
  }
  return parents;
}

int32_t LoadStatusIndex(TIndexLoader& loader, TIndexDesc& desc, std::span<const uint8_t> deleted,
                        std::span<const int32_t> autoInc) {
  const std::size_t records = deleted.size();
  const int stride = kDeletedKeyLength + 4;
  std::vector<uint8_t> keys(records * stride);
  std::vector<const uint8_t*> entries;
  entries.reserve(records);
  std::size_t active = 0;
  // Status 0 sorts first; within a status the auto-increment values usually
  // follow the slots already, so the sort below is mostly skipped.
  for (uint8_t status = 0; status < 2; ++status) {
    const std::size_t first = entries.size();
    for (std::size_t i = 0; i < records; ++i) {
      if ((deleted[i] != 0) != (status == 1)) continue;
      const auto r = static_cast<int32_t>(i + 1);
      uint8_t* k = keys.data() + entries.size() * stride;
      k[0] = status;
      PutKeyInt32(k + 1, autoInc.empty() ? r : autoInc[i]);
      PutI32(k, kDeletedKeyLength, r);
      entries.push_back(k);
    }
    auto less = [](const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, kDeletedKeyLength) < 0; };
    auto begin = entries.begin() + static_cast<std::ptrdiff_t>(first);
    if (!std::is_sorted(begin, entries.end(), less)) std::stable_sort(begin, entries.end(), less);
    if (status == 0) active = entries.size();
  }
  desc.rootPage = loader.Load(kSlotDeleted, TPageFormat::Of(kSlotDeleted, desc), entries);
  return static_cast<int32_t>(active);
}

}  // namespace ledger
