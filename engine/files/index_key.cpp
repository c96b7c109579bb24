#include "engine/files/index_key.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "engine/files/bit_cast.h"
#include "engine/files/byte_order.h"
#include "engine/files/locale_order.h"

namespace ledger {

namespace {

void PutBig(uint8_t* out, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out[i] = static_cast<uint8_t>(v);
    v >>= 8;
  }
}

// Units of 1/10000, rounded half away from zero, saturating.
int64_t BcdToUnits(const TBcd& bcd) {
  std::string text = BcdToText(bcd);
  bool negative = !text.empty() && text[0] == '-';
  std::size_t i = negative ? 1 : 0;
  __int128 units = 0;
  int places = -1;
  bool roundUp = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' || c == ',') {
      places = 0;
      continue;
    }
    if (c < '0' || c > '9') break;
    if (places >= 4) {
      if (places == 4) roundUp = c >= '5';
      ++places;
      continue;
    }
    if (units < (static_cast<__int128>(1) << 100)) units = units * 10 + (c - '0');
    if (places >= 0) ++places;
  }
  for (int p = places < 0 ? 0 : places; p < 4; ++p) units *= 10;
  if (roundUp) ++units;
  if (negative) units = -units;
  if (units > std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max();
  if (units < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(units);
}

template <class T>
T Get(const TFieldValue& v) {
  if (const T* p = std::get_if<T>(&v)) return *p;
  throw std::invalid_argument("key field value of the wrong kind");
}

int Sign(int c) { return (c > 0) - (c < 0); }

int CompareBytes(const uint8_t* a, const uint8_t* b, int n) {
  return n <= 0 ? 0 : Sign(std::memcmp(a, b, static_cast<std::size_t>(n)));
}

}  // namespace

void PutKeyInt32(uint8_t* out, int32_t value) {
  PutBig(out, static_cast<uint32_t>(value) ^ 0x80000000u, 4);
}

int32_t RecordAutoInc(std::span<const uint8_t> image) {
  return image.size() >= kRecordHeaderSize ? GetI32(image.data(), kAutoIncOffset) : 0;
}

TKeyDef::TKeyDef(int slot, const TIndexDesc& desc, const std::vector<TFieldDesc>& fields, uint32_t lcid)
    : slot_(slot),
      keyLength_(desc.keyLength),
      unique_(desc.unique),
      descending_(desc.descending),
      caseInsensitive_(desc.caseInsensitive),
      lcid_((lcid & 0xFFFF) == 0 ? 0 : lcid) {
  if (slot == kSlotDeleted || slot == kSlotText) return;
  int n = desc.fieldCount > kMaxKeyFields ? kMaxKeyFields : desc.fieldCount;
  for (int i = 0; i < n; ++i) {
    uint16_t number = desc.fields[i];
    if (number == 0 || number > fields.size()) throw std::invalid_argument("key field missing");
    const TFieldDesc& f = fields[number - 1];
    if (f.type == ftBlob) throw std::invalid_argument("blob key field");
    parts_.push_back({f, KeyPartSize(f), desc.fieldDescending[i] != 0});
  }
}

void TKeyDef::PutPart(const TPart& part, const TFieldValue& value, uint8_t* out) const {
  std::memset(out, 0, static_cast<std::size_t>(part.size) + 1);
  bool present = !std::holds_alternative<std::monostate>(value);
  out[0] = present ? 1 : 0;
  uint8_t* v = out + 1;
  if (present) {
    switch (part.field.type) {
      case ftString: {
        std::string s = Get<std::string>(value);
        if (caseInsensitive_) s = MapCase(s, ccUpper, lcid_ ? lcid_ : 1033);
        std::size_t len = std::min<std::size_t>(s.size(), static_cast<std::size_t>(part.size - 1));
        std::memcpy(v, s.data(), len);
        if (void* z = std::memchr(v, 0, len)) std::memset(z, 0, len - (static_cast<uint8_t*>(z) - v));
        break;
      }
      case ftDate:
      case ftInteger:
      case ftTime: PutKeyInt32(v, static_cast<int32_t>(Get<int64_t>(value))); break;
      case ftSmallInt:
        PutBig(v, static_cast<uint16_t>(static_cast<int16_t>(Get<int64_t>(value))) ^ 0x8000u, 2);
        break;
      case ftBoolean: {
        bool b = std::holds_alternative<bool>(value) ? std::get<bool>(value) : Get<int64_t>(value) != 0;
        PutBig(v, b ? 1 : 0, 2);
        break;
      }
      case ftWord: PutBig(v, static_cast<uint16_t>(Get<int64_t>(value)), 2); break;
      case ftLargeInt:
        PutBig(v, static_cast<uint64_t>(Get<int64_t>(value)) ^ 0x8000000000000000ull, 8);
        break;
      case ftBCD:
        PutBig(v, static_cast<uint64_t>(BcdToUnits(Get<TBcd>(value))) ^ 0x8000000000000000ull, 8);
        break;
      case ftFloat:
      case ftTimeStamp: {
        uint64_t bits = BitCast<uint64_t>(Get<double>(value));
        bits = (bits >> 63) ? ~bits : bits | 0x8000000000000000ull;
        PutBig(v, bits, 8);
        break;
      }
      case ftLongWord: PutU32(v, 0, static_cast<uint32_t>(Get<int64_t>(value))); break;
      default: {
        const auto& bytes = Get<std::vector<uint8_t>>(value);
        std::memcpy(v, bytes.data(), std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(part.size)));
        break;
      }
    }
  }
  if (lcid_ == 0 && part.descending && !descending_) {
    int last = part.field.type == ftString ? part.size : part.size + 1;
    for (int i = 0; i < last; ++i) out[i] = static_cast<uint8_t>(~out[i]);
  }
}

