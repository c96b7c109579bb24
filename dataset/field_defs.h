#pragma once
// Field definitions: what a dataset's fields are, before field objects exist.
#include <string>
#include <string_view>
#include <vector>

namespace dataset {

enum TFieldType {
  ftUnknown,
  ftString,
  ftFixedChar,
  ftSmallint,
  ftInteger,
  ftWord,
  ftAutoInc,
  ftLargeint,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftTypedBinary,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
};

bool IsBlobType(TFieldType type) noexcept;
bool IsStringType(TFieldType type) noexcept;
bool IsIntegerType(TFieldType type) noexcept;
// "String", "Integer", ...: for listings.
std::string_view FieldTypeName(TFieldType type) noexcept;

struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  int Precision = 0;
  bool Required = false;
  int FieldNo = 0;  // the field's number in the dataset's records, 1-based
};

class TFieldDefs {
 public:
  TFieldDef& Add(std::string name, TFieldType type, int size = 0, bool required = false);
  void Clear() noexcept { items_.clear(); }
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  TFieldDef& operator[](int i) { return items_.at(static_cast<std::size_t>(i)); }
  const TFieldDef& operator[](int i) const { return items_.at(static_cast<std::size_t>(i)); }
  // Names compare case-insensitively; -1 when absent.
  int IndexOf(std::string_view name) const noexcept;
  // Raises "Field '%s' not found." when absent.
  const TFieldDef& Find(std::string_view name) const;

  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }

 private:
  std::vector<TFieldDef> items_;
};

// ASCII case-insensitive equality, as field, index and session names compare.
bool SameText(std::string_view a, std::string_view b) noexcept;

}  // namespace dataset
