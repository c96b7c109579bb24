#pragma once
// A dataset over rows held in memory, ordered as given; the first field is
// the key. Small enough that what the tests see is the framework's doing.
#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <vector>

#include "dataset/data_set.h"
#include "dataset/stream.h"

namespace dataset::testing {

class TMemoryDataSet : public TDataSet {
 public:
  using TRow = std::vector<TFieldData>;

  TMemoryDataSet(std::vector<TFieldDef> defs, std::vector<TRow> rows)
      : defs_(std::move(defs)), rows_(std::move(rows)) {}
  ~TMemoryDataSet() override {
    try {
      Close();
    } catch (...) {
    }
  }

  // Positions on the first row whose key is not below value, as an index
  // search does, and answers whether the key there equals it.
  bool FindKey(const std::string& value) {
    return DoGotoKey([&] {
      ++lookups;
      std::size_t i = 0;
      while (i < rows_.size() && std::get<std::string>(rows_[i][0]) < value) ++i;
      position = i < rows_.size() ? static_cast<int32_t>(i + 1) : Count() + 1;
      return i < rows_.size() && std::get<std::string>(rows_[i][0]) == value;
    });
  }

  bool GetFieldData(const TField& field, TFieldData* value) override {
    const uint8_t* buffer = ActiveBuffer();
    if (!buffer) return false;
    const TFieldData& v = rows_[static_cast<std::size_t>(RowOf(buffer) - 1)]
                               [static_cast<std::size_t>(field.FieldNo() - 1)];
    if (std::holds_alternative<std::monostate>(v)) return false;
    if (value) *value = v;
    return true;
  }

  std::unique_ptr<TStream> CreateBlobStream(const TField& field, TBlobStreamMode) override {
    auto stream = std::make_unique<TMemoryStream>();
    TFieldData v;
    if (GetFieldData(field, &v)) {
      const auto& bytes = std::get<std::vector<uint8_t>>(v);
      stream->Write(bytes.data(), static_cast<int64_t>(bytes.size()));
      stream->SetPosition(0);
    }
    return stream;
  }

  std::function<void()> onOpenCursor;
  std::function<void()> onCloseCursor;
  int lookups = 0;
  int32_t position = 0;  // 0 before the first row, Count() + 1 after the last

 protected:
  void OpenCursor() override {
    if (onOpenCursor) onOpenCursor();
    TDataSet::OpenCursor();
  }
  void CloseCursor() override {
    if (onCloseCursor) onCloseCursor();
    TDataSet::CloseCursor();
  }
  void InternalOpen() override {
    FieldDefs().Clear();
    for (const TFieldDef& def : defs_) FieldDefs().Add(def.Name, def.DataType, def.Size);
    CreateFields();
    open_ = true;
  }
  void InternalClose() override {
    DestroyFields();
    open_ = false;
  }
  void InternalFirst() override { position = 0; }
  void InternalLast() override { position = Count() + 1; }
  TGetResult GetRecord(uint8_t* buffer, TGetMode mode, bool) override {
    switch (mode) {
      case TGetMode::gmCurrent:
        if (position < 1 || position > Count()) return TGetResult::grError;
        break;
      case TGetMode::gmNext:
        if (position >= Count()) {
          position = Count() + 1;
          return TGetResult::grEOF;
        }
        ++position;
        break;
      case TGetMode::gmPrior:
        if (position <= 1) {
          position = 0;
          return TGetResult::grBOF;
        }
        --position;
        break;
    }
    std::memcpy(buffer, &position, sizeof position);
    return TGetResult::grOK;
  }
  void InternalSetToRecord(uint8_t* buffer) override { position = RowOf(buffer); }
  void InternalGotoRecNo(int32_t value) override {
    position = std::clamp(value, 1, Count() + 1);
  }
  int32_t GetRecNo() override {
    const uint8_t* buffer = ActiveBuffer();
    return buffer ? RowOf(buffer) : 0;
  }
  int32_t GetRecordCount() override { return Count(); }
  std::size_t RecordBufferSize() const override { return sizeof(int32_t); }

 private:
  static int32_t RowOf(const uint8_t* buffer) {
    int32_t row;
    std::memcpy(&row, buffer, sizeof row);
    return row;
  }
  int32_t Count() const { return static_cast<int32_t>(rows_.size()); }

  std::vector<TFieldDef> defs_;
  std::vector<TRow> rows_;
  bool open_ = false;
};

}  // namespace dataset::testing
