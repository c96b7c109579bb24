#pragma once
// One JSON-lines record of `ledger create`, turned into field values.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "engine/public/schema.h"
#include "tools/ledger/schema.h"

namespace ledger::tool {

// A blob given as {"file": path}: streamed into the table, never held whole.
struct TBlobFileRef {
  int field = 0;  // 1-based position
  std::string path;
  uint64_t size = 0;
};

struct TJsonRecord {
  std::vector<TFieldValue> values;  // one per field; blobs as their bytes
  std::vector<TBlobFileRef> blobFiles;  // their fields' values stay null
  bool deleted = false;
};

// Throws EInputError naming the field at fault.
TJsonRecord ParseRecord(const nlohmann::json& line, const TTableSchema& schema);

// One non-null value for a field of the given kind, checked as a record line's
// are; where prefixes the EInputError message. Blob files are read whole here.
TFieldValue ParseFieldValue(const nlohmann::json& value, const TFieldDesc& field,
                            const std::string& where);

// JSON text is UTF-8; table strings are ISO 8859-1. Nothing for characters
// above U+00FF or malformed UTF-8.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8);
std::string Latin1ToUtf8(std::string_view latin1);

// ISO 8601 texts as the record holds them: day numbers, milliseconds of the
// day, and milliseconds from 0001-01-01.
std::optional<int32_t> ParseIsoDate(std::string_view text);
std::optional<int32_t> ParseIsoTime(std::string_view text);
std::optional<double> ParseIsoTimestamp(std::string_view text);

}  // namespace ledger::tool
