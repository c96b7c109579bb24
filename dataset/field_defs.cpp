#include "dataset/field_defs.h"

#include "dataset/ascii_text.h"
#include "dataset/database_error.h"

namespace dataset {

bool IsBlobType(TFieldType type) noexcept {
  switch (type) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftTypedBinary:
      return true;
    default:
      return false;
  }
}

bool IsStringType(TFieldType type) noexcept { return type == ftString || type == ftFixedChar; }

bool IsIntegerType(TFieldType type) noexcept {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
      return true;
    default:
      return false;
  }
}

std::string_view FieldTypeName(TFieldType type) noexcept {
  static constexpr std::string_view kNames[] = {
      "Unknown", "String", "FixedChar", "Smallint", "Integer", "Word", "AutoInc",
      "Largeint", "Boolean", "Float", "Currency", "BCD", "Date", "Time", "DateTime",
      "Bytes", "VarBytes", "Blob", "Memo", "Graphic", "FmtMemo", "TypedBinary",
      "ADT", "Array", "Reference", "DataSet"};
  const auto i = static_cast<std::size_t>(type);
  return i < std::size(kNames) ? kNames[i] : kNames[0];
}

bool SameText(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

TFieldDef& TFieldDefs::Add(std::string name, TFieldType type, int size, bool required) {
  TFieldDef def;
  def.Name = std::move(name);
  def.DataType = type;
  def.Size = size;
  def.Required = required;
  def.FieldNo = Count() + 1;
  items_.push_back(std::move(def));
  return items_.back();
}

int TFieldDefs::IndexOf(std::string_view name) const noexcept {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (SameText(items_[i].Name, name)) return static_cast<int>(i);
  return -1;
}

const TFieldDef& TFieldDefs::Find(std::string_view name) const {
  const int i = IndexOf(name);
  if (i < 0) DatabaseErrorFmt(SFieldNotFound, {name});
  return items_[static_cast<std::size_t>(i)];
}

}  // namespace dataset
