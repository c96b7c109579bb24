// The read verbs of the ledger tool: info, dump, get, find and blob, on tables
// made by `ledger create` or by the table builder.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <optional>
#include <utility>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <zlib.h>

#include "engine/build/table_builder.h"
#include "engine/components/ledger_table.h"
#include "tests/engine/rewriter_process.h"
#include "tests/engine/table_files_util.h"
#include "tests/tools/run_tool.h"
#include "tools/ledger/commands.h"
#include "tools/ledger/record_output.h"

namespace ledger::tool {
namespace {

using ledger::testing::RunTool;
using ledger::testing::TRun;
using ledger::testing::TScratchDir;
using nlohmann::json;
using nlohmann::ordered_json;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The dump's records with their positions left out.
std::vector<ordered_json> Records(const std::string& dump) {
  std::vector<ordered_json> records;
  for (const std::string& line : Lines(dump)) {
    ordered_json record = ordered_json::parse(line);
    record.erase("recno");
    records.push_back(std::move(record));
  }
  return records;
}


TIndexDefinition Index(std::string name, std::vector<std::string> fields, bool unique = false) {
  TIndexDefinition index;
  index.name = std::move(name);
  index.fields = std::move(fields);
  index.unique = unique;
  return index;
}

void Build(const TScratchDir& dir, const std::string& table, TTableDefinition definition,
           const std::vector<std::vector<TFieldValue>>& rows, const std::vector<int>& deleted = {}) {
  TTableBuilder builder(dir.Path(), table, std::move(definition), TBuildTarget::NewFiles, PosixFileSystem());
  std::vector<int32_t> numbers;
  for (const auto& row : rows) numbers.push_back(builder.Append(row));
  for (int i : deleted) builder.MarkDeleted(numbers.at(static_cast<std::size_t>(i)));
  builder.Finish();
}

TRun Create(const TScratchDir& dir, const std::string& table, const std::string& schema,
            const std::string& records) {
  const std::string path = dir / (table + ".json");
  { std::ofstream(path) << schema; }
  return RunTool({"create", dir.Path(), table, "--schema", path}, records);
}

std::string Crc32Hex(const std::vector<uint8_t>& bytes) {
  char text[9];
  std::snprintf(text, sizeof text, "%08lx", crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
  return text;
}

const int32_t kDay = EncodeDate(2024, 5, 31);

// ------------------------------------------------------------------ dump

TEST(LedgerDump, ShowsEachTypeInTheFormCreateReads) {
  TScratchDir dir;
  const std::string schema = R"({"fields": [
    {"name": "s", "type": "string", "size": 5}, {"name": "d", "type": "date"},
    {"name": "t", "type": "time"}, {"name": "ts", "type": "timestamp"},
    {"name": "l", "type": "boolean"}, {"name": "si", "type": "smallint"},
    {"name": "i", "type": "integer"}, {"name": "w", "type": "word"},
    {"name": "u", "type": "cardinal"}, {"name": "g", "type": "largeint"},
    {"name": "f", "type": "float"}, {"name": "m", "type": "money"},
    {"name": "c", "type": "bcd", "scale": 2}, {"name": "y", "type": "bytes", "size": 3},
    {"name": "b", "type": "blob"}, {"name": "a", "type": "autoinc"}]})";
  struct Case {
    const char* field;
    const char* input;   // the value in a create line
    const char* output;  // the value dump shows
  } cases[] = {
      {"s", R"("caf\u00e9")", R"("café")"},
      {"s", R"("")", "null"},  // an empty string is stored as null
      {"s", R"("\u00ff\t\"")", R"("ÿ\t\"")"},
      {"d", R"("0001-01-01")", R"("0001-01-01")"},
      {"d", R"("9999-12-31")", R"("9999-12-31")"},
      {"t", R"("13:45")", R"("13:45:00")"},
      {"t", R"("23:59:59.999")", R"("23:59:59.999")"},
      {"t", R"("00:00")", R"("00:00:00")"},  // midnight is a time, not null
      {"ts", R"("2024-05-31 12:00")", R"("2024-05-31T12:00:00")"},
      {"ts", R"("0001-01-01T00:00:00.001")", R"("0001-01-01T00:00:00.001")"},
      {"l", "false", "false"},
      {"l", "true", "true"},
      {"si", "-32768", "-32768"},
      {"i", "2147483647", "2147483647"},
      {"w", "65535", "65535"},
      {"u", "4294967295", "4294967295"},
      {"g", "-9223372036854775808", "-9223372036854775808"},
      {"f", "-0.25", "-0.25"},
      {"f", "1e300", "1e+300"},
      {"m", "2.5", "2.5"},
      {"c", R"("-12.50")", R"("-12.50")"},
      {"c", R"("123456789012345678901234567890.99")", R"("123456789012345678901234567890.99")"},
      {"y", R"({"base64": "AP8A"})", R"({"base64": "AP8A"})"},
      {"b", R"("hello")", R"({"size": 5, "crc32": "3610a686"})"},
      {"b", R"("k2")", R"({"size": 2, "crc32": "0f07f113"})"},  // leading zero kept
  };
  std::string input;
  for (const Case& c : cases) input += std::string("{\"") + c.field + "\": " + c.input + "}\n";
  TRun created = Create(dir, "T", schema, input);
  ASSERT_EQ(created.code, kExitOk) << created.err;

