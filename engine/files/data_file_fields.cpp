// The full check of the descriptors and record layout, and the fields by
// position and name and their values in a record image.

#include "engine/files/data_file.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "engine/errors/ledger_error.h"
#include "engine/files/ascii_text.h"

namespace ledger {

// ---------------------------------------------------------------- checks

void TDataFile::CheckVersion() const {
  if (header_.version != kFormatVersion) Fail(LEDGER_OLDVERSION);
}

void TDataFile::CheckStructure() {
  CheckVersion();
  if (header_.languageId != 0 && !IsLocaleInstalled(header_.LocaleId())) Fail(LEDGER_CANNOTLOADLDDRV);

  int64_t running = kRecordHeaderSize;
  std::vector<std::string> names;
  std::vector<uint16_t> numbers;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    TFieldDesc& d = fields_[i];
    int size = PhysicalSizeOf(d.type, d.size);
    // Type codes without a known stored size cannot be laid out, so they
    // count as corrupt like type 0.
    if (d.type == 0 || size < 0) Fail(LEDGER_HEADERCORRUPT);
    d.physicalSize = static_cast<uint8_t>(size);
    d.physicalScale = d.scale;

    std::string name = AsciiUpper(TrimSpaces(d.name));
    if (name.empty() || name.size() > 30) Fail(LEDGER_HEADERCORRUPT);
    unsigned char first = static_cast<unsigned char>(name[0]);
    if (!((first >= 'A' && first <= 'Z') || first == '_' || first >= 128)) Fail(LEDGER_HEADERCORRUPT);
    if (std::find(names.begin(), names.end(), name) != names.end()) Fail(LEDGER_HEADERCORRUPT);
    names.push_back(name);
    if (std::find(numbers.begin(), numbers.end(), d.number) != numbers.end()) Fail(LEDGER_HEADERCORRUPT);
    numbers.push_back(d.number);

    bool sized = d.type == ftString || d.type == ftBytes || d.type == ftVarBytes;
    if (sized ? d.size > kMaxDeclaredSize : d.size != 0) Fail(LEDGER_HEADERCORRUPT);
    if (!IsValidValueText(d, d.defaultText) || !IsValidValueText(d, d.minText) ||
        !IsValidValueText(d, d.maxText))
      Fail(LEDGER_HEADERCORRUPT);
    if (d.scale != 0 && d.type != ftBCD) Fail(LEDGER_HEADERCORRUPT);
    if (d.IsAutoInc()) {
      if (d.offset != kAutoIncOffset) Fail(LEDGER_HEADERCORRUPT);
    } else {
      if (d.offset != running) Fail(LEDGER_HEADERCORRUPT);
      running += size + 1;
    }
    if (d.number != i + 1) Fail(LEDGER_HEADERCORRUPT);
  }
  if (header_.recordSize != running) Fail(LEDGER_HEADERCORRUPT);

  uint64_t size = Size();
  uint64_t start = DataStart();
  uint64_t records = 0;
  if (size > start) {
    if ((size - start) % header_.recordSize != 0) Fail(LEDGER_HEADERCORRUPT);
    records = (size - start) / header_.recordSize;
  }
  if (static_cast<uint64_t>(static_cast<int64_t>(header_.nextRecord)) != records + 1)
    Fail(LEDGER_HEADERCORRUPT);
  if (header_.firstFree < 0 || static_cast<uint64_t>(header_.firstFree) > records)
    Fail(LEDGER_HEADERCORRUPT);
}

// ---------------------------------------------------------------- fields

const TFieldDesc& TDataFile::Field(int position) const {
  if (position < 1 || position > FieldCount())
    RaiseError(LEDGER_OUTOFRANGE, {}, {}, {}, {}, std::to_string(position), TableName(), DatabaseName());
  return fields_[static_cast<std::size_t>(position - 1)];
}

int TDataFile::FindField(std::string_view name) const {
  std::string wanted = AsciiUpper(TrimSpaces(name));
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (AsciiUpper(TrimSpaces(fields_[i].name)) == wanted) return static_cast<int>(i + 1);
  return 0;
}

TFieldValue TDataFile::GetField(const TRecord& record, int position) const {
  const TFieldDesc& d = Field(position);
  if (!FieldFits(d, record.Size())) Fail(LEDGER_HEADERCORRUPT);
  return ReadValue(record.Image(), d);
}

void TDataFile::SetField(TRecord& record, int position, const TFieldValue& value) {
  const TFieldDesc& d = Field(position);
  if (!FieldFits(d, record.Size())) Fail(LEDGER_HEADERCORRUPT);
  WriteValue(record.Image(), d, value, header_.LocaleId());
  record.SetModified(true);
}

}  // namespace ledger
