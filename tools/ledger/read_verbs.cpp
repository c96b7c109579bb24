#include "tools/ledger/read_verbs.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <ostream>

#include <nlohmann/json.hpp>

#include "engine/components/ledger_table.h"
#include "engine/public/cursor.h"
#include "engine/public/table_files.h"
#include "tools/ledger/commands.h"
#include "tools/ledger/record_json.h"
#include "tools/ledger/record_output.h"
#include "tools/ledger/schema.h"

namespace ledger::tool {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

struct TReadArgs {
  std::string verb;
  std::string dir;
  std::string table;
  std::optional<std::string> index;
  std::vector<std::string> rest;  // what follows DIR TABLE
  std::optional<int32_t> position;  // get and blob: N, when a record can have it
};

struct TVerbShape {
  const char* verb;
  const char* usage;
  std::size_t minRest, maxRest;
  bool takesIndex;
};

constexpr TVerbShape kShapes[] = {
    {"info", "info takes DIR TABLE", 0, 0, false},
    {"dump", "dump takes DIR TABLE [--index NAME]", 0, 0, true},
    {"get", "get takes DIR TABLE N [--index NAME]", 1, 1, true},
    {"find", "find takes DIR TABLE VALUE... [--index NAME]", 1, kMaxKeyFields, true},
    {"blob", "blob takes DIR TABLE N FIELD [--index NAME]", 2, 2, true},
};

const TVerbShape* ShapeOf(const std::string& verb) {
  for (const TVerbShape& shape : kShapes)
    if (verb == shape.verb) return &shape;
  return nullptr;
}

// A record position; nothing for one no record can have.
std::optional<int32_t> PositionOf(const std::string& text) {
  int64_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec == std::errc::result_out_of_range && end == text.data() + text.size()) return std::nullopt;
  if (ec != std::errc() || end != text.data() + text.size() || text.empty())
    throw EUsageError("N must be a record position, not \"" + text + "\"");
  if (n < 1 || n > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(n);
}

TReadArgs ParseArgs(const std::vector<std::string>& args) {
  const TVerbShape& shape = *ShapeOf(args[0]);
  TReadArgs parsed;
  parsed.verb = args[0];
  std::vector<std::string> positional;
  bool options = true;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    // A lone "-" or a negative number is a value, not an option.
    if (!options || a.rfind("--", 0) != 0) {
      positional.push_back(a);
    } else if (a == "--") {
      options = false;
    } else if (shape.takesIndex && a == "--index") {
      if (i + 1 >= args.size()) throw EUsageError("--index needs a name");
      parsed.index = args[++i];
    } else if (shape.takesIndex && a.rfind("--index=", 0) == 0) {
      parsed.index = a.substr(8);
    } else {
      throw EUsageError("unknown option " + a);
    }
  }
  if (positional.size() < 2 + shape.minRest || positional.size() > 2 + shape.maxRest)
    throw EUsageError(shape.usage);
  parsed.dir = positional[0];
  parsed.table = positional[1];
  // A path in the table name would replace DIR as the table's directory.
  if (parsed.table.empty() || parsed.table.find_first_of("/\\") != std::string::npos)
    throw EUsageError("TABLE is a table name without a directory");
  parsed.rest.assign(positional.begin() + 2, positional.end());
  if (parsed.verb == "get" || parsed.verb == "blob") parsed.position = PositionOf(parsed.rest[0]);
  return parsed;
}

void OpenTable(TLedgerTable& table, const TReadArgs& args) {
  table.SetDatabaseName(args.dir);
  table.SetTableName(args.table);
  // The tool only looks: it must work on files it may not write.
  table.SetReadOnly(true);
  if (args.index) table.SetIndexName(*args.index);
  table.Open();
}

// Moves to a position; false when no record stands there.
bool GoTo(TLedgerTable& table, std::optional<int32_t> position) {
  if (!position || table.IsEmpty()) return false;
  table.SetRecNo(*position);
  return table.RecNo() == *position;
}

int NoRecordAt(const std::string& text, std::ostream& err) {
  err << "ledger: no record at position " << text << "\n";
  return kExitNotFound;
}

// ------------------------------------------------------------------ verbs

ordered_json IndexJson(TDataCursor& cursor, int slot) {
  const TIndexDesc& desc = cursor.IndexDescriptor(slot);
  ordered_json fields = ordered_json::array(), descending = ordered_json::array();
  for (int i = 0; i < desc.fieldCount && i < kMaxKeyFields; ++i) {
    const std::string name = Latin1ToUtf8(cursor.Field(desc.fields[static_cast<std::size_t>(i)]).name);
    fields.push_back(name);
    if (desc.fieldDescending[static_cast<std::size_t>(i)]) descending.push_back(name);
  }
  return {{"name", Latin1ToUtf8(desc.name)},   {"primary", slot == 0},
          {"fields", fields},                  {"unique", desc.unique},
          {"descending", desc.descending},     {"descending_fields", descending},
          {"case_insensitive", desc.caseInsensitive}, {"compression", desc.compression}};
}