  TRun dump = RunTool({"dump", dir.Path(), "T"});
  ASSERT_EQ(dump.code, kExitOk) << dump.err;
  const std::vector<std::string> lines = Lines(dump.out);
  ASSERT_EQ(lines.size(), std::size(cases));
  const std::vector<std::string> names = {"recno", "s", "d", "t", "ts", "l", "si", "i", "w",
                                          "u", "g", "f", "m", "c", "y", "b", "a"};
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const Case& c = cases[k];
    SCOPED_TRACE(lines[k]);
    ordered_json record = ordered_json::parse(lines[k]);
    std::vector<std::string> keys;
    for (auto it = record.begin(); it != record.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, names);
    EXPECT_EQ(record["recno"], k + 1);
    EXPECT_EQ(record["a"], k + 1);  // autoinc numbers records in the order they came
    EXPECT_EQ(record[c.field], ordered_json::parse(c.output));
    for (const std::string& name : names) {
      if (name != c.field && name != "recno" && name != "a") {
        EXPECT_TRUE(record[name].is_null()) << name;
      }
    }
  }
  // Compact, one line per record, keys in field order.
  EXPECT_EQ(lines[0],
            R"({"recno":1,"s":"café","d":null,"t":null,"ts":null,"l":null,"si":null,"i":null,)"
            R"("w":null,"u":null,"g":null,"f":null,"m":null,"c":null,"y":null,"b":null,"a":1})");
}

TEST(LedgerDump, RoundTripsThroughCreate) {
  TScratchDir dir;
  const std::string schema = R"({"fields": [
    {"name": "Word", "type": "string", "size": 20}, {"name": "When", "type": "timestamp"},
    {"name": "Day", "type": "date"}, {"name": "At", "type": "time"}, {"name": "Ok", "type": "boolean"},
    {"name": "N", "type": "largeint"}, {"name": "F", "type": "float"}, {"name": "Price", "type": "bcd", "scale": 4},
    {"name": "Raw", "type": "bytes", "size": 4}],
    "primary": {"fields": ["Word"]}, "locale": 1033})";
  // In key order (the locale's: "Äpfel" between "ant" and "bee") and in the forms
  // dump writes, so the dump gives them back as they are.
  const std::vector<std::string> input = {
      R"({"Word":"ant","When":null,"Day":null,"At":null,"Ok":false,"N":9223372036854775807,"F":-1e-300,"Price":"99","Raw":null})",
      R"({"Word":"Äpfel","When":"2024-05-31T13:45:00.250","Day":"2024-05-31","At":"08:00:00","Ok":true,"N":-1,"F":0.1,"Price":"-0.0001","Raw":{"base64":"AAECAw=="}})",
      R"({"Word":"bee","When":"1999-12-31T23:59:59","Day":"0001-01-01","At":"23:59:59.999","Ok":null,"N":0,"F":3.0,"Price":null,"Raw":{"base64":"/////w=="}})",
  };
  std::string text;
  for (const std::string& line : input) text += line + "\n";
  ASSERT_EQ(Create(dir, "One", schema, text).code, kExitOk);
  TRun first = RunTool({"dump", dir.Path(), "One"});
  ASSERT_EQ(first.code, kExitOk) << first.err;
  std::vector<ordered_json> records = Records(first.out);
  ASSERT_EQ(records.size(), input.size());
  for (std::size_t i = 0; i < input.size(); ++i) EXPECT_EQ(records[i], ordered_json::parse(input[i]));

  std::string again;
  for (const ordered_json& record : records) again += record.dump() + "\n";
  TRun created = Create(dir, "Two", schema, again);
  ASSERT_EQ(created.code, kExitOk) << created.err;
  EXPECT_EQ(RunTool({"dump", dir.Path(), "Two"}).out, first.out);
}

