// Index building: the definitions checked and described, the keys sorted
// once and bulk-loaded with the record-status index into the index file.

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

#include "engine/build/table_builder_state.h"
#include "engine/files/ascii_text.h"
#include "engine/files/byte_order.h"
#include "engine/files/index_loader.h"
#include "engine/files/scramble.h"

namespace ledger {

namespace {

bool ValidIndexName(std::string_view name) {
  std::size_t b = name.find_first_not_of(' ');
  if (b == std::string_view::npos) return false;
  unsigned char c = static_cast<unsigned char>(name[b]);
  return std::isalpha(c) || c == '_' || c >= 128;
}

}  // namespace

TIndexDesc TTableBuilder::TState::Describe(const TIndexDefinition& d, bool primary) const {
  TIndexDesc desc;
  desc.name = primary ? std::string() : d.name;
  if (d.fields.size() > kMaxKeyFields) Fail(LEDGER_INDEXLIMIT);
  if (d.fields.empty()) Fail(LEDGER_INVALIDKEY);
  desc.fieldCount = static_cast<uint8_t>(d.fields.size());
  int partsSize = 0;
  for (std::size_t i = 0; i < d.fields.size(); ++i) {
    int number = data.FindField(d.fields[i]);
    if (number == 0) throw std::invalid_argument("index field " + d.fields[i] + " is not a field of the table");
    const TFieldDesc& f = fields[number - 1];
    if (f.type == ftBlob) Fail(LEDGER_SEARCHCOLREQD);
    desc.fields[i] = static_cast<uint16_t>(number);
    for (const std::string& name : d.descendingFields)
      if (AsciiUpper(name) == AsciiUpper(d.fields[i])) desc.fieldDescending[i] = 1;
    partsSize += KeyPartSize(f) + 1;
  }
  for (const std::string& name : d.descendingFields)
    if (std::none_of(d.fields.begin(), d.fields.end(),
                     [&](const std::string& f) { return AsciiUpper(f) == AsciiUpper(name); }))
      throw std::invalid_argument("descending field " + name + " is not a key field");
  if (partsSize == 0 || partsSize > kMaxKeyPartsSize) Fail(LEDGER_INVALIDKEY);
  if (d.compression > lcFull) throw std::invalid_argument("leaf compression must be 0 to 3");
  desc.descending = d.descending;
  desc.caseInsensitive = d.caseInsensitive;
  desc.unique = primary || d.unique;
  desc.compression = d.compression;
  desc.keyLength = static_cast<uint16_t>(ComputeKeyLength(desc, fields));
  return desc;
}

void TTableBuilder::TState::DefineIndexes() {
  if (def.secondary.size() > kMaxSecondaryIndexes) Fail(LEDGER_INDEXLIMIT);
  if (def.secondary.size() > 0 && !def.primary) {
    // Secondary indexes need no primary one; nothing to check here.
  }
  std::vector<std::string> names;
  auto add = [&](int slot, const TIndexDefinition& d, bool primary) {
    TIndexBuild b;
    b.slot = slot;
    b.desc = Describe(d, primary);
    b.keyDef = TKeyDef(slot, b.desc, fields, lcid);
    b.stride = b.desc.keyLength + 4;
    indexes.push_back(std::move(b));
  };
  if (def.primary) add(0, *def.primary, true);
  for (std::size_t i = 0; i < def.secondary.size(); ++i) {
    const TIndexDefinition& d = def.secondary[i];
    if (d.name.find_first_not_of(' ') == std::string::npos) Fail(LEDGER_INDEXNAMEREQUIRED);
    if (d.name.size() > 30 || !ValidIndexName(d.name)) Fail(LEDGER_INVALIDINDEXNAME);
    std::string upper = AsciiUpper(d.name);
    if (std::find(names.begin(), names.end(), upper) != names.end()) Fail(LEDGER_INDEXEXISTS);
    names.push_back(upper);
    add(static_cast<int>(i) + 1, d, false);
  }
}

std::vector<const uint8_t*> TTableBuilder::TState::SortedEntries(const TIndexBuild& index) const {
  std::vector<const uint8_t*> entries;
  entries.reserve(static_cast<std::size_t>(records));
  for (int32_t r = 0; r < records; ++r)
    if (!deleted[r]) entries.push_back(index.keys.data() + static_cast<std::size_t>(r) * index.stride);
  const TKeyDef& key = index.keyDef;
  const int k = index.desc.keyLength;
  if (key.LocaleId() == 0) {
    // Byte order: sort on the first sixteen bytes held inline, so most
    // comparisons touch no key memory at all.
    struct TSortEntry {
      uint64_t high;
      uint64_t low;
      const uint8_t* key;
    };
    std::vector<TSortEntry> sortable(entries.size());
    const int head = std::min(k, 16);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      uint64_t part[2] = {0, 0};
      for (int j = 0; j < 16; ++j) part[j / 8] = (part[j / 8] << 8) | (j < head ? entries[i][j] : 0);
      sortable[i] = {part[0], part[1], entries[i]};
    }
    const std::size_t rest = static_cast<std::size_t>(k - head);
    std::sort(sortable.begin(), sortable.end(), [head, rest](const TSortEntry& a, const TSortEntry& b) {
      if (a.high != b.high) return a.high < b.high;
      if (a.low != b.low) return a.low < b.low;
      return rest != 0 && std::memcmp(a.key + head, b.key + head, rest) < 0;
    });
    // A descending index compares the same bytes with the result negated.
    if (key.Descending()) std::reverse(sortable.begin(), sortable.end());
    for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = sortable[i].key;
  } else {
    std::sort(entries.begin(), entries.end(),
              [&key](const uint8_t* a, const uint8_t* b) { return key.Compare(a, b) < 0; });
  }
  if (index.desc.unique)
    for (std::size_t i = 1; i < entries.size(); ++i)
      if (key.Compare(entries[i - 1], entries[i]) == 0)
        RaiseError(LEDGER_KEYVIOL, {}, {}, {}, index.desc.name, {}, table, directory);
  return entries;
}

void TTableBuilder::TState::WriteIndexFile(std::vector<std::vector<const uint8_t*>>& sorted) {
  TIndexHeader header = TIndexHeader::Fresh();
  TPageWriter writer(index, encrypted);
  TIndexLoader loader(writer, def.fillFactor);
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    TIndexBuild& b = indexes[i];
    b.desc.rootPage = loader.Load(b.slot, TPageFormat::Of(b.slot, b.desc), sorted[i]);
    header.slots[b.slot] = b.desc;
    // The keys are written; give their memory back before the next index.
    std::vector<uint8_t>().swap(b.keys);
    std::vector<const uint8_t*>().swap(sorted[i]);
  }
  header.secondaryCount = static_cast<uint8_t>(def.secondary.size());
  header.noPrimary = !def.primary;

  // "Sys Deleted": the auto-increment values follow the slots in a new table.
  const int32_t active = LoadStatusIndex(loader, header.slots[kSlotDeleted], deleted, autoIncBySlot);
  writer.Flush();

  header.activeRecords = active;
  header.nextPage = writer.NextPage();
  header.changeCounter = 1;
  uint8_t raw[kIndexPageSize];
  header.Encode(raw);
  if (encrypted) Scramble(raw, sizeof raw, kRecordKey);
  index.WriteAt(0, raw, sizeof raw);
}

}  // namespace ledger
