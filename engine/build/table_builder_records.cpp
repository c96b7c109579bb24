// The data file's records: appended ones flushed in chunks, placed in key
// order from the spill file, deleted ones chained, and the header.

#include <algorithm>
#include <cstring>
#include <iterator>

#include "engine/build/table_builder_state.h"
#include "engine/files/byte_order.h"
#include "engine/files/data_header.h"
#include "engine/files/scramble.h"

namespace ledger {

void TTableBuilder::TState::FlushRecords() {
  if (recordBuffer.empty()) return;
  const uint64_t at = static_cast<uint64_t>(firstBufferedRecord - 1) * recordSize;
  if (keyOrdered) spill.WriteAt(at, recordBuffer.data(), recordBuffer.size());
  else data.WriteAt(dataStart + at, recordBuffer.data(), recordBuffer.size());
  recordBuffer.clear();
  firstBufferedRecord = records + 1;
}

// Record numbers are given out in primary-key order, deleted records among
// the live ones by their keys; ties go by append order. The index entries are
// renumbered in place, so the sorted lists that point at them stay valid.
void TTableBuilder::TState::PlaceInKeyOrder(std::vector<std::vector<const uint8_t*>>& sorted) {
  const TIndexBuild& primary = indexes.front();
  const TKeyDef& key = primary.keyDef;
  const int k = primary.desc.keyLength;
  auto appendNumber = [k](const uint8_t* entry) { return GetI32(entry, k); };
  std::vector<const uint8_t*> gone;
  for (int32_t r : deletionOrder) gone.push_back(primary.keys.data() + static_cast<std::size_t>(r - 1) * primary.stride);
  auto before = [&](const uint8_t* a, const uint8_t* b) {
    const int c = key.Compare(a, b);
    return c != 0 ? c < 0 : appendNumber(a) < appendNumber(b);
  };
  std::sort(gone.begin(), gone.end(), before);
  std::vector<const uint8_t*> order;
  order.reserve(static_cast<std::size_t>(records));
  std::merge(sorted.front().begin(), sorted.front().end(), gone.begin(), gone.end(), std::back_inserter(order),
             before);

  std::vector<int32_t> slotOf(static_cast<std::size_t>(records));
  autoIncBySlot.resize(static_cast<std::size_t>(records));
  std::vector<uint8_t> deletedBySlot(static_cast<std::size_t>(records));
  for (std::size_t i = 0; i < order.size(); ++i) {
    const int32_t was = appendNumber(order[i]);
    slotOf[static_cast<std::size_t>(was - 1)] = static_cast<int32_t>(i + 1);
    autoIncBySlot[i] = was;
    deletedBySlot[i] = deleted[static_cast<std::size_t>(was - 1)];
  }
  deleted.swap(deletedBySlot);
  for (int32_t& r : deletionOrder) r = slotOf[static_cast<std::size_t>(r - 1)];
  for (TIndexBuild& index : indexes)
    for (std::size_t at = 0; at < index.keys.size(); at += index.stride) {
      uint8_t* number = index.keys.data() + at + index.desc.keyLength;
      PutI32(number, 0, slotOf[static_cast<std::size_t>(GetI32(number, 0) - 1)]);
    }

  // The spill is read whole when it is of a size memory takes easily, a
  // record at a time otherwise.
  constexpr uint64_t kWholeSpill = 256ull << 20;
  const uint64_t spillSize = static_cast<uint64_t>(records) * recordSize;
  std::vector<uint8_t> whole;
  if (spillSize <= kWholeSpill) {
    whole.resize(static_cast<std::size_t>(spillSize));
    spill.ReadAt(0, whole.data(), whole.size());
  }
  recordBuffer.clear();
  uint64_t written = 0;
  auto flush = [&] {
    data.WriteAt(dataStart + written, recordBuffer.data(), recordBuffer.size());
    written += recordBuffer.size();
    recordBuffer.clear();
  };
  for (std::size_t i = 0; i < order.size(); ++i) {
    // The entries are renumbered already: the append number is kept apart.
    const uint64_t from = static_cast<uint64_t>(autoIncBySlot[i] - 1) * recordSize;
    const std::size_t at = recordBuffer.size();
    recordBuffer.resize(at + recordSize);
    uint8_t* image = recordBuffer.data() + at;
    if (whole.empty()) spill.ReadAt(from, image, static_cast<std::size_t>(recordSize));
    else std::memcpy(image, whole.data() + from, static_cast<std::size_t>(recordSize));
    if (encrypted) Scramble(image, static_cast<std::size_t>(recordSize), kRecordKey);
    PutI32(image, 1, static_cast<int32_t>(i + 1));
    if (encrypted) Scramble(image, static_cast<std::size_t>(recordSize), kRecordKey);
    if (recordBuffer.size() >= kWriteChunk) flush();
  }
  flush();
  spill.Close();
}

void TTableBuilder::TState::ApplyDeletions() {
  int32_t firstFree = 0;
  std::vector<uint8_t> image(static_cast<std::size_t>(recordSize));
  for (int32_t r : deletionOrder) {
    const uint64_t at = dataStart + static_cast<uint64_t>(r - 1) * recordSize;
    data.ReadAt(at, image.data(), image.size());
    if (encrypted) Scramble(image.data(), image.size(), kRecordKey);
    image[record_image::kStatus] = kRecordDeleted;
    // A table without primary index keeps insertion order and never reuses slots.
    PutI32(image.data(), record_image::kLink, def.primary ? firstFree : 0);
    firstFree = r;
    if (encrypted) Scramble(image.data(), image.size(), kRecordKey);
    data.WriteAt(at, image.data(), image.size());
  }
  WriteDataHeader(firstFree);
}

void TTableBuilder::TState::WriteDataHeader(int32_t firstFree) {
  uint8_t raw[kDataHeaderSize];
  data.ReadAt(0, raw, sizeof raw);
  TDataHeader h;
  DecodeDataHeader(raw, h);
  h.changeCounter += 1;
  h.firstFree = firstFree;
  h.nextRecord = records + 1;
  h.lastAutoInc = records;
  h.lastBlobId = lastBlobId;
  h.engineVersion = kEngineVersion;
  h.lastWrite = LastWriteStamp(system->Now());
  h.modifiedMark = 0;
  EncodeDataHeader(h, raw);
  data.WriteAt(0, raw, sizeof raw);
}

}  // namespace ledger