TEST(LedgerDump, ValuesJsonCannotHoldAndAFieldCalledRecno) {
  TScratchDir dir;
  TTableDefinition def;
  def.data.fields = {FieldDef("recno", ftInteger), FieldDef("f", ftFloat), FieldDef("ts", ftTimeStamp)};
  const double ms = kDay * 86400000.0;
  Build(dir, "T", def,
        {{int64_t{7}, std::numeric_limits<double>::quiet_NaN(), ms + 0.5},
         {std::monostate{}, std::numeric_limits<double>::infinity(), -1.0},
         {std::monostate{}, -std::numeric_limits<double>::infinity(), ms}});
  TRun dump = RunTool({"dump", dir.Path(), "T"});
  ASSERT_EQ(dump.code, kExitOk) << dump.err;
  // Text no calendar stands for keeps its stored number rather than losing it.
  EXPECT_EQ(dump.out, "{\"_recno\":1,\"recno\":7,\"f\":\"NaN\",\"ts\":" + json(ms + 0.5).dump() + "}\n"
                      "{\"_recno\":2,\"recno\":null,\"f\":\"Infinity\",\"ts\":-1.0}\n"
                      "{\"_recno\":3,\"recno\":null,\"f\":\"-Infinity\",\"ts\":\"2024-05-31T00:00:00\"}\n");
}

// ------------------------------------------------------------------ order and positions

TEST(LedgerRead, DumpFollowsTheChosenIndexAndGetAgreesWithIt) {
  TScratchDir dir;
  TTableDefinition def;
  def.data.fields = {FieldDef("Word", ftString, 10), FieldDef("Len", ftSmallInt)};
  def.primary = Index("", {"Word"}, true);
  TIndexDefinition byLen = Index("ByLen", {"Len"});
  byLen.descending = true;
  def.secondary = {byLen};
  Build(dir, "T", def,
        {{std::string("cat"), int64_t{3}}, {std::string("horse"), int64_t{5}}, {std::string("ox"), int64_t{2}},
         {std::string("bee"), int64_t{3}}, {std::string("zebra"), int64_t{5}}, {std::string("ant"), int64_t{3}}},
        {3});

  struct Case {
    std::vector<std::string> index;  // extra arguments
    std::string column;
    std::vector<json> expected;
  } cases[] = {
      {{}, "Word", {"ant", "cat", "horse", "ox", "zebra"}},
      {{"--index", ""}, "Word", {"ant", "cat", "horse", "ox", "zebra"}},
      {{"--index", "ByLen"}, "Len", {5, 5, 3, 3, 2}},
      {{"--index=bylen"}, "Len", {5, 5, 3, 3, 2}},  // index names ignore case
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.index));
    std::vector<std::string> args = {"dump", dir.Path(), "T"};
    args.insert(args.end(), c.index.begin(), c.index.end());
    TRun dump = RunTool(args);
    ASSERT_EQ(dump.code, kExitOk) << dump.err;
    const std::vector<std::string> lines = Lines(dump.out);
    ASSERT_EQ(lines.size(), c.expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      json record = json::parse(lines[i]);
      EXPECT_EQ(record["recno"], i + 1);
      EXPECT_EQ(record[c.column], c.expected[i]);
      // A position dump shows is the one get takes.
      args = {"get", dir.Path(), "T", std::to_string(i + 1)};
      args.insert(args.end(), c.index.begin(), c.index.end());
      TRun get = RunTool(args);
      EXPECT_EQ(get.code, kExitOk) << get.err;
      EXPECT_EQ(get.out, lines[i] + "\n");
    }
  }
}

