#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/files/byte_order.h"
#include "tests/engine/table_files_util.h"
#include "tools/ledger/base64.h"
#include "tests/tools/run_tool.h"
#include "tools/ledger/commands.h"
#include "tools/ledger/record_json.h"
#include "tools/ledger/schema.h"

namespace ledger::tool {
namespace {

using nlohmann::json;
using ledger::testing::TScratchDir;
using ledger::testing::RunTool;
using ledger::testing::TRun;


std::string InputErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EInputError& e) {
    return e.what();
  }
  return "";
}

// ------------------------------------------------------------------ schema

TEST(LedgerSchema, EveryTypeNameMapsToItsCodes) {
  struct Case {
    const char* field;
    uint8_t type, subtype, size, scale;
  } cases[] = {
      {R"({"name":"a","type":"string","size":20})", ftString, fstNone, 20, 0},
      {R"({"name":"a","type":"date"})", ftDate, fstNone, 0, 0},
      {R"({"name":"a","type":"blob"})", ftBlob, fstMemo, 0, 0},
      {R"({"name":"a","type":"blob","subtype":"graphic"})", ftBlob, fstGraphic, 0, 0},
      {R"({"name":"a","type":"blob","subtype":"typed"})", ftBlob, fstTypedBinary, 0, 0},
      {R"({"name":"a","type":"boolean"})", ftBoolean, fstNone, 0, 0},
      {R"({"name":"a","type":"smallint"})", ftSmallInt, fstNone, 0, 0},
      {R"({"name":"a","type":"integer"})", ftInteger, fstNone, 0, 0},
      {R"({"name":"a","type":"autoinc"})", ftInteger, fstAutoInc, 0, 0},
      {R"({"name":"a","type":"float"})", ftFloat, fstNone, 0, 0},
      {R"({"name":"a","type":"money"})", ftFloat, fstMoney, 0, 0},
      {R"({"name":"a","type":"bcd","scale":2})", ftBCD, fstNone, 0, 2},
      {R"({"name":"a","type":"bytes","size":8})", ftBytes, fstNone, 8, 0},
      {R"({"name":"a","type":"time"})", ftTime, fstNone, 0, 0},
      {R"({"name":"a","type":"timestamp"})", ftTimeStamp, fstNone, 0, 0},
      {R"({"name":"a","type":"word"})", ftWord, fstNone, 0, 0},
      {R"({"name":"a","type":"cardinal"})", ftLongWord, fstNone, 0, 0},
      {R"({"name":"a","type":"largeint"})", ftLargeInt, fstNone, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    TTableSchema s = ParseSchemaText(std::string(R"({"fields":[)") + c.field + "]}");
    ASSERT_EQ(s.data.fields.size(), 1u);
    const TFieldDesc& f = s.data.fields[0];
    EXPECT_EQ(f.type, c.type);
    EXPECT_EQ(f.subtype, c.subtype);
    EXPECT_EQ(f.size, c.size);
    EXPECT_EQ(f.scale, c.scale);
  }
}

TEST(LedgerSchema, TableSettingsAndPrimaryIndex) {
  TTableSchema s = ParseSchemaText(R"({
    "fields": [{"name": "Word", "type": "string", "size": 20}, {"name": "RecID", "type": "autoinc"}],
    "primary": {"fields": ["Word", "RecID"], "compression": 3, "case_insensitive": true,
                "descending": ["RecID"]},
    "block_size": 1024, "locale": 1033, "description": "words"})");
  EXPECT_EQ(s.data.blockSize, 1024);
  EXPECT_EQ(s.locale, 1033u);
  EXPECT_EQ(s.data.languageId, 1033);
  EXPECT_EQ(s.data.sortId, 0);
  EXPECT_EQ(s.data.description, "words");
  ASSERT_TRUE(s.hasPrimary);
  EXPECT_EQ(s.primary.fields, (std::vector<std::string>{"Word", "RecID"}));
  EXPECT_EQ(s.primary.descending, std::vector<std::string>{"RecID"});
  EXPECT_EQ(s.primary.compression, 3);
  EXPECT_TRUE(s.primary.caseInsensitive);

  TTableSchema bare = ParseSchemaText(R"({"fields": [{"name": "n", "type": "integer"}]})");
  EXPECT_FALSE(bare.hasPrimary);
  EXPECT_EQ(bare.data.blockSize, 512);
}

