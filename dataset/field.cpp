#include "dataset/field.h"


#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "dataset/data_set.h"
#include "dataset/database_error.h"
#include "dataset/file_writer.h"
#include "dataset/stream.h"

namespace dataset {
namespace {

[[noreturn]] void InvalidValue(const TFieldData& value, const std::string& fieldName) {
  DatabaseErrorFmt(SInvalidValue, {FieldDataToString(value), fieldName});
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool ToBool(const TFieldData& value, const std::string& fieldName) {
  if (std::holds_alternative<std::monostate>(value)) return false;
  if (auto b = std::get_if<bool>(&value)) return *b;
  if (auto i = std::get_if<int64_t>(&value)) return *i != 0;
  if (auto d = std::get_if<double>(&value)) return *d != 0;
  if (auto s = std::get_if<std::string>(&value)) {
    const std::string_view t = Trimmed(*s);
    for (std::string_view yes : {"true", "t", "yes", "y", "1"})
      if (SameText(t, yes)) return true;
    for (std::string_view no : {"false", "f", "no", "n", "0", ""})
      if (SameText(t, no)) return false;
  }
  InvalidValue(value, fieldName);
}

int64_t ToInt64(const TFieldData& value, const std::string& fieldName) {
  if (std::holds_alternative<std::monostate>(value)) return 0;
  if (auto b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  if (auto i = std::get_if<int64_t>(&value)) return *i;
  if (auto d = std::get_if<double>(&value)) {
    // 2^63 itself is out of range, so compare with the power, not its predecessor.
    if (std::isfinite(*d) && std::fabs(*d) < 9223372036854775808.0) return std::llround(*d);
  }
  if (auto s = std::get_if<std::string>(&value)) {
    const std::string_view t = Trimmed(*s);
    int64_t out = 0;
    const char* first = t.data();
    if (!t.empty() && t.front() == '+') ++first;
    auto [end, ec] = std::from_chars(first, t.data() + t.size(), out);
    if (!t.empty() && ec == std::errc() && end == t.data() + t.size()) return out;
  }
  InvalidValue(value, fieldName);
}

double ToDouble(const TFieldData& value, const std::string& fieldName) {
  if (std::holds_alternative<std::monostate>(value)) return 0;
  if (auto b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  if (auto i = std::get_if<int64_t>(&value)) return static_cast<double>(*i);
  if (auto d = std::get_if<double>(&value)) return *d;
  if (auto s = std::get_if<std::string>(&value)) {
    const std::string text(Trimmed(*s));
    char* end = nullptr;
    errno = 0;
    const double out = std::strtod(text.c_str(), &end);
    if (!text.empty() && errno == 0 && end == text.c_str() + text.size()) return out;
  }
  InvalidValue(value, fieldName);
}

std::vector<uint8_t> ToBytes(const TFieldData& value) {
  if (auto v = std::get_if<std::vector<uint8_t>>(&value)) return *v;
  const std::string s = FieldDataToString(value);
  return {s.begin(), s.end()};
}

}  // namespace

std::string FieldDataToString(const TFieldData& value) {
  if (auto s = std::get_if<std::string>(&value)) return *s;
  if (auto b = std::get_if<bool>(&value)) return *b ? "True" : "False";
  if (auto i = std::get_if<int64_t>(&value)) return std::to_string(*i);
  if (auto d = std::get_if<double>(&value)) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", *d);
    return text;
  }
  if (auto v = std::get_if<std::vector<uint8_t>>(&value)) return {v->begin(), v->end()};
  return {};
}

TFieldData ConvertFieldData(const TFieldData& value, TFieldType type, const std::string& fieldName) {
  if (std::holds_alternative<std::monostate>(value)) return value;
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftBCD:
      return FieldDataToString(value);
    case ftBoolean:
      return ToBool(value, fieldName);
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
    case ftDate:
    case ftTime:
      return ToInt64(value, fieldName);
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
      return ToDouble(value, fieldName);
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftTypedBinary:
      return ToBytes(value);
    default:
      return value;
  }
}

TField::TField(TDataSet& dataSet, const TFieldDef& def)
    : dataSet_(dataSet),
      name_(def.Name),
      fieldNo_(def.FieldNo),
      type_(def.DataType),
      size_(def.Size),
      required_(def.Required) {}

bool TField::CanModify() const { return !readOnly_ && dataSet_.CanModify(); }

bool TField::IsIndexField() const { return dataSet_.IsIndexField(*this); }

bool TField::IsNull() const { return !dataSet_.GetFieldData(*this, nullptr); }

TFieldData TField::Value() const {
  TFieldData value;
  if (!dataSet_.GetFieldData(*this, &value)) return std::monostate{};
  return value;
}

std::string TField::AsString() const { return FieldDataToString(Value()); }

bool TField::AsBoolean() const { return ToBool(Value(), name_); }

int32_t TField::AsInteger() const {
  const TFieldData value = Value();
  const int64_t v = ToInt64(value, name_);
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    InvalidValue(value, name_);
  return static_cast<int32_t>(v);
}

int64_t TField::AsLargeInt() const { return ToInt64(Value(), name_); }

double TField::AsFloat() const { return ToDouble(Value(), name_); }

void TField::SetValue(const TFieldData& value) {
  dataSet_.SetFieldData(*this, ConvertFieldData(value, type_, name_));
}

std::vector<uint8_t> TBlobField::AsBytes() const { return DataSet().GetBlobFieldData(*this); }

std::string TBlobField::AsString() const {
  const std::vector<uint8_t> bytes = AsBytes();
  return {bytes.begin(), bytes.end()};
}

int64_t TBlobField::BlobSize() const {
  return DataSet().CreateBlobStream(*this, TBlobStreamMode::bmRead)->Size();
}

void TBlobField::SaveToStream(TStream& stream) const {
  std::unique_ptr<TStream> blob = DataSet().CreateBlobStream(*this, TBlobStreamMode::bmRead);
  stream.CopyFrom(*blob);
}

void TBlobField::SaveToFile(const std::filesystem::path& path) const {
  std::unique_ptr<TStream> blob = DataSet().CreateBlobStream(*this, TBlobStreamMode::bmRead);
  TFileWriter file(path, 0666, false);
  if (!file.IsOpen()) DatabaseErrorFmt(SFileCreate, {path.string(), std::strerror(errno)});
  std::vector<uint8_t> chunk(64 * 1024);
  for (;;) {
    const int64_t got = blob->Read(chunk.data(), static_cast<int64_t>(chunk.size()));
    if (got <= 0) break;
    if (!file.Write(chunk.data(), static_cast<std::size_t>(got)))
      DatabaseErrorFmt(SFileCreate, {path.string(), std::strerror(errno)});
  }
  if (!file.Close()) DatabaseErrorFmt(SFileCreate, {path.string(), std::strerror(errno)});
}

}  // namespace dataset
