#include "engine/files/value.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "engine/files/ascii_text.h"
#include "engine/files/byte_order.h"
#include "engine/files/locale_services.h"

namespace ledger {

int PhysicalSizeOf(uint8_t type, uint8_t declaredSize) {
  switch (type) {
    case ftString: return declaredSize + 1;
    case ftDate: return 4;
    case ftBlob: return blob_ref::kSize;
    case ftBoolean: return 2;
    case ftSmallInt: return 2;
    case ftInteger: return 4;
    case ftFloat: return 8;
    case ftBCD: return 34;
    case ftBytes: return declaredSize;
    case ftTime: return 4;
    case ftTimeStamp: return 8;
    case ftWord: return 2;
    case ftLongWord: return 4;
    case ftVarBytes: return declaredSize;
    case ftLargeInt: return 8;
    default: return -1;
  }
}

bool FieldFits(const TFieldDesc& desc, std::size_t imageSize) {
  int size = PhysicalSizeOf(desc.type, desc.size);
  if (size < 0) return false;
  if (desc.IsAutoInc()) return imageSize >= kAutoIncOffset + 4;
  return desc.offset >= kRecordHeaderSize &&
         std::size_t{desc.offset} + 1 + static_cast<std::size_t>(size) <= imageSize;
}

// ---------------------------------------------------------------- BCD

bool BcdFromText(std::string_view text, TBcd& out) {
  out = TBcd{};
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::string digits;
  int places = 0;
  bool point = false, any = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      any = true;
      if (digits.empty() && c == '0' && !point) continue;  // leading zeros
      digits.push_back(c);
      if (point) ++places;
    } else {
      return false;
    }
  }
  if (!any || digits.size() > 64 || places > 63) return false;
  if (digits.empty()) digits = "0";
  out.precision = static_cast<uint8_t>(digits.size());
  out.signSpecialPlaces = static_cast<uint8_t>(places | (negative ? 0x80 : 0));
  for (std::size_t d = 0; d < digits.size(); ++d) {
    uint8_t v = static_cast<uint8_t>(digits[d] - '0');
    out.fraction[d / 2] |= (d % 2 == 0) ? static_cast<uint8_t>(v << 4) : v;
  }
  return true;
}

std::string BcdToText(const TBcd& bcd) {
  int precision = std::min<int>(bcd.precision, 64);
  int places = std::min(bcd.signSpecialPlaces & 0x3F, precision);
  std::string digits;
  for (int d = 0; d < precision; ++d) {
    uint8_t byte = bcd.fraction[d / 2];
    int v = (d % 2 == 0) ? byte >> 4 : byte & 0x0F;
    digits.push_back(static_cast<char>('0' + std::min(v, 9)));
  }
  std::string whole = digits.substr(0, digits.size() - places);
  std::string frac = digits.substr(digits.size() - places);
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  if (whole.empty()) whole = "0";
  std::string text = whole;
  if (!frac.empty()) text += "." + frac;
  bool zero = text.find_first_not_of("0.") == std::string::npos;
  if ((bcd.signSpecialPlaces & 0x80) && !zero) text.insert(0, "-");
  return text;
}

// ---------------------------------------------------------------- dates

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

int32_t EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return 0;
  int y = year - 1;
  int32_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days + day;
}

bool DecodeDate(int32_t dayNumber, int& year, int& month, int& day) {
  if (dayNumber < 1 || dayNumber > EncodeDate(9999, 12, 31)) return false;
  int32_t n = dayNumber - 1;
  int y = 1;
  int32_t cycles = n / 146097;  // 400-year cycles
  y += cycles * 400;
  n -= cycles * 146097;
  while (n >= (IsLeap(y) ? 366 : 365)) {
    n -= IsLeap(y) ? 366 : 365;
    ++y;
  }
  int m = 1;
  while (n >= DaysInMonth(y, m)) n -= DaysInMonth(y, m++);
  year = y;
  month = m;
  day = n + 1;
  return true;
}

// ---------------------------------------------------------------- locale

std::string LocaleName(uint32_t lcid) {
  if ((lcid & 0xFFFF) == 0) return "en_US";
  return locale_services::NameOf(lcid);
}

bool IsLocaleInstalled(uint32_t lcid) {
  std::string name = LocaleName(lcid);
  return !name.empty() && locale_services::HasCollator(name);
}

std::string MapCase(std::string_view latin1, uint8_t charCase, uint32_t lcid) {
  if (charCase != ccLower && charCase != ccUpper) return std::string(latin1);
  std::u16string units(latin1.size(), u'\0');
  for (std::size_t i = 0; i < latin1.size(); ++i) units[i] = static_cast<unsigned char>(latin1[i]);
  locale_services::MapCase(LocaleName(lcid), units, charCase == ccUpper);
  // The result keeps its length; a character whose counterpart lies outside
  // the single-byte range stays as it was.
  std::string out(latin1);
  for (std::size_t i = 0; i < out.size(); ++i)
    if (units[i] < 256) out[i] = static_cast<char>(units[i]);
  return out;
}