TEST(LedgerRead, PositionsNoRecordHasExitOne) {
  TScratchDir dir;
  ASSERT_EQ(Create(dir, "T", R"({"fields": [{"name": "n", "type": "integer"}, {"name": "b", "type": "blob"}]})",
                   "{\"n\": 1}\n{\"n\": 2, \"_deleted\": true}\n{\"n\": 3}\n")
                .code,
            kExitOk);
  ASSERT_EQ(Create(dir, "Empty", R"({"fields": [{"name": "n", "type": "integer"}, {"name": "b", "type": "blob"}],
                                     "primary": {"fields": ["n"]}})",
                   "")
                .code,
            kExitOk);
  struct Case {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"get", "T", "3"}, "ledger: no record at position 3\n"},  // the deleted record takes no position
      {{"get", "T", "0"}, "ledger: no record at position 0\n"},
      {{"get", "T", "-1"}, "ledger: no record at position -1\n"},
      {{"get", "T", "99999999999"}, "ledger: no record at position 99999999999\n"},
      {{"blob", "T", "4", "b"}, "ledger: no record at position 4\n"},
      {{"get", "Empty", "1"}, "ledger: no record at position 1\n"},
      {{"blob", "Empty", "1", "b"}, "ledger: no record at position 1\n"},
      {{"find", "Empty", "1"}, "ledger: not found\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::vector<std::string> args = c.args;
    args.insert(args.begin() + 1, dir.Path());
    TRun r = RunTool(args);
    EXPECT_EQ(r.code, kExitNotFound);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
  TRun empty = RunTool({"dump", dir.Path(), "Empty"});
  EXPECT_EQ(empty.code, kExitOk);
  EXPECT_EQ(empty.out, "");
}

// ------------------------------------------------------------------ find