void TKeyDef::Build(std::span<const uint8_t> image, uint8_t* key) const {
  std::memset(key, 0, static_cast<std::size_t>(keyLength_));
  uint8_t* out = key;
  for (const TPart& part : parts_) {
    TFieldValue value;
    if (part.field.IsAutoInc()) {
      value = int64_t{RecordAutoInc(image)};
    } else if (part.field.type != ftString && part.field.type != ftDate && part.field.type != ftInteger &&
               part.field.type != ftTime && part.field.type != ftSmallInt && part.field.type != ftBoolean &&
               part.field.type != ftWord && part.field.type != ftLargeInt && part.field.type != ftBCD &&
               part.field.type != ftFloat && part.field.type != ftTimeStamp) {
      // Stored bytes unchanged.
      if (!FieldFits(part.field, image.size())) throw std::out_of_range("field outside the record image");
      const uint8_t* p = image.data() + part.field.offset;
      if (p[0] != 0) value = std::vector<uint8_t>(p + 1, p + 1 + part.size);
    } else {
      value = ReadValue(image, part.field);
    }
    if (part.field.type == ftLongWord && !std::holds_alternative<std::monostate>(value)) {
      // Keep the stored byte order for the "other" types.
      value = std::vector<uint8_t>(image.data() + part.field.offset + 1,
                                   image.data() + part.field.offset + 1 + part.size);
    }
    PutPart(part, value, out);
    out += part.size + 1;
  }
  if (!unique_) PutKeyInt32(out, RecordAutoInc(image));
}

void TKeyDef::BuildFromValues(std::span<const TFieldValue> values, int32_t autoInc, uint8_t* key) const {
  std::memset(key, 0, static_cast<std::size_t>(keyLength_));
  uint8_t* out = key;
  for (std::size_t i = 0; i < parts_.size(); ++i) {
    TFieldValue v = i < values.size() ? values[i] : TFieldValue{};
    if (parts_[i].field.type == ftLongWord && std::holds_alternative<int64_t>(v)) {
      std::vector<uint8_t> b(4);
      PutU32(b.data(), 0, static_cast<uint32_t>(std::get<int64_t>(v)));
      v = b;
    }
    PutPart(parts_[i], v, out);
    out += parts_[i].size + 1;
  }
  if (!unique_) PutKeyInt32(out, autoInc);
}

int TKeyDef::Compare(const uint8_t* a, const uint8_t* b, int n) const {
  if (n > keyLength_) n = keyLength_;
  if (slot_ == kSlotDeleted) return CompareBytes(a, b, n);
  if (slot_ == kSlotText) {
    if (int c = CompareBytes(a, b, std::min(n, 3))) return c;
    if (n <= 3) return 0;
    int w = std::min(n - 3, 61);
    if (int c = LocaleCompare(lcid_, std::string_view(reinterpret_cast<const char*>(a + 3), w),
                              std::string_view(reinterpret_cast<const char*>(b + 3), w)))
      return c;
    return CompareBytes(a + 64, b + 64, n - 64);
  }
  if (lcid_ == 0) {
    int c = CompareBytes(a, b, n);
    return descending_ ? -c : c;
  }
  int pos = 0;
  for (const TPart& part : parts_) {
    if (pos >= n) return 0;
    int remaining = n - pos;
    int c;
    if (part.field.type == ftString) {
      c = Sign(static_cast<int>(a[pos]) - static_cast<int>(b[pos]));
      if (c == 0 && remaining > 1) {
        int w = std::min(part.size, remaining - 1);
        c = LocaleCompare(lcid_, std::string_view(reinterpret_cast<const char*>(a + pos + 1), w),
                          std::string_view(reinterpret_cast<const char*>(b + pos + 1), w));
      }
    } else {
      c = CompareBytes(a + pos, b + pos, std::min(part.size + 1, remaining));
    }
    if (c != 0) return (descending_ || part.descending) ? -c : c;
    pos += part.size + 1;
  }
  int c = CompareBytes(a + pos, b + pos, n - pos);
  return descending_ ? -c : c;
}

}  // namespace ledger