// ---------------------------------------------------------------- values

namespace {

template <class T>
T ExpectAlt(const TFieldValue& value, const char* what) {
  if (const T* p = std::get_if<T>(&value)) return *p;
  throw std::invalid_argument(std::string("field value is not ") + what);
}

int64_t ExpectInt(const TFieldValue& value, int64_t lo, int64_t hi) {
  int64_t v = ExpectAlt<int64_t>(value, "an integer");
  if (v < lo || v > hi) throw std::invalid_argument("integer out of the field's range");
  return v;
}

}  // namespace

TFieldValue ReadValue(std::span<const uint8_t> image, const TFieldDesc& desc) {
  if (!FieldFits(desc, image.size())) throw std::out_of_range("field outside the record image");
  if (desc.IsAutoInc()) return int64_t{GetI32(image.data() + kAutoIncOffset)};
  const uint8_t* p = image.data() + desc.offset;
  if (p[0] == 0) return std::monostate{};
  const uint8_t* v = p + 1;
  int size = PhysicalSizeOf(desc.type, desc.size);
  switch (desc.type) {
    case ftString: {
      const uint8_t* end = static_cast<const uint8_t*>(std::memchr(v, 0, size));
      return std::string(reinterpret_cast<const char*>(v), end ? end - v : size);
    }
    case ftDate:
    case ftTime:
    case ftInteger: return int64_t{GetI32(v)};
    case ftBlob: return TBlobRef{GetI32(v, blob_ref::kFirstBlock), GetI32(v, blob_ref::kBlobId)};
    case ftBoolean: return GetU16(v) != 0;
    case ftSmallInt: return int64_t{GetI16(v)};
    case ftFloat:
    case ftTimeStamp: return GetF64(v);
    case ftBCD: {
      TBcd bcd;
      bcd.precision = v[0];
      bcd.signSpecialPlaces = v[1];
      std::memcpy(bcd.fraction.data(), v + 2, 32);
      return bcd;
    }
    case ftBytes:
    case ftVarBytes: return std::vector<uint8_t>(v, v + size);
    case ftWord: return int64_t{GetU16(v)};
    case ftLongWord: return int64_t{GetU32(v)};
    case ftLargeInt: return GetI64(v);
  }
  return std::monostate{};
}

void WriteValue(std::span<uint8_t> image, const TFieldDesc& desc, const TFieldValue& value,
                uint32_t lcid) {
  if (!FieldFits(desc, image.size())) throw std::out_of_range("field outside the record image");
  if (desc.IsAutoInc()) {
    int64_t v = std::holds_alternative<std::monostate>(value)
                    ? 0
                    : ExpectInt(value, std::numeric_limits<int32_t>::min(),
                                std::numeric_limits<int32_t>::max());
    PutI32(image.data() + kAutoIncOffset, 0, static_cast<int32_t>(v));
    return;
  }
  int size = PhysicalSizeOf(desc.type, desc.size);
  uint8_t* p = image.data() + desc.offset;
  uint8_t* v = p + 1;
  std::memset(p, 0, static_cast<std::size_t>(size) + 1);
  if (std::holds_alternative<std::monostate>(value)) return;
  bool present = true;
  switch (desc.type) {
    case ftString: {
      std::string s = ExpectAlt<std::string>(value, "a string");
      s.erase(s.find_last_not_of(' ') + 1);
      // Characters after an embedded zero could never be read back.
      s.erase(std::min(s.find('\0'), s.size()));
      s = MapCase(s, desc.charCase, lcid);
      if (s.size() > desc.size) s.resize(desc.size);
      if (!s.empty()) std::memcpy(v, s.data(), s.size());
      present = !s.empty();
      break;
    }
    case ftDate:
      PutI32(v, 0, static_cast<int32_t>(ExpectInt(value, 1, EncodeDate(9999, 12, 31))));
      break;
    case ftTime: PutI32(v, 0, static_cast<int32_t>(ExpectInt(value, 0, 86399999))); break;
    case ftInteger:
      PutI32(v, 0, static_cast<int32_t>(ExpectInt(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max())));
      break;
    case ftBlob: {
      TBlobRef ref = ExpectAlt<TBlobRef>(value, "a blob reference");
      PutI32(v, blob_ref::kFirstBlock, ref.firstBlock);
      PutI32(v, blob_ref::kBlobId, ref.blobId);
      present = ref.firstBlock != 0;
      break;
    }
    case ftBoolean: PutU16(v, 0, ExpectAlt<bool>(value, "a Boolean") ? 1 : 0); break;
    case ftSmallInt:
      PutI16(v, 0, static_cast<int16_t>(ExpectInt(value, -32768, 32767)));
      break;
    case ftFloat:
    case ftTimeStamp: PutF64(v, 0, ExpectAlt<double>(value, "a float")); break;
    case ftBCD: {
      TBcd bcd = ExpectAlt<TBcd>(value, "a decimal");
      v[0] = bcd.precision;
      v[1] = bcd.signSpecialPlaces;
      std::memcpy(v + 2, bcd.fraction.data(), 32);
      break;
    }
    case ftBytes:
    case ftVarBytes: {
      std::vector<uint8_t> bytes = ExpectAlt<std::vector<uint8_t>>(value, "bytes");
      if (!bytes.empty()) std::memcpy(v, bytes.data(), std::min<std::size_t>(bytes.size(), size));
      break;
    }
    case ftWord: PutU16(v, 0, static_cast<uint16_t>(ExpectInt(value, 0, 65535))); break;
    case ftLongWord:
      PutU32(v, 0, static_cast<uint32_t>(ExpectInt(value, 0, 4294967295LL)));
      break;
    case ftLargeInt:
      PutI64(v, 0, ExpectInt(value, std::numeric_limits<int64_t>::min(),
                              std::numeric_limits<int64_t>::max()));
      break;
  }
  p[0] = present ? 1 : 0;
  if (!present) std::memset(v, 0, static_cast<std::size_t>(size));
}

