#pragma once
// Field objects: one per field of an open dataset, reading the value of the
// record the dataset shows.
#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "dataset/field_defs.h"

namespace dataset {

class TDataSet;
class TStream;

// A field's value as the dataset hands it over. Integer kinds travel as
// int64, dates as day numbers and times as milliseconds; blobs are read
// through streams instead.
using TFieldData = std::variant<std::monostate, std::string, bool, int64_t, double,
                                std::vector<uint8_t>>;

class TField {
 public:
  TField(TDataSet& dataSet, const TFieldDef& def);
  virtual ~TField() = default;
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TDataSet& DataSet() const noexcept { return dataSet_; }
  const std::string& FieldName() const noexcept { return name_; }
  int FieldNo() const noexcept { return fieldNo_; }
  TFieldType DataType() const noexcept { return type_; }
  int Size() const noexcept { return size_; }
  bool Required() const noexcept { return required_; }
  // The field name until a label is given.
  const std::string& DisplayLabel() const noexcept { return label_.empty() ? name_ : label_; }
  void SetDisplayLabel(std::string label) { label_ = std::move(label); }
  // Table name, ".", field name.
  const std::string& Origin() const noexcept { return origin_; }
  void SetOrigin(std::string origin) { origin_ = std::move(origin); }
  bool ReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool value) noexcept { readOnly_ = value; }
  bool CanModify() const;
  virtual bool IsBlob() const noexcept { return false; }
  bool IsIndexField() const;

  bool IsNull() const;
  // The value, monostate when null.
  TFieldData Value() const;
  virtual std::string AsString() const;
  // Null reads as false, "", 0.
  bool AsBoolean() const;
  int32_t AsInteger() const;
  int64_t AsLargeInt() const;
  double AsFloat() const;

  // Writes go through the dataset, which decides whether its state allows
  // them (key entry on a table does).
  void SetValue(const TFieldData& value);
  void SetAsString(const std::string& value) { SetValue(value); }
  void SetAsBoolean(bool value) { SetValue(value); }
  void SetAsInteger(int64_t value) { SetValue(value); }
  void Clear() { SetValue(std::monostate{}); }

 private:
  TDataSet& dataSet_;
  std::string name_;
  int fieldNo_;
  TFieldType type_;
  int size_;
  bool required_;
  std::string label_;
  std::string origin_;
  bool readOnly_ = false;
};

class TBlobField : public TField {
 public:
  using TField::TField;
  bool IsBlob() const noexcept override { return true; }

  // The whole content of the shown record's blob.
  std::vector<uint8_t> AsBytes() const;
  std::string AsString() const override;
  int64_t BlobSize() const;
  // Copies the content to the stream's current position.
  void SaveToStream(TStream& stream) const;
  // Replaces the file; a symbolic link in its place is refused, not followed.
  void SaveToFile(const std::filesystem::path& path) const;
};

// The value converted to what a field of the type holds (strings parsed,
// numbers formatted); raises "'%s' is not a valid value for field '%s'."
TFieldData ConvertFieldData(const TFieldData& value, TFieldType type, const std::string& fieldName);
std::string FieldDataToString(const TFieldData& value);

}  // namespace dataset
