#include "engine/files/index_header.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "engine/files/ascii_text.h"
#include "engine/files/byte_order.h"

namespace ledger {

void TIndexDesc::Encode(uint8_t* out) const {
  using namespace index_desc;
  std::memset(out, 0, kDescriptorSize);
  std::size_t len = std::min<std::size_t>(name.size(), kNameChars);
  out[kName] = static_cast<uint8_t>(len);
  std::memcpy(out + kName + 1, name.data(), len);
  PutU16(out, kKeyLength, keyLength);
  out[kDescending] = descending;
  out[kCaseInsensitive] = caseInsensitive;
  out[kUnique] = unique;
  out[kCompression] = compression;
  out[kFieldCount] = fieldCount;
  for (int i = 0; i < kMaxKeyFields; ++i) {
    out[kFieldDescending + i] = fieldDescending[i];
    PutU16(out, kFields + 2 * i, fields[i]);
  }
  PutI32(out, kRootPage, rootPage);
  PutI32(out, kFirstFreePage, firstFreePage);
  PutI32(out, kParamPage, paramPage);
  out[kNoCounts] = noCounts;
  out[kBeingBuilt] = beingBuilt;
}

TIndexDesc TIndexDesc::Decode(const uint8_t* in) {
  using namespace index_desc;
  TIndexDesc d;
  std::size_t len = std::min<std::size_t>(in[kName], kNameChars);
  d.name.assign(reinterpret_cast<const char*>(in + kName + 1), len);
  d.keyLength = GetU16(in, kKeyLength);
  d.descending = in[kDescending] != 0;
  d.caseInsensitive = in[kCaseInsensitive] != 0;
  d.unique = in[kUnique] != 0;
  d.compression = in[kCompression];
  d.fieldCount = in[kFieldCount];
  for (int i = 0; i < kMaxKeyFields; ++i) {
    d.fieldDescending[i] = in[kFieldDescending + i];
    d.fields[i] = GetU16(in, kFields + 2 * i);
  }
  d.rootPage = GetI32(in, kRootPage);
  d.firstFreePage = GetI32(in, kFirstFreePage);
  d.paramPage = GetI32(in, kParamPage);
  d.noCounts = in[kNoCounts] != 0;
  d.beingBuilt = in[kBeingBuilt] != 0;
  return d;
}

TIndexHeader TIndexHeader::Fresh() {
  TIndexHeader h;
  TIndexDesc& del = h.slots[kSlotDeleted];
  del.name = "Sys Deleted";
  del.keyLength = kDeletedKeyLength;
  del.unique = true;
  TIndexDesc& text = h.slots[kSlotText];
  text.name = "Sys Text";
  text.keyLength = kTextKeyLength;
  text.unique = true;
  text.compression = lcFull;
  return h;
}

void TIndexHeader::Encode(uint8_t* out) const {
  using namespace index_header;
  std::memset(out, 0, kIndexPageSize);
  PutI32(out, kChangeCounter, changeCounter);
  out[kVersion] = version;
  PutI32(out, kNextPage, nextPage);
  out[kSecondaryCount] = secondaryCount;
  for (int i = 0; i < kIndexSlots; ++i) slots[i].Encode(out + kDescriptors + kDescriptorSize * i);
  PutI32(out, kActiveRecords, activeRecords);
  out[kNoPrimary] = noPrimary;
  out[kModifiedMark] = modifiedMark;
}

TIndexHeader TIndexHeader::Decode(const uint8_t* in) {
  using namespace index_header;
  TIndexHeader h;
  h.changeCounter = GetI32(in, kChangeCounter);
  h.version = in[kVersion];
  h.nextPage = GetI32(in, kNextPage);
  h.secondaryCount = in[kSecondaryCount];
  for (int i = 0; i < kIndexSlots; ++i) {
    const uint8_t* desc = in + kDescriptors + kDescriptorSize * i;
    // Most slots are unused and all zero, which decodes to the default: every
    // cursor open reads this header, so skip building what is already there.
    static constexpr uint8_t kUnused[kDescriptorSize] = {};
    if (std::memcmp(desc, kUnused, kDescriptorSize) == 0) continue;
    h.slots[i] = TIndexDesc::Decode(desc);
  }
  h.activeRecords = GetI32(in, kActiveRecords);
  h.noPrimary = in[kNoPrimary] != 0;
  h.modifiedMark = in[kModifiedMark] != 0;
  return h;
}

int KeyPartSize(const TFieldDesc& field) {
  switch (field.type) {
    case ftString: return field.size + 1;
    case ftDate:
    case ftInteger:
    case ftTime: return 4;
    case ftSmallInt:
    case ftBoolean:
    case ftWord: return 2;
    case ftLargeInt:
    case ftBCD:
    case ftFloat:
    case ftTimeStamp: return 8;
    case ftBlob: return 0;
    default: return std::max(PhysicalSizeOf(field.type, field.size), 0);
  }
}

namespace {

const TFieldDesc* FieldByNumber(const std::vector<TFieldDesc>& fields, uint16_t number) {
  if (number == 0 || number > fields.size()) return nullptr;
  return &fields[number - 1];
}

std::string Upper(const std::string& s) { return AsciiUpper(TrimSpaces(s)); }

bool ValidPage(int32_t p, int32_t nextPage) { return p == 0 || (p >= 1 && p < nextPage); }

}  // namespace

int ComputeKeyLength(const TIndexDesc& desc, const std::vector<TFieldDesc>& fields) {
  int sum = 0;
  for (int i = 0; i < desc.fieldCount && i < kMaxKeyFields; ++i) {
    const TFieldDesc* f = FieldByNumber(fields, desc.fields[i]);
    if (!f) return -1;
    sum += KeyPartSize(*f) + 1;
  }
  return desc.unique ? sum : sum + 4;
}

std::string CheckIndexHeader(const TIndexHeader& h, const std::vector<TFieldDesc>& fields) {
  if (h.secondaryCount > kMaxSecondaryIndexes) return "too many secondary indexes";
  if (h.nextPage < 1) return "next page number below 1";
  auto checkSlot = [&](int i) -> std::string {
    const TIndexDesc& d = h.slots[i];
    std::string where = "index slot " + std::to_string(i) + ": ";
    if (i == 0) {
      if (!d.name.empty()) return where + "primary index with a name";
      if (!h.noPrimary && !d.unique) return where + "primary index not unique";
    } else if (i <= kMaxSecondaryIndexes) {
      std::string up = Upper(d.name);
      unsigned char c0 = up.empty() ? 0 : static_cast<unsigned char>(up[0]);
      if (!(std::isalpha(c0) || c0 == '_' || c0 >= 128)) return where + "invalid index name";
      for (int j = 1; j < i; ++j)
        if (Upper(h.slots[j].name) == up) return where + "duplicate index name";
    }
    if (d.fieldCount > kMaxKeyFields) return where + "more than 16 key fields";
    bool gap = false;
    for (int k = 0; k < kMaxKeyFields; ++k) {
      if (d.fields[k] == 0) gap = true;
      else if (gap) return where + "gap in the key field list";
    }
    int sum = 0;
    for (int k = 0; k < d.fieldCount; ++k) {
      const TFieldDesc* f = FieldByNumber(fields, d.fields[k]);
      if (!f) return where + "key field missing";
      if (i == kSlotText) {
        if (f->type != ftString && !(f->type == ftBlob && f->subtype == fstMemo))
          return where + "text index over a field that is not text";
      } else if (f->type == ftBlob) {
        return where + "blob key field";
      }
      sum += KeyPartSize(*f) + 1;
    }
    // Later field slots beyond the count must be unused too.
    for (int k = d.fieldCount; k < kMaxKeyFields; ++k)
      if (d.fields[k] != 0) return where + "key field beyond the field count";
    bool fieldless = (i == 0 && h.noPrimary) || i == kSlotText;
    if (sum > kMaxKeyPartsSize) return where + "key too long";
    if (sum == 0 && !fieldless) return where + "key without fields";
    if (i != kSlotText && !(i == 0 && sum == 0)) {
      int expected = d.unique ? sum : sum + 4;
      if (d.keyLength != expected) return where + "key length does not match the fields";
    }
    if (d.compression > lcFull) return where + "unknown leaf compression";
    if (!ValidPage(d.rootPage, h.nextPage) || !ValidPage(d.firstFreePage, h.nextPage) ||
        !ValidPage(d.paramPage, h.nextPage))
      return where + "page number outside the file";
    return {};
  };
  for (int i = 0; i <= h.secondaryCount; ++i)
    if (std::string e = checkSlot(i); !e.empty()) return e;
  const TIndexDesc& del = h.slots[kSlotDeleted];
  if (del.keyLength != kDeletedKeyLength || !ValidPage(del.rootPage, h.nextPage) ||
      !ValidPage(del.firstFreePage, h.nextPage) || del.compression > lcFull)
    return "index slot 31: bad descriptor";
  if (std::string e = checkSlot(kSlotText); !e.empty()) return e;
  if (h.slots[kSlotText].keyLength != kTextKeyLength) return "index slot 32: bad key length";
  return {};
}

}  // namespace ledger