// The data file's 0 means 512; a table made with it keeps the 0.
TEST(LedgerSchema, BlockSizeZeroIsStoredAsGiven) {
  TScratchDir dir;
  { std::ofstream(dir / "s.json") << R"({"fields": [{"name": "Pic", "type": "blob"}], "block_size": 0})"; }
  const std::string picture(1500, 'p');
  TRun created = RunTool({"create", dir.Path(), "T", "--schema", dir / "s.json"}, "{\"Pic\": \"" + picture + "\"}\n");
  ASSERT_EQ(created.code, kExitOk) << created.err;
  const std::vector<uint8_t> data = ledger::testing::ReadBytes(dir / "T.DAT");
  ASSERT_GE(data.size(), 8u);
  EXPECT_EQ(GetU32(data.data(), 4), 0u);
  EXPECT_EQ(json::parse(RunTool({"info", dir.Path(), "T"}).out)["block_size"], 512);
  EXPECT_EQ(RunTool({"check", dir.Path(), "T"}).out, "ok\n");
  EXPECT_EQ(RunTool({"blob", dir.Path(), "T", "1", "Pic"}).out, picture);
}

TEST(LedgerSchema, RefusesWhatCannotBeBuilt) {
  const std::string word = R"({"name":"Word","type":"string","size":20})";
  struct Case {
    std::string schema;
    const char* message;
  } cases[] = {
      {"not json", "not valid JSON"},
      {"[]", "not a JSON object"},
      {R"({"fields": []})", "non-empty array"},
      {R"({"fields": [{"type":"integer"}]})", "a name of 1 to 30"},
      {R"({"fields": [{"name":"1st","type":"integer"}]})", "beginning with a letter"},
      {"{\"fields\": [{\"name\":\"" + std::string(31, 'a') + "\",\"type\":\"date\"}]}", "1 to 30"},
      {R"({"fields": [{"name":"a","type":"varchar"}]})", "unknown type \"varchar\""},
      {R"({"fields": [{"name":"a","type":"string"}]})", "a size of 1 to 250"},
      {R"({"fields": [{"name":"a","type":"string","size":251}]})", "a size of 1 to 250"},
      {R"({"fields": [{"name":"a","type":"integer","size":4}]})", "takes no size"},
      {R"({"fields": [{"name":"a","type":"blob","subtype":"sound"}]})", "unknown blob subtype"},
      {R"({"fields": [{"name":"a","type":"integer","subtype":"memo"}]})", "only blob fields"},
      {R"({"fields": [{"name":"a","type":"bcd","scale":33}]})", "a scale of 0 to 32"},
      {R"({"fields": [{"name":"a","type":"bcd","size":4}]})", "takes no size"},
      {R"({"fields": [{"name":"a","type":"blob","size":4}]})", "takes no size"},
      {R"({"fields": [{"name":"a","type":"float","scale":2}]})", "only bcd fields"},
      {R"({"fields": [{"name":"a","type":"integer"},{"name":"A","type":"date"}]})", "defined twice"},
      {R"({"fields": [{"name":"\u0101","type":"integer"}]})", "beyond ISO 8859-1"},
      {R"({"fields": [{"name":"a","type":"integer","size":"big"}]})", "wrong type"},
      {"{\"fields\": [" + word + "], \"block_size\": 10}", "block_size"},
      {"{\"fields\": [" + word + "], \"description\": \"" + std::string(51, 'd') + "\"}",
       "longer than 50"},
      {"{\"fields\": [" + word + "], \"primary\": {\"fields\": []}}", "at least one field"},
      {"{\"fields\": [" + word + "], \"primary\": {\"fields\": [\"Nope\"]}}", "no field \"Nope\""},
      {"{\"fields\": [" + word + "], \"primary\": {\"fields\": [\"Word\", \"Word\"]}}", "named twice"},
      {"{\"fields\": [" + word + "], \"primary\": {\"fields\": [\"Word\"], \"compression\": 4}}",
       "0 to 3"},
      {"{\"fields\": [" + word + "], \"primary\": {\"fields\": [\"Word\"], \"descending\": [\"X\"]}}",
       "not a key field"},
      {R"({"fields": [{"name":"b","type":"blob"}], "primary": {"fields": ["b"]}})", "cannot be a key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.schema);
    std::string message = InputErrorOf([&] { ParseSchemaText(c.schema); });
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

// ------------------------------------------------------------------ records

const TTableSchema& AllTypes() {
  static const TTableSchema schema = ParseSchemaText(R"({"fields": [
    {"name": "s", "type": "string", "size": 5}, {"name": "d", "type": "date"},
    {"name": "b", "type": "blob"}, {"name": "l", "type": "boolean"},
    {"name": "si", "type": "smallint"}, {"name": "i", "type": "integer"},
    {"name": "f", "type": "float"}, {"name": "c", "type": "bcd", "scale": 30},
    {"name": "y", "type": "bytes", "size": 3}, {"name": "t", "type": "time"},
    {"name": "ts", "type": "timestamp"}, {"name": "w", "type": "word"},
    {"name": "u", "type": "cardinal"}, {"name": "g", "type": "largeint"},
    {"name": "a", "type": "autoinc"}]})");
  return schema;
}

TEST(LedgerRecord, ValuesOfEveryType) {
  TBcd price;
  ASSERT_TRUE(BcdFromText("-12.5", price));
  const int32_t day = EncodeDate(2024, 5, 31);
  struct Case {
    const char* line;
    const char* field;
    TFieldValue expected;
  } cases[] = {
      {R"({"s": "caf\u00e9"})", "s", std::string("caf\xe9")},
      {R"({"s": ""})", "s", std::string()},
      {R"({"d": "2024-05-31"})", "d", int64_t{day}},
      {R"({"b": {"base64": "aGk="}})", "b", std::vector<uint8_t>{'h', 'i'}},
      {R"({"b": "plain"})", "b", std::vector<uint8_t>{'p', 'l', 'a', 'i', 'n'}},
      {R"({"l": true})", "l", true},
      {R"({"si": -32768})", "si", int64_t{-32768}},
      {R"({"i": 2147483647})", "i", int64_t{2147483647}},
      {R"({"f": -0.25})", "f", -0.25},
      {R"({"f": 3})", "f", 3.0},
      {R"({"c": "-12.5"})", "c", price},
      {R"({"y": {"base64": "AQID"}})", "y", std::vector<uint8_t>{1, 2, 3}},
      {R"({"t": "13:45"})", "t", int64_t{(13 * 60 + 45) * 60000}},
      {R"({"t": "23:59:59.999"})", "t", int64_t{86399999}},
      {R"({"ts": "2024-05-31T00:00:01.500"})", "ts", day * 86400000.0 + 1500},
      {R"({"ts": "2024-05-31 12:00"})", "ts", day * 86400000.0 + 43200000},
      {R"({"ts": "2024-05-31"})", "ts", day * 86400000.0},
      {R"({"w": 65535})", "w", int64_t{65535}},
      {R"({"u": 4294967295})", "u", int64_t{4294967295LL}},
      {R"({"g": -9223372036854775808})", "g", int64_t{INT64_MIN}},
      {R"({"i": null})", "i", std::monostate{}},
      {R"({})", "i", std::monostate{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    TJsonRecord r = ParseRecord(json::parse(c.line), AllTypes());
    ASSERT_EQ(r.values.size(), AllTypes().data.fields.size());
    EXPECT_EQ(r.values[AllTypes().FindField(c.field)], c.expected);
    EXPECT_FALSE(r.deleted);
  }
  EXPECT_TRUE(ParseRecord(json::parse(R"({"i": 1, "_deleted": true})"), AllTypes()).deleted);
}

TEST(LedgerRecord, RefusesValuesTheFieldCannotHold) {
  struct Case {
    const char* line;
    const char* message;
  } cases[] = {
      {R"([1])", "must be a JSON object"},
      {R"({"nope": 1})", "no field \"nope\""},
      {R"({"_deleted": 1})", "true or false"},
      {R"({"s": "toolong"})", "longer than 5 characters"},
      {R"({"s": "\u0100"})", "beyond ISO 8859-1"},
      {R"({"s": 5})", "expected text"},
      {R"({"s": "a\u0000b"})", "cannot hold U+0000"},
      {R"({"a": 7})", "assigned by the table"},
      {R"({"d": "2024-02-30"})", "expected a date"},
      {R"({"d": "31.05.2024"})", "expected a date"},
      {R"({"t": "24:00"})", "expected a time"},
      {R"({"t": "12:00:00.5"})", "expected a time"},
      {R"({"ts": "2024-05-31X12:00"})", "expected a timestamp"},
      {R"({"l": "yes"})", "true or false"},
      {R"({"si": 32768})", "out of range"},
      {R"({"i": 1.5})", "expected an integer"},
      {R"({"w": -1})", "out of range"},
      {R"({"u": 4294967296})", "out of range"},
      {R"({"g": 9223372036854775808})", "out of range"},
      {R"({"f": "1.0"})", "expected a number"},
      {R"({"c": "123.5"})", "at most 2 digits before the point and 30 after"},
      {R"({"c": "1.2.3"})", "at most 2 digits before the point and 30 after"},
      {R"({"y": {"base64": "AQIDBA=="}})", "longer than 3 bytes"},
      {R"({"b": {"base64": "a$=="}})", "bad base64"},
      {R"({"b": {"file": "/nonexistent/picture.png"}})", "cannot read the file"},
      {R"({"b": 7})", "expected {\"base64\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string message = InputErrorOf([&] { ParseRecord(json::parse(c.line), AllTypes()); });
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

TEST(LedgerRecord, BlobFromFileIsStreamedIntoTheTable) {
  TScratchDir dir;
  std::vector<uint8_t> picture;
  for (int i = 0; i < 300; ++i) picture.push_back(static_cast<uint8_t>(i * 7 + 3));
  ledger::testing::WriteBytes(dir / "pic.bin", picture);
  json line = {{"b", {{"file", dir / "pic.bin"}}}};
  TJsonRecord r = ParseRecord(line, AllTypes());
  EXPECT_EQ(r.values[AllTypes().FindField("b")], TFieldValue{});
  ASSERT_EQ(r.blobFiles.size(), 1u);
  EXPECT_EQ(r.blobFiles[0].field, AllTypes().FindField("b") + 1);
  EXPECT_EQ(r.blobFiles[0].size, 300u);

  { std::ofstream(dir / "s.json") << R"({"fields": [{"name": "Pic", "type": "blob", "subtype": "graphic"}]})"; }
  TRun created = RunTool({"create", dir.Path(), "T", "--schema", dir / "s.json"},
                         "{\"Pic\": {\"file\": \"" + (dir / "pic.bin") + "\"}}\n");
  ASSERT_EQ(created.code, kExitOk) << created.err;
  std::vector<uint8_t> blobFile = ledger::testing::ReadBytes(dir / "T.BLB");
  EXPECT_NE(std::search(blobFile.begin(), blobFile.end(), picture.begin(), picture.end()), blobFile.end());
  EXPECT_EQ(RunTool({"check", dir.Path(), "T"}).out, "ok\n");
}

TEST(LedgerBase64, EncodesWithPaddingWhatDecodingGivesBack) {
  const std::vector<uint8_t> bytes = {0x00, 0xFF, 0x10, 0x80, 0x7F, 0xFE};
  const char* expected[] = {"", "AA==", "AP8=", "AP8Q", "AP8QgA==", "AP8QgH8=", "AP8QgH/+"};
  for (std::size_t n = 0; n <= bytes.size(); ++n) {
    std::span<const uint8_t> part(bytes.data(), n);
    EXPECT_EQ(EncodeBase64(part), expected[n]);
    EXPECT_EQ(DecodeBase64(expected[n]), std::vector<uint8_t>(part.begin(), part.end()));
  }
}

TEST(LedgerBase64, DecodesPaddedInputAndRefusesBrokenInput) {
  struct Case {
    const char* text;
    std::optional<std::string> bytes;
  } cases[] = {
      {"", std::string()},         {"YQ==", std::string("a")},   {"YWI=", std::string("ab")},
      {"YWJj", std::string("abc")}, {"YW\nJj", std::string("abc")}, {"YWJjZA", std::string("abcd")},
      {"Y", std::nullopt},         {"YQ=a", std::nullopt},       {"YQ===", std::nullopt},
      {"Y@==", std::nullopt},      {"YWJ==", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto got = DecodeBase64(c.text);
    ASSERT_EQ(got.has_value(), c.bytes.has_value());
    if (got) {
      EXPECT_EQ(std::string(got->begin(), got->end()), *c.bytes);
    }
  }
}

// ------------------------------------------------------------------ command line

TEST(LedgerCommand, UsageErrorsExit64AndHelpExits0) {
  std::vector<std::vector<std::string>> usage = {
      {},
      {"frobnicate"},
      {"check", "dir"},
      {"check", "dir", "table", "extra"},
      {"create", "dir", "table"},
      {"create", "dir", "--schema", "s.json"},
      {"create", "dir", "table", "--schema"},
      {"create", "dir", "table", "--schema", "s.json", "--fast"},
      {"create", "dir", "table", "--schema", "s.json", "--order", "sideways"},
      {"create", "dir", "table", "--schema", "s.json", "--order"},
  };
  for (const auto& args : usage) {
    TRun r = RunTool(args);
    EXPECT_EQ(r.code, kExitUsage) << ::testing::PrintToString(args);
    EXPECT_NE(r.err.find("usage: ledger"), std::string::npos);
  }
  TRun help = RunTool({"--help"});
  EXPECT_EQ(help.code, kExitOk);
  EXPECT_NE(help.out.find("ledger check DIR TABLE"), std::string::npos);
  EXPECT_NE(help.out.find("ledger create DIR TABLE --schema FILE"), std::string::npos);
}

// Where each word's record lies in the data file shows the order it was stored in.
TEST(LedgerCommand, CreateStoresRecordsInKeyOrderUnlessAskedForInputOrder) {
  struct TCase {
    std::vector<std::string> order;
    bool alphaFirst;
  } cases[] = {{{}, true}, {{"--order", "key"}, true}, {{"--order=input"}, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.order));
    TScratchDir dir;
    { std::ofstream(dir / "s.json") << R"({"fields": [{"name": "w", "type": "string", "size": 8}], "primary": {"fields": ["w"]}})"; }
    std::vector<std::string> args = {"create", dir.Path(), "T", "--schema", dir / "s.json"};
    args.insert(args.end(), c.order.begin(), c.order.end());
    TRun created = RunTool(args, "{\"w\": \"bravo\"}\n{\"w\": \"alpha\"}\n");
    ASSERT_EQ(created.code, kExitOk) << created.err;
    const std::vector<uint8_t> data = ledger::testing::ReadBytes(dir / "T.DAT");
    const std::string bytes(data.begin(), data.end());
    ASSERT_NE(bytes.find("alpha"), std::string::npos);
    EXPECT_EQ(bytes.find("alpha") < bytes.find("bravo"), c.alphaFirst);
    EXPECT_EQ(RunTool({"check", dir.Path(), "T"}).out, "ok\n");
    EXPECT_EQ(RunTool({"get", dir.Path(), "T", "1"}).out.find("alpha") != std::string::npos, true);
  }
}

TEST(LedgerCommand, CreateRefusesBadInputAndLeavesNoTable) {
  TScratchDir dir;
  {
    std::ofstream(dir / "s.json")
        << R"({"fields": [{"name": "n", "type": "integer"}], "primary": {"fields": ["n"]}})";
  }
  struct Case {
    const char* input;
    const char* message;
  } cases[] = {
      {"{\"n\": 1}\n\n{oops\n", "line 3: not valid JSON"},
      {"{\"n\": \"x\"}\n", "line 1: field \"n\": expected an integer"},
      {"{\"n\": 1}\n{\"n\": 2}\n{\"n\": 1}\n", "Ledger Engine Error # 9729"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    TRun r = RunTool({"create", dir.Path(), "T", "--schema=" + (dir / "s.json")}, c.input);
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    // Neither the table nor a half-written file of it stays behind.
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
      EXPECT_EQ(entry.path().filename(), "s.json");
  }
  TRun noSchema = RunTool({"create", dir.Path(), "T", "--schema", dir / "missing.json"});
  EXPECT_EQ(noSchema.code, kExitFailed);
  EXPECT_NE(noSchema.err.find("cannot read the schema file"), std::string::npos);
}

TEST(LedgerCommand, CreateShowsProgressOnlyForLargeInputs) {
  TScratchDir dir;
  { std::ofstream(dir / "s.json") << R"({"fields": [{"name": "n", "type": "integer"}]})"; }
  std::string small = "{\"n\": 1}\n", large;
  for (int64_t i = 0; i <= kProgressEvery; ++i) large += "{}\n";
  TRun quiet = RunTool({"create", dir.Path(), "Small", "--schema", dir / "s.json"}, small);
  EXPECT_EQ(quiet.code, kExitOk) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  TRun chatty = RunTool({"create", dir.Path(), "Large", "--schema", dir / "s.json"}, large);
  EXPECT_EQ(chatty.code, kExitOk) << chatty.err;
  EXPECT_EQ(chatty.err, "ledger: " + std::to_string(kProgressEvery) + " records read\nledger: " +
                            std::to_string(kProgressEvery + 1) + " records stored\n");
}

TEST(LedgerCommand, CreateNeverOverwritesATable) {
  TScratchDir dir;
  { std::ofstream(dir / "s.json") << R"({"fields": [{"name": "n", "type": "integer"}]})"; }
  ledger::testing::WriteBytes(dir / "T.IDX", {1, 2, 3});
  TRun r = RunTool({"create", dir.Path(), "T", "--schema", dir / "s.json"}, "");
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("exists"), std::string::npos);
  EXPECT_EQ(ledger::testing::ReadBytes(dir / "T.IDX"), (std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace ledger::tool