// ---------------------------------------------------------------- value texts

namespace {

bool ParseInt(std::string_view t, int64_t& out) {
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
  return ec == std::errc() && ptr == t.data() + t.size() && !t.empty();
}

// strtod rather than from_chars, which not every C++ library we build with has
// for doubles; what from_chars would refuse (blanks, hex) is refused first. The
// locale is never set, so the decimal point is always '.'.
bool ParseFloat(std::string_view t, double& out) {
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  const std::string_view digits = !t.empty() && t[0] == '-' ? t.substr(1) : t;
  if (digits.empty() || !(std::isdigit(static_cast<unsigned char>(digits[0])) || digits[0] == '.')) return false;
  if (digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) return false;
  const std::string text(t);
  char* end = nullptr;
  errno = 0;
  out = std::strtod(text.c_str(), &end);
  return errno != ERANGE && end == text.c_str() + text.size() && std::isfinite(out);
}

bool ParseFixed(std::string_view t, std::size_t width, int lo, int hi, int& out) {
  if (t.size() != width) return false;
  out = 0;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return out >= lo && out <= hi;
}

bool ParseDateText(std::string_view t) {  // YYYY-MM-DD
  int y, m, d;
  return t.size() == 10 && t[4] == '-' && t[7] == '-' && ParseFixed(t.substr(0, 4), 4, 1, 9999, y) &&
         ParseFixed(t.substr(5, 2), 2, 1, 12, m) && ParseFixed(t.substr(8, 2), 2, 1, 31, d) &&
         EncodeDate(y, m, d) != 0;
}

bool ParseTimeText(std::string_view t) {  // HH:MM[:SS[.mmm]]
  int h, m, s, ms;
  if (t.size() < 5 || t[2] != ':' || !ParseFixed(t.substr(0, 2), 2, 0, 23, h) ||
      !ParseFixed(t.substr(3, 2), 2, 0, 59, m))
    return false;
  if (t.size() == 5) return true;
  if (t.size() < 8 || t[5] != ':' || !ParseFixed(t.substr(6, 2), 2, 0, 59, s)) return false;
  if (t.size() == 8) return true;
  return t.size() == 12 && t[8] == '.' && ParseFixed(t.substr(9, 3), 3, 0, 999, ms);
}

}  // namespace

bool IsValidValueText(const TFieldDesc& desc, std::string_view text) {
  if (text.empty()) return true;
  switch (desc.type) {
    case ftString: return text.size() <= desc.size;
    case ftBoolean: return SameAsciiText(text, "TRUE") || SameAsciiText(text, "FALSE");
    case ftSmallInt:
    case ftInteger:
    case ftWord:
    case ftLongWord:
    case ftLargeInt: {
      if (desc.IsAutoInc()) return false;
      int64_t v;
      if (!ParseInt(text, v)) return false;
      switch (desc.type) {
        case ftSmallInt: return v >= -32768 && v <= 32767;
        case ftInteger: return v >= std::numeric_limits<int32_t>::min() &&
                               v <= std::numeric_limits<int32_t>::max();
        case ftWord: return v >= 0 && v <= 65535;
        case ftLongWord: return v >= 0 && v <= 4294967295LL;
        default: return true;
      }
    }
    case ftFloat: {
      double v;
      return ParseFloat(text, v);
    }
    case ftBCD: {
      TBcd bcd;
      return BcdFromText(text, bcd) && (bcd.signSpecialPlaces & 0x3F) <= desc.scale;
    }
    case ftDate: return text == "CURRENT_DATE" || ParseDateText(text);
    case ftTime: return text == "CURRENT_TIME" || ParseTimeText(text);
    case ftTimeStamp:
      if (text == "CURRENT_DATE" || text == "CURRENT_TIME" || text == "CURRENT_TIMESTAMP")
        return true;
      return ParseDateText(text) ||
             (text.size() > 11 && text[10] == ' ' && ParseDateText(text.substr(0, 10)) &&
              ParseTimeText(text.substr(11)));
    default: return false;  // blobs and bytes have no text form
  }
}

}  // namespace ledger