TEST(LedgerFind, ConvertsEachValueByItsKeyFieldsType) {
  TScratchDir dir;
  TTableDefinition def;
  def.data.fields = {FieldDef("n", ftInteger),  FieldDef("d", ftDate),    FieldDef("s", ftString, 10),
                     FieldDef("f", ftFloat),    FieldDef("ts", ftTimeStamp), FieldDef("l", ftBoolean),
                     FieldDef("c", ftBCD)};
  def.data.fields[6].scale = 2;
  def.primary = Index("", {"n", "d", "s"}, true);
  def.secondary = {Index("ByF", {"f"}), Index("ByTs", {"ts"}), Index("ByFlag", {"l"}), Index("ByC", {"c"})};
  auto bcd = [](const char* text) {
    TBcd value;
    BcdFromText(text, value);
    return value;
  };
  const double noon = kDay * 86400000.0 + 43200000;
  Build(dir, "T", def,
        {{int64_t{1}, int64_t{kDay}, std::string("caf\xe9"), 1.5, noon + 1500, true, bcd("-1.25")},
         {int64_t{1}, int64_t{kDay + 1}, std::string("dog"), -2.0, noon, false, bcd("7")},
         {int64_t{2}, int64_t{kDay}, std::string("emu"), 1e10, std::monostate{}, true, bcd("0.5")}});

  struct Case {
    std::vector<std::string> args;  // after DIR TABLE
    int code;
    std::string found;  // s of the record found, or a piece of stderr
  } cases[] = {
      {{"1"}, kExitOk, "café"},  // a partial key finds the first record holding it
      {{"1", "2024-06-01"}, kExitOk, "dog"},
      {{"1", "2024-05-31", "café"}, kExitOk, "café"},
      {{"2"}, kExitOk, "emu"},
      {{"3"}, kExitNotFound, "not found"},
      {{"-1"}, kExitNotFound, "not found"},
      {{"1", "2024-05-31", "cafe"}, kExitNotFound, "not found"},
      {{"--index", "ByF", "-2"}, kExitOk, "dog"},
      {{"--index=ByF", "1e10"}, kExitOk, "emu"},
      {{"--index", "ByTs", "2024-05-31T12:00:01.500"}, kExitOk, "café"},
      {{"--index", "ByFlag", "false"}, kExitOk, "dog"},
      {{"--index", "ByC", "7.00"}, kExitOk, "dog"},
      {{"--index", "ByC", "-1.25"}, kExitOk, "café"},
      {{"x"}, kExitFailed, "key field \"n\": expected an integer"},
      {{"4294967296"}, kExitFailed, "key field \"n\": out of range"},
      {{"1", "31.05.2024"}, kExitFailed, "key field \"d\": expected a date"},
      {{"1", "2024-05-31", "much too long"}, kExitFailed, "longer than 10 characters"},
      {{"1", "2024-05-31", "café", "x"}, kExitFailed, "4 values for an index of 3 key fields"},
      {{"--index", "ByF", "1.5x"}, kExitFailed, "key field \"f\": expected a number"},
      {{"--index", "ByFlag", "yes"}, kExitFailed, "expected true or false"},
      {{"--index", "Nope", "1"}, kExitFailed, "Ledger Engine Error # 10022"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::vector<std::string> args = {"find", dir.Path(), "T"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TRun r = RunTool(args);
    EXPECT_EQ(r.code, c.code) << r.err;
    if (c.code == kExitOk) {
      ASSERT_EQ(Lines(r.out).size(), 1u) << r.out;
      EXPECT_EQ(json::parse(r.out)["s"], c.found);
    } else {
      EXPECT_EQ(r.out, "");
      EXPECT_NE(r.err.find(c.found), std::string::npos) << r.err;
    }
  }
}

TEST(LedgerFind, ATableWithoutIndexHasNoKeyToSearch) {
  TScratchDir dir;
  ASSERT_EQ(Create(dir, "T", R"({"fields": [{"name": "n", "type": "integer"}]})", "{\"n\": 1}\n").code, kExitOk);
  TRun r = RunTool({"find", dir.Path(), "T", "1"});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_EQ(r.err, "ledger: No fields defined for the current index.\n");
}

// ------------------------------------------------------------------ blob

TEST(LedgerBlob, WritesTheBytesDumpSummarises) {
  TScratchDir dir;
  std::vector<uint8_t> big(150000);  // more than one read of the stream
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 131 + i / 256);
  TTableDefinition def;
  def.data.fields = {FieldDef("n", ftInteger), FieldDef("Pic", ftBlob, 0, fstGraphic), FieldDef("Note", ftBlob, 0, fstMemo)};
  def.primary = Index("", {"n"}, true);
  Build(dir, "T", def,
        {{int64_t{1}, big, std::string("memo")},
         {int64_t{2}, std::monostate{}, std::string(std::string("\0\xff\n", 3))}});

  struct Case {
    const char* position;
    const char* field;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"1", "Pic", big},
      {"1", "note", {'m', 'e', 'm', 'o'}},  // field names ignore case
      {"2", "Note", {0, 0xff, '\n'}},
      {"2", "Pic", {}},  // null: nothing to write
  };
  TRun dump = RunTool({"dump", dir.Path(), "T"});
  ASSERT_EQ(dump.code, kExitOk) << dump.err;
  const std::vector<std::string> lines = Lines(dump.out);
  ASSERT_EQ(lines.size(), 2u);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.position) + " " + c.field);
    TRun r = RunTool({"blob", dir.Path(), "T", c.position, c.field});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(std::vector<uint8_t>(r.out.begin(), r.out.end()), c.bytes);
    json shown = json::parse(lines.at(std::stoul(c.position) - 1))[std::string(c.field) == "note" ? "Note" : c.field];
    if (c.bytes.empty()) {
      EXPECT_TRUE(shown.is_null());
    } else {
      EXPECT_EQ(shown, (json{{"size", c.bytes.size()}, {"crc32", Crc32Hex(c.bytes)}}));
    }
  }
  struct Refusal {
    std::vector<std::string> args;
    const char* err;
  } refusals[] = {
      {{"1", "Nope"}, "ledger: no field \"Nope\"\n"},
      {{"1", "n"}, "ledger: field \"n\" is not a blob field\n"},
  };
  for (const Refusal& c : refusals) {
    std::vector<std::string> args = {"blob", dir.Path(), "T"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    TRun r = RunTool(args);
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_EQ(r.err, c.err);
  }
}

// ------------------------------------------------------------------ rewrites

// Record "w1" of each version of table V: its version number, and a blob
// that version 3 no longer has.
std::optional<std::vector<uint8_t>> BlobOf(int version, int i) {
  if (version == 3 && i == 1) return std::nullopt;
  return std::vector<uint8_t>(static_cast<std::size_t>(300 * version + i), static_cast<uint8_t>(version * 7 + i));
}

void BuildVersion(const TScratchDir& dir, int version, TBuildTarget target) {
  TTableDefinition def;
  def.data.fields = {FieldDef("Word", ftString, 20), FieldDef("Version", ftInteger), FieldDef("Data", ftBlob, 0, fstBinary)};
  def.primary = Index("", {"Word"}, true);
  TTableBuilder builder(dir.Path(), "V", def, target, PosixFileSystem());
  for (int i = 1; i <= 3; ++i) {
    TFieldValue blob;
    if (auto bytes = BlobOf(version, i)) blob = *bytes;
    builder.Append(std::vector<TFieldValue>{"w" + std::to_string(i), int64_t{version}, blob});
  }
  builder.Finish();
}

