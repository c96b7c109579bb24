#include "tools/ledger/record_output.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>
#include <vector>

#include <nlohmann/json.hpp>
#include <zlib.h>

#include "dataset/field.h"
#include "engine/components/ledger_table.h"
#include "engine/public/errors.h"
#include "engine/public/schema.h"
#include "tools/ledger/base64.h"
#include "tools/ledger/record_json.h"

namespace ledger::tool {
namespace {

using nlohmann::ordered_json;

constexpr int64_t kMsPerDay = 86400000;
constexpr std::size_t kChunk = 64 * 1024;
// A writer that rewrites the record this often while its line is made keeps
// the line from ever being whole.
constexpr int kMaxLineAttempts = 16;

std::string TimeText(int64_t ms) {
  char text[16];
  const int h = static_cast<int>(ms / 3600000), m = static_cast<int>(ms / 60000 % 60),
            s = static_cast<int>(ms / 1000 % 60), milli = static_cast<int>(ms % 1000);
  if (milli != 0)
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", h, m, s, milli);
  else
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, m, s);
  return text;
}

// Reads the blob of the shown record piece by piece, handing each to sink.
template <typename Sink>
int64_t ReadBlob(const dataset::TField& field, Sink&& sink) {
  std::unique_ptr<dataset::TStream> stream =
      field.DataSet().CreateBlobStream(field, dataset::TBlobStreamMode::bmRead);
  std::vector<uint8_t> buffer(kChunk);
  int64_t total = 0;
  for (;;) {
    const int64_t got = stream->Read(buffer.data(), static_cast<int64_t>(buffer.size()));
    if (got <= 0) break;
    sink(buffer.data(), static_cast<std::size_t>(got));
    total += got;
  }
  return total;
}

ordered_json NumberOrText(double value) {
  // JSON has no form for these; null would claim the field is empty.
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  return value;
}

// A calendar value as ISO text; one no text stands for stays the number it is.
template <typename T>
ordered_json CalendarValue(const std::optional<std::string>& text, T raw) {
  if (text) return *text;
  if constexpr (std::is_floating_point_v<T>) return NumberOrText(raw);
  return raw;
}

ordered_json FieldJson(const dataset::TField& field) {
  if (field.IsBlob()) {
    if (field.IsNull()) return nullptr;
    const TBlobSummary blob = SummariseBlob(field);
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(blob.crc32));
    return ordered_json{{"size", blob.size}, {"crc32", crc}};
  }
  const dataset::TFieldData value = field.Value();
  if (std::holds_alternative<std::monostate>(value)) return nullptr;
  switch (field.DataType()) {
    case dataset::ftDate: {
      const int64_t day = std::get<int64_t>(value);
      return CalendarValue(FormatIsoDate(day), day);
    }
    case dataset::ftTime: {
      const int64_t ms = std::get<int64_t>(value);
      return CalendarValue(FormatIsoTime(ms), ms);
    }
    case dataset::ftDateTime: {
      const double ms = std::get<double>(value);
      return CalendarValue(FormatIsoTimestamp(ms), ms);
    }
    default: break;
  }
  if (auto s = std::get_if<std::string>(&value)) return Latin1ToUtf8(*s);
  if (auto b = std::get_if<bool>(&value)) return *b;
  if (auto i = std::get_if<int64_t>(&value)) return *i;
  if (auto d = std::get_if<double>(&value)) return NumberOrText(*d);
  const auto& bytes = std::get<std::vector<uint8_t>>(value);
  return ordered_json{{"base64", EncodeBase64(bytes)}};
}

}  // namespace

std::optional<std::string> FormatIsoDate(int64_t dayNumber) {
  int y, m, d;
  if (dayNumber < 1 || dayNumber > INT32_MAX || !DecodeDate(static_cast<int32_t>(dayNumber), y, m, d))
    return std::nullopt;
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
  return std::string(text);
}

std::optional<std::string> FormatIsoTime(int64_t ms) {
  if (ms < 0 || ms >= kMsPerDay) return std::nullopt;
  return TimeText(ms);
}

std::optional<std::string> FormatIsoTimestamp(double ms) {
  // Text holds whole milliseconds only; anything finer stays a number.
  if (!std::isfinite(ms) || ms != std::floor(ms) || ms < 0 || ms > 1e15) return std::nullopt;
  const auto whole = static_cast<int64_t>(ms);
  auto date = FormatIsoDate(whole / kMsPerDay);
  if (!date) return std::nullopt;
  return *date + "T" + TimeText(whole % kMsPerDay);
}

TBlobSummary SummariseBlob(const dataset::TField& field) {
  TBlobSummary summary;
  uLong crc = crc32(0L, Z_NULL, 0);
  summary.size = ReadBlob(field, [&](const uint8_t* data, std::size_t count) {
    crc = crc32(crc, data, static_cast<uInt>(count));
  });
  summary.crc32 = static_cast<uint32_t>(crc);
  return summary;
}

int64_t CopyBlob(const dataset::TField& field, std::ostream& out) {
  return ReadBlob(field, [&](const uint8_t* data, std::size_t count) {
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
  });
}

std::string PositionKey(const TLedgerTable& table) {
  std::string key = "recno";
  for (bool taken = true; taken;) {
    taken = false;
    for (int i = 0; i < table.FieldCount() && !taken; ++i)
      taken = Latin1ToUtf8(table.Fields(i).FieldName()) == key;
    if (taken) key.insert(key.begin(), '_');
  }
  return key;
}

ordered_json RecordJson(TLedgerTable& table, const std::string& positionKey) {
  // A blob read that finds the record rewritten by another process shows the
  // new record, and the fields read before it are of the old one: the line
  // is made again until no refresh came between its first field and its last.
  for (int attempt = 1;; ++attempt) {
    const uint64_t refreshes = table.RefreshCount();
    ordered_json record = ordered_json::object();
    record[positionKey] = table.RecNo();
    for (int i = 0; i < table.FieldCount(); ++i) {
      const dataset::TField& field = table.Fields(i);
      record[Latin1ToUtf8(field.FieldName())] = FieldJson(field);
    }
    if (table.RefreshCount() == refreshes) return record;
    // Nothing left to show, or no end to the rewrites.
    if (table.IsEmpty() || attempt == kMaxLineAttempts) table.Handle()->RaiseStatus(LEDGER_KEYORRECDELETED);
  }
}

void WriteRecordLine(TLedgerTable& table, const std::string& positionKey, std::ostream& out) {
  out << RecordJson(table, positionKey).dump() << '\n';
}

}  // namespace ledger::tool
