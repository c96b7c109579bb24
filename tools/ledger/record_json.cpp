#include "tools/ledger/record_json.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include <nlohmann/json.hpp>

#include "tools/ledger/base64.h"

namespace ledger::tool {
namespace {

using nlohmann::json;

bool Digits(std::string_view t, int min, int max, int& out) {
  if (t.empty()) return false;
  for (char c : t)
    if (c < '0' || c > '9') return false;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
  return ec == std::errc() && p == t.data() + t.size() && out >= min && out <= max;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path, const std::string& where) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EInputError(where + "cannot read the file \"" + path + "\"");
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A blob or bytes value: {"base64": "..."}, {"file": "path"}, or plain text.
std::vector<uint8_t> BytesOf(const json& v, const std::string& where) {
  if (v.is_string()) {
    const std::string& s = v.get_ref<const std::string&>();
    return std::vector<uint8_t>(s.begin(), s.end());
  }
  if (v.is_object() && v.size() == 1) {
    if (auto b = v.find("base64"); b != v.end() && b->is_string()) {
      auto bytes = DecodeBase64(b->get_ref<const std::string&>());
      if (!bytes) throw EInputError(where + "bad base64");
      return std::move(*bytes);
    }
    if (auto f = v.find("file"); f != v.end() && f->is_string())
      return ReadWholeFile(f->get<std::string>(), where);
  }
  throw EInputError(where + "expected {\"base64\": ...}, {\"file\": ...} or text");
}

int64_t IntegerOf(const json& v, int64_t min, int64_t max, const std::string& where) {
  int64_t n = 0;
  if (v.is_number_unsigned()) {
    uint64_t u = v.get<uint64_t>();
    if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
      throw EInputError(where + "out of range");
    n = static_cast<int64_t>(u);
  } else if (v.is_number_integer()) {
    n = v.get<int64_t>();
  } else {
    throw EInputError(where + "expected an integer");
  }
  if (n < min || n > max) throw EInputError(where + "out of range");
  return n;
}

}  // namespace

TFieldValue ParseFieldValue(const json& v, const TFieldDesc& f, const std::string& where) {
  auto text = [&]() -> const std::string& {
    if (!v.is_string()) throw EInputError(where + "expected text");
    return v.get_ref<const std::string&>();
  };
  switch (f.type) {
    case ftString: {
      auto latin1 = Utf8ToLatin1(text());
      if (!latin1) throw EInputError(where + "characters beyond ISO 8859-1");
      // The record ends a string at its first zero; the rest would vanish.
      if (latin1->find('\0') != std::string::npos)
        throw EInputError(where + "a string cannot hold U+0000");
      if (latin1->size() > f.size)
        throw EInputError(where + "longer than " + std::to_string(f.size) + " characters");
      return std::move(*latin1);
    }
    case ftBoolean:
      if (!v.is_boolean()) throw EInputError(where + "expected true or false");
      return v.get<bool>();
    case ftSmallInt: return IntegerOf(v, -32768, 32767, where);
    case ftInteger:
      return IntegerOf(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                       where);
    case ftWord: return IntegerOf(v, 0, 65535, where);
    case ftLongWord: return IntegerOf(v, 0, 4294967295LL, where);
    case ftLargeInt:
      return IntegerOf(v, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                       where);
    case ftFloat:
      if (!v.is_number()) throw EInputError(where + "expected a number");
      return v.get<double>();
    case ftBCD: {
      // Text keeps every digit; a JSON number would pass through a double.
      std::string t = v.is_number() ? v.dump() : text();
      TBcd bcd;
      // Digits before the point must fit beside the declared places.
      bool ok = BcdFromText(t, bcd);
      const int places = bcd.signSpecialPlaces & 0x3F;
      if (!ok || places > f.scale || bcd.precision - places > 32 - f.scale)
        throw EInputError(where + "not a decimal of at most " + std::to_string(32 - f.scale) +
                          " digits before the point and " + std::to_string(f.scale) + " after");
      return bcd;
    }
    case ftDate: {
      auto d = ParseIsoDate(text());
      if (!d) throw EInputError(where + "expected a date YYYY-MM-DD");
      return int64_t{*d};
    }
    case ftTime: {
      auto t = ParseIsoTime(text());
      if (!t) throw EInputError(where + "expected a time HH:MM[:SS[.mmm]]");
      return int64_t{*t};
    }
    case ftTimeStamp: {
      auto t = ParseIsoTimestamp(text());
      if (!t) throw EInputError(where + "expected a timestamp YYYY-MM-DDTHH:MM[:SS[.mmm]]");
      return *t;
    }
    case ftBytes:
    case ftVarBytes: {
      auto bytes = BytesOf(v, where);
      if (bytes.size() > f.size)
        throw EInputError(where + "longer than " + std::to_string(f.size) + " bytes");
      return bytes;
    }
    case ftBlob: return BytesOf(v, where);
  }
  throw EInputError(where + "unsupported field type");
}

std::optional<std::string> Utf8ToLatin1(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size() &&
               (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
      out.push_back(static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F)));
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::optional<int32_t> ParseIsoDate(std::string_view t) {
  int y, m, d;
  if (t.size() != 10 || t[4] != '-' || t[7] != '-' || !Digits(t.substr(0, 4), 1, 9999, y) ||
      !Digits(t.substr(5, 2), 1, 12, m) || !Digits(t.substr(8, 2), 1, 31, d))
    return std::nullopt;
  int32_t day = EncodeDate(y, m, d);
  if (day == 0) return std::nullopt;
  return day;
}

std::optional<int32_t> ParseIsoTime(std::string_view t) {
  int h, m, s = 0, ms = 0;
  if (t.size() < 5 || t[2] != ':' || !Digits(t.substr(0, 2), 0, 23, h) ||
      !Digits(t.substr(3, 2), 0, 59, m))
    return std::nullopt;
  if (t.size() > 5) {
    if (t.size() < 8 || t[5] != ':' || !Digits(t.substr(6, 2), 0, 59, s)) return std::nullopt;
    if (t.size() > 8 && (t.size() != 12 || t[8] != '.' || !Digits(t.substr(9, 3), 0, 999, ms)))
      return std::nullopt;
  }
  return ((h * 60 + m) * 60 + s) * 1000 + ms;
}

std::optional<double> ParseIsoTimestamp(std::string_view t) {
  auto day = ParseIsoDate(t.substr(0, std::min<std::size_t>(t.size(), 10)));
  if (!day) return std::nullopt;
  int32_t ms = 0;
  if (t.size() > 10) {
    if (t[10] != 'T' && t[10] != ' ') return std::nullopt;
    auto time = ParseIsoTime(t.substr(11));
    if (!time) return std::nullopt;
    ms = *time;
  }
  return static_cast<double>(*day) * 86400000.0 + ms;
}

TJsonRecord ParseRecord(const json& line, const TTableSchema& schema) {
  if (!line.is_object()) throw EInputError("a record must be a JSON object");
  TJsonRecord record;
  record.values.resize(schema.data.fields.size());
  for (auto it = line.begin(); it != line.end(); ++it) {
    if (it.key() == "_deleted") {
      if (!it->is_boolean()) throw EInputError("\"_deleted\" must be true or false");
      record.deleted = it->get<bool>();
      continue;
    }
    auto name = Utf8ToLatin1(it.key());
    int pos = name ? schema.FindField(*name) : -1;
    if (pos < 0) throw EInputError("no field \"" + it.key() + "\"");
    if (it->is_null()) continue;
    const TFieldDesc& f = schema.data.fields[pos];
    if (f.type == ftBlob && it->is_object() && it->size() == 1 && it->contains("file") &&
        (*it)["file"].is_string()) {
      TBlobFileRef ref{pos + 1, (*it)["file"].get<std::string>(), 0};
      std::error_code ec;
      ref.size = std::filesystem::file_size(ref.path, ec);
      if (ec || !std::filesystem::is_regular_file(ref.path, ec))
        throw EInputError("field \"" + f.name + "\": cannot read the file \"" + ref.path + "\"");
      record.blobFiles.push_back(std::move(ref));
      continue;
    }
    // The table numbers its records itself; a given number would be dropped.
    if (f.IsAutoInc())
      throw EInputError("field \"" + f.name + "\": autoinc values are assigned by the table");
    record.values[pos] = ParseFieldValue(*it, f, "field \"" + f.name + "\": ");
  }
  return record;
}

}  // namespace ledger::tool