// Runs a hook just before the first blob is read: after the fields before it.
class TTableWithHook : public TLedgerTable {
 public:
  std::unique_ptr<dataset::TStream> CreateBlobStream(const dataset::TField& field,
                                                     dataset::TBlobStreamMode mode) override {
    if (auto hook = std::exchange(beforeBlob, nullptr)) hook();
    return TLedgerTable::CreateBlobStream(field, mode);
  }
  std::function<void()> beforeBlob;
};

// Another process rewrites the table in place between the reads of a
// record's fields and of its blob. The blob read sees the new record; the
// line must then be all of it, not old fields beside a new blob, or beside
// a blob of size 0 that neither version had.
TEST(LedgerRead, ALineIsOfOneVersionOfItsRecordWhileAnotherProcessRewritesIt) {
  TScratchDir dir;
  BuildVersion(dir, 1, TBuildTarget::NewFiles);
  testing::TRewriterProcess writer(dir / "V.IDX", [&](int version) { BuildVersion(dir, version, TBuildTarget::InPlace); });
  for (int version : {2, 3}) {
    SCOPED_TRACE(version);
    TTableWithHook table;
    table.SetDatabaseName(dir.Path());
    table.SetTableName("V");
    table.SetReadOnly(true);
    table.Open();
    table.beforeBlob = [&] { EXPECT_EQ(writer.Rewrite(version), testing::TRewriterProcess::TOutcome::Rewritten); };
    std::ostringstream out;
    WriteRecordLine(table, PositionKey(table), out);
    const json line = json::parse(out.str());
    EXPECT_EQ(line["Word"], "w1");
    EXPECT_EQ(line["Version"], version);
    if (const auto blob = BlobOf(version, 1)) {
      EXPECT_EQ(line["Data"], (json{{"size", blob->size()}, {"crc32", Crc32Hex(*blob)}}));
    } else {
      EXPECT_TRUE(line["Data"].is_null()) << line["Data"];
    }
    table.Close();
  }
  EXPECT_TRUE(writer.Finish());
}

// ------------------------------------------------------------------ info