int Info(TLedgerTable& table, std::ostream& out) {
  TDataCursor& cursor = *table.Handle();
  TDataFile& data = cursor.Table()->Data();
  ordered_json fields = ordered_json::array();
  for (int n = 1; n <= cursor.FieldCount(); ++n) {
    const TFieldDesc& f = cursor.Field(n);
    const TTypeNames names = TypeNamesOf(f);
    ordered_json field = {{"name", Latin1ToUtf8(f.name)},
                          {"type", names.type},
                          {"subtype", names.subtype.empty() ? ordered_json() : ordered_json(names.subtype)},
                          {"size", f.size},
                          {"required", f.required}};
    if (f.type == ftBCD) field["scale"] = f.scale;
    fields.push_back(std::move(field));
  }
  ordered_json indexes = ordered_json::array();
  for (int slot = 0; slot <= cursor.SecondaryIndexCount(); ++slot)
    if (cursor.IndexDescriptor(slot).Defined()) indexes.push_back(IndexJson(cursor, slot));
  ordered_json info = {{"table", Latin1ToUtf8(table.TableName())},
                       {"description", Latin1ToUtf8(data.Description())},
                       {"locale", data.LocaleId()},
                       {"record_count", table.RecordCount()},
                       {"fields", std::move(fields)},
                       {"indexes", std::move(indexes)},
                       {"block_size", data.BlobBlockSize()},
                       {"encrypted", data.Encrypted()}};
  out << info.dump(2) << "\n";
  return kExitOk;
}

int Dump(TLedgerTable& table, std::ostream& out) {
  const std::string key = PositionKey(table);
  // One line at a time: a table of any size passes through in constant memory.
  for (table.First(); !table.Eof(); table.Next()) WriteRecordLine(table, key, out);
  return kExitOk;
}

int Get(TLedgerTable& table, const TReadArgs& args, std::ostream& out, std::ostream& err) {
  if (!GoTo(table, args.position)) return NoRecordAt(args.rest[0], err);
  WriteRecordLine(table, PositionKey(table), out);
  return kExitOk;
}

// A command-line text as the JSON value a record line would give the field.
json JsonOfText(const std::string& text, const TFieldDesc& field) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  switch (field.type) {
    case ftBoolean:
      if (text == "true" || text == "false") return text == "true";
      break;
    case ftSmallInt:
    case ftInteger:
    case ftWord:
    case ftLongWord:
    case ftLargeInt: {
      int64_t n = 0;
      if (auto [p, ec] = std::from_chars(begin, end, n); ec == std::errc() && p == end) return n;
      uint64_t u = 0;
      if (auto [p, ec] = std::from_chars(begin, end, u); ec == std::errc() && p == end) return u;
      break;
    }
    case ftFloat: {
      std::string copy = text;  // strtod wants a terminated string
      char* stop = nullptr;
      const double d = std::strtod(copy.c_str(), &stop);
      if (!copy.empty() && stop == copy.c_str() + copy.size() && std::isfinite(d)) return d;
      break;
    }
    default: break;
  }
  return text;
}

int Find(TLedgerTable& table, const TReadArgs& args, std::ostream& out, std::ostream& err) {
  TDataCursor& cursor = *table.Handle();
  std::vector<dataset::TFieldData> values;
  if (!cursor.PhysicalOrder()) {
    const TIndexDesc& desc = cursor.ActiveIndexDescriptor();
    if (args.rest.size() > desc.fieldCount)
      throw EInputError(std::to_string(args.rest.size()) + " values for an index of " +
                        std::to_string(desc.fieldCount) + " key field" + (desc.fieldCount == 1 ? "" : "s"));
    for (std::size_t i = 0; i < args.rest.size(); ++i) {
      const TFieldDesc& field = cursor.Field(desc.fields[i]);
      const TFieldValue value = ParseFieldValue(JsonOfText(args.rest[i], field), field,
                                                "key field \"" + Latin1ToUtf8(field.name) + "\": ");
      if (auto bcd = std::get_if<TBcd>(&value)) {
        values.emplace_back(BcdToText(*bcd));
      } else {
        std::visit(
            [&](const auto& v) {
              using T = std::decay_t<decltype(v)>;
              if constexpr (std::is_constructible_v<dataset::TFieldData, T>) values.emplace_back(v);
            },
            value);
      }
    }
  }
  // In physical order there is no key: the component says so.
  if (!table.FindKey(values)) {
    err << "ledger: not found\n";
    return kExitNotFound;
  }
  WriteRecordLine(table, PositionKey(table), out);
  return kExitOk;
}

int Blob(TLedgerTable& table, const TReadArgs& args, std::ostream& out, std::ostream& err) {
  const std::optional<std::string> name = Utf8ToLatin1(args.rest[1]);
  const dataset::TField* field = name ? table.FindField(*name) : nullptr;
  if (!field) throw EInputError("no field \"" + args.rest[1] + "\"");
  if (!field->IsBlob()) throw EInputError("field \"" + args.rest[1] + "\" is not a blob field");
  if (!GoTo(table, args.position)) return NoRecordAt(args.rest[0], err);
  // A null blob has no bytes to give.
  if (!field->IsNull()) CopyBlob(*field, out);
  return kExitOk;
}

}  // namespace

bool IsReadVerb(const std::string& verb) { return ShapeOf(verb) != nullptr; }

int RunReadVerb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const TReadArgs parsed = ParseArgs(args);
  TLedgerTable table;
  OpenTable(table, parsed);
  int code;
  if (parsed.verb == "info") {
    code = Info(table, out);
  } else if (parsed.verb == "dump") {
    code = Dump(table, out);
  } else if (parsed.verb == "get") {
    code = Get(table, parsed, out, err);
  } else if (parsed.verb == "find") {
    code = Find(table, parsed, out, err);
  } else {
    code = Blob(table, parsed, out, err);
  }
  // A full disk or a closed pipe must not pass for a complete answer.
  if (!out.flush()) throw std::runtime_error("cannot write the output");
  return code;
}

}  // namespace ledger::tool
