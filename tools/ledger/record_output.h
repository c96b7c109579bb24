#pragma once
// The record a table shows, as one JSON line of `ledger dump`, `get` and
// `find`, in the forms `ledger create` reads back.
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace dataset {
class TField;
}

namespace ledger {
class TLedgerTable;
}

namespace ledger::tool {

// ISO 8601 texts of day numbers, milliseconds of the day and milliseconds from
// 0001-01-01; nothing for values no calendar text stands for. Seconds are
// always given, milliseconds only when there are any.
std::optional<std::string> FormatIsoDate(int64_t dayNumber);
std::optional<std::string> FormatIsoTime(int64_t milliseconds);
std::optional<std::string> FormatIsoTimestamp(double milliseconds);

// A blob's size and its CRC-32 (zlib's) in lower-case hex, read through the
// table's blob stream piece by piece.
struct TBlobSummary {
  int64_t size = 0;
  uint32_t crc32 = 0;
};
TBlobSummary SummariseBlob(const dataset::TField& field);

// Writes a blob's bytes to out as they are read; answers how many.
int64_t CopyBlob(const dataset::TField& field, std::ostream& out);

// The key the record position goes under: "recno", or that name with enough
// leading underscores to differ from every field's name.
std::string PositionKey(const TLedgerTable& table);

// "recno" (see PositionKey) and then every field of the shown record by name,
// all of one version of the record even while another process rewrites it.
nlohmann::ordered_json RecordJson(TLedgerTable& table, const std::string& positionKey);

// One record as one line of text.
void WriteRecordLine(TLedgerTable& table, const std::string& positionKey, std::ostream& out);

}  // namespace ledger::tool