TEST(LedgerInfo, DescribesFieldsIndexesAndSettings) {
  TScratchDir dir;
  TTableDefinition def;
  def.data.fields = {FieldDef("Word", ftString, 20), FieldDef("Id", ftInteger, 0, fstAutoInc),
                     FieldDef("Price", ftBCD), FieldDef("Pic", ftBlob, 0, fstGraphic), FieldDef("Cost", ftFloat, 0, fstMoney)};
  def.data.fields[0].required = true;
  def.data.fields[2].scale = 2;
  def.data.description = "W\xf6rter";
  def.data.languageId = 1033;
  def.data.blockSize = 1024;
  def.data.encrypted = true;
  def.primary = Index("", {"Word"}, true);
  def.primary->compression = 3;
  TIndexDefinition byPrice = Index("ByPrice", {"Price", "Word"});
  byPrice.descendingFields = {"Price"};
  byPrice.caseInsensitive = true;
  def.secondary = {byPrice};
  Build(dir, "Words", def,
        {{std::string("cat"), std::monostate{}, std::monostate{}, std::monostate{}, 1.0},
         {std::string("dog"), std::monostate{}, std::monostate{}, std::monostate{}, 2.0}},
        {0});

  TRun r = RunTool({"info", dir.Path(), "Words"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(ordered_json::parse(r.out), ordered_json::parse(R"({
    "table": "Words", "description": "Wörter", "locale": 1033, "record_count": 1,
    "fields": [
      {"name": "Word", "type": "string", "subtype": null, "size": 20, "required": true},
      {"name": "Id", "type": "autoinc", "subtype": null, "size": 0, "required": false},
      {"name": "Price", "type": "bcd", "subtype": null, "size": 0, "required": false, "scale": 2},
      {"name": "Pic", "type": "blob", "subtype": "graphic", "size": 0, "required": false},
      {"name": "Cost", "type": "money", "subtype": null, "size": 0, "required": false}],
    "indexes": [
      {"name": "", "primary": true, "fields": ["Word"], "unique": true, "descending": false,
       "descending_fields": [], "case_insensitive": false, "compression": 3},
      {"name": "ByPrice", "primary": false, "fields": ["Price", "Word"], "unique": false,
       "descending": false, "descending_fields": ["Price"], "case_insensitive": true, "compression": 0}],
    "block_size": 1024, "encrypted": true})"));
  // The scrambled records read as any others.
  EXPECT_EQ(Records(RunTool({"dump", dir.Path(), "Words"}).out),
            std::vector<ordered_json>{ordered_json::parse(
                R"({"Word":"dog","Id":2,"Price":null,"Pic":null,"Cost":2.0})")});
}

// ------------------------------------------------------------------ command line

TEST(LedgerRead, EngineFailuresExitTwoAndCommandLineErrorsExit64) {
  TScratchDir dir;
  ASSERT_EQ(Create(dir, "T", R"({"fields": [{"name": "n", "type": "integer"}], "primary": {"fields": ["n"]}})",
                   "{\"n\": 1}\n")
                .code,
            kExitOk);
  const std::string d = dir.Path();
  const std::string missing = "Ledger Engine Error # 11010 Table 'Nope' does not exist\n";
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err;  // the whole of stderr, or for usage its first line
  } cases[] = {
      {{"info", d, "Nope"}, kExitFailed, missing},
      {{"dump", d, "Nope"}, kExitFailed, missing},
      {{"get", d, "Nope", "1"}, kExitFailed, missing},
      {{"find", d, "Nope", "1"}, kExitFailed, missing},
      {{"blob", d, "Nope", "1", "b"}, kExitFailed, missing},
      {{"dump", d, "T", "--index", "X"}, kExitFailed,
       "Ledger Engine Error # 10022 Invalid secondary index name 'X' specified for the table 'T'\n"},
      {{"info", d}, kExitUsage, "ledger: info takes DIR TABLE"},
      {{"info", d, "T", "--index", "X"}, kExitUsage, "ledger: unknown option --index"},
      {{"dump", d, "T", "extra"}, kExitUsage, "ledger: dump takes DIR TABLE [--index NAME]"},
      {{"dump", d, "T", "--index"}, kExitUsage, "ledger: --index needs a name"},
      {{"dump", d, "T", "--fast"}, kExitUsage, "ledger: unknown option --fast"},
      {{"get", d, "T"}, kExitUsage, "ledger: get takes DIR TABLE N [--index NAME]"},
      {{"get", d, "T", "x"}, kExitUsage, "ledger: N must be a record position, not \"x\""},
      {{"get", d, "T", "1.5"}, kExitUsage, "ledger: N must be a record position, not \"1.5\""},
      {{"get", d, "Nope", "first"}, kExitUsage, "ledger: N must be a record position, not \"first\""},
      {{"find", d, "T"}, kExitUsage, "ledger: find takes DIR TABLE VALUE... [--index NAME]"},
      {{"blob", d, "T", "1"}, kExitUsage, "ledger: blob takes DIR TABLE N FIELD [--index NAME]"},
      {{"dump", d, "sub/T"}, kExitUsage, "ledger: TABLE is a table name without a directory"},
      {{"dump", d, "sub\\T"}, kExitUsage, "ledger: TABLE is a table name without a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    TRun r = RunTool(c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, "");
    if (c.code == kExitUsage) {
      EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), c.err + "\n");
      EXPECT_NE(r.err.find("usage: ledger"), std::string::npos);
    } else {
      EXPECT_EQ(r.err, c.err);
    }
  }
  // After "--" even what looks like an option is a value.
  TRun value = RunTool({"find", d, "T", "--", "--index"});
  EXPECT_EQ(value.code, kExitFailed);
  EXPECT_EQ(value.err, "ledger: key field \"n\": expected an integer\n");

  // Output that could not be written is a failure, not a dump.
  std::istringstream in;
  std::ostream nowhere(nullptr);
  std::ostringstream err;
  EXPECT_EQ(RunLedger({"dump", d, "T"}, in, nowhere, err), kExitFailed);
  EXPECT_EQ(err.str(), "ledger: cannot write the output\n");

  TRun help = RunTool({"--help"});
  for (const char* verb : {"info DIR TABLE", "dump DIR TABLE", "get DIR TABLE N", "find DIR TABLE VALUE",
                           "blob DIR TABLE N FIELD"})
    EXPECT_NE(help.out.find(std::string("ledger ") + verb), std::string::npos) << verb;
}

}  // namespace
}  // namespace ledger::tool
