#include "engine/files/data_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "engine/build/table_builder.h"
#include "engine/files/byte_order.h"
#include "engine/files/file_list.h"
#include "engine/files/scramble.h"
#include "table_files_util.h"

namespace ledger {
namespace {

using testing::CodeOf;
using testing::ReadBytes;
using testing::TFakeOwner;
using testing::TScratchDir;
using testing::WriteBytes;


// One field of every stored type, with the value each test record gets.
struct TSample {
  TFieldDesc desc;
  TFieldValue value;
};

std::vector<TSample> EveryType() {
  TBcd price;
  BcdFromText("12.50", price);
  TFieldDesc upper = FieldDef("Code", ftString, 6);
  upper.charCase = ccUpper;
  upper.defaultText = "ABC";
  TFieldDesc amount = FieldDef("Amount", ftBCD);
  amount.scale = 2;
  return {
      {FieldDef("ID", ftInteger, 0, fstAutoInc), std::monostate{}},
      {FieldDef("Word", ftString, 20), std::string("crane")},
      {upper, std::string("blend")},
      {FieldDef("Born", ftDate), int64_t{EncodeDate(2001, 9, 11)}},
      {FieldDef("Graphic", ftBlob, 0, fstGraphic), TBlobRef{3, 9}},
      {FieldDef("Done", ftBoolean), true},
      {FieldDef("Small", ftSmallInt), int64_t{-12}},
      {FieldDef("Count", ftInteger), int64_t{123456}},
      {FieldDef("Ratio", ftFloat), 0.125},
      {FieldDef("Cost", ftFloat, 0, fstMoney), 19.99},
      {amount, price},
      {FieldDef("Raw", ftBytes, 4), std::vector<uint8_t>{1, 2, 3, 4}},
      {FieldDef("At", ftTime), int64_t{3723004}},
      {FieldDef("Stamp", ftTimeStamp), 63000000000000.0},
      {FieldDef("Unsigned", ftWord), int64_t{65000}},
      {FieldDef("Big", ftLongWord), int64_t{4000000000LL}},
      {FieldDef("Var", ftVarBytes, 3), std::vector<uint8_t>{7, 0, 7}},
      {FieldDef("Huge", ftLargeInt), int64_t{1LL << 40}},
  };
}

TDataFileDefinition Definition(const std::vector<TSample>& samples) {
  TDataFileDefinition def;
  for (const TSample& s : samples) def.fields.push_back(s.desc);
  def.description = "Words with pictures";
  return def;
}

TDataFileDefinition Narrow() {  // 100-byte records
  TDataFileDefinition def;
  def.fields = {FieldDef("Name", ftString, 89)};
  return def;
}

class DataFileTest : public ::testing::Test {
 protected:
  std::string Path(const char* name = "Words.DAT") const { return dir_ / name; }

  // A closed table of n records numbered in their "Name" field.
  void MakeNarrow(int n, const char* name = "Words.DAT") {
    TDataFile file;
    file.SetFileName(Path(name));
    file.Create(Narrow());
    for (int i = 1; i <= n; ++i) {
      TRecord* r = file.NewRecordSlot();
      file.SetField(*r, 1, std::string("word") + std::to_string(i));
      file.ReleaseRecord(r);
    }
    file.FlushRecords();
    file.WriteHeader(false);
    file.Close();
  }

  TScratchDir dir_;
};

class DataFileRoundTrip : public DataFileTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DataFileRoundTrip, EveryFieldTypeSurvivesCreateWriteReopenRead) {
  const bool encrypted = GetParam();
  std::vector<TSample> samples = EveryType();
  TDataFileDefinition def = Definition(samples);
  def.encrypted = encrypted;
  def.password = "secret";
  {
    TDataFile file;
    file.SetFileName(Path());
    file.Create(def);
    for (int n = 0; n < 3; ++n) {
      TRecord* r = file.NewRecordSlot();
      for (std::size_t i = 1; i < samples.size(); ++i) file.SetField(*r, static_cast<int>(i + 1), samples[i].value);
      file.ReleaseRecord(r);
    }
    file.FlushRecords();
    file.WriteHeader(false);
    file.Close();
  }
  std::vector<uint8_t> raw = ReadBytes(Path());
  std::string text(raw.begin(), raw.end());
  EXPECT_EQ(text.find("crane") == std::string::npos, encrypted);
  EXPECT_EQ(text.find("Graphic") == std::string::npos, encrypted);
  EXPECT_EQ(text.find("pictures") == std::string::npos, encrypted);
  EXPECT_EQ(text.find("secret"), std::string::npos);

  TDataFile file;
  file.SetFileName(Path());
  file.Open();
  ASSERT_NO_THROW(file.CheckStructure());
  EXPECT_EQ(file.RecordCount(), 3);
  EXPECT_EQ(file.Description(), "Words with pictures");
  EXPECT_EQ(file.Password(), encrypted ? "secret" : "");
  EXPECT_EQ(file.Header().engineVersion, 31700);
  EXPECT_GT(file.Header().lastWrite, 40000.0);  // days since 1899-12-30
  EXPECT_EQ(file.FindField("graphic"), 5);
  EXPECT_EQ(file.BlobFieldCount(), 1);
  for (int n = 1; n <= 3; ++n) {
    TRecord* r = file.GetRecord(n);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Link(), n);
    EXPECT_EQ(file.GetField(*r, 1), TFieldValue(int64_t{n}));  // auto-increment
    for (std::size_t i = 1; i < samples.size(); ++i) {
      TFieldValue expected = samples[i].value;
      if (samples[i].desc.name == "Code") expected = std::string("BLEND");
      EXPECT_EQ(file.GetField(*r, static_cast<int>(i + 1)), expected) << samples[i].desc.name;
    }
    file.ReleaseRecord(r);
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, DataFileRoundTrip, ::testing::Bool());

TEST_F(DataFileTest, EmptyTableIsHeaderAndDescriptorsOnly) {
  MakeNarrow(0);
  TDataFile file;
  file.SetFileName(Path());
  file.Open();
  EXPECT_NO_THROW(file.CheckStructure());
  EXPECT_EQ(file.Header().nextRecord, 1);
  EXPECT_EQ(file.RecordCount(), 0);
  EXPECT_EQ(file.Size(), 127u + 768u);
  EXPECT_EQ(file.RecordSize(), 100);
  EXPECT_EQ(file.BlobBlockSize(), 512u);
}

// Each case breaks one rule of the structure check in a valid two-record file.
struct Corruption {
  const char* label;
  std::function<void(std::vector<uint8_t>&)> damage;
  TErrorCode atOpen;
  TErrorCode atCheck;
};

constexpr std::size_t D1 = 127, D2 = 127 + 768;  // descriptors 1 and 2

void SetName(std::vector<uint8_t>& b, std::size_t desc, const std::string& name) {
  b[desc + 2] = static_cast<uint8_t>(name.size());
  std::copy(name.begin(), name.end(), b.begin() + static_cast<std::ptrdiff_t>(desc + 3));
}

TEST_F(DataFileTest, EveryBrokenRuleOfTheStructureCheckIsReported) {
  const Corruption cases[] = {
      {"version", [](auto& b) { b[8] = 4; }, 0, LEDGER_OLDVERSION},
      {"unknown locale", [](auto& b) { PutU16(b.data(), 103, 0xFFFF); }, 0, LEDGER_CANNOTLOADLDDRV},
      {"field count above 1024", [](auto& b) { PutU16(b.data(), 23, 1025); }, LEDGER_HEADERCORRUPT, 0},
      {"record size below its header", [](auto& b) { PutU16(b.data(), 21, 8); }, LEDGER_HEADERCORRUPT, 0},
      {"type 0", [](auto& b) { b[D2 + 84] = 0; }, 0, LEDGER_HEADERCORRUPT},
      {"type without stored form", [](auto& b) { b[D2 + 84] = 14; }, 0, LEDGER_HEADERCORRUPT},
      {"empty name", [](auto& b) { SetName(b, D2, "  "); }, 0, LEDGER_HEADERCORRUPT},
      {"name starts with a digit", [](auto& b) { SetName(b, D2, "9lives"); }, 0, LEDGER_HEADERCORRUPT},
      {"duplicate name", [](auto& b) { SetName(b, D2, "id"); }, 0, LEDGER_HEADERCORRUPT},
      {"duplicate number", [](auto& b) { PutU16(b.data(), D2, 1); }, 0, LEDGER_HEADERCORRUPT},
      {"number not its position", [](auto& b) { PutU16(b.data(), D2, 3); }, 0, LEDGER_HEADERCORRUPT},
      {"string longer than 250", [](auto& b) { b[D2 + 86] = 251; }, 0, LEDGER_HEADERCORRUPT},
      {"integer with a size", [](auto& b) { b[D1 + 86] = 4; }, 0, LEDGER_HEADERCORRUPT},
      {"default of the wrong type", [](auto& b) { b[D1 + 85] = 0; b[D1 + 196] = 1; b[D1 + 197] = 'x'; },
       0, LEDGER_HEADERCORRUPT},
      {"scale outside BCD", [](auto& b) { b[D2 + 87] = 2; }, 0, LEDGER_HEADERCORRUPT},
      {"offset off the running offset", [](auto& b) { PutU16(b.data(), D2 + 90, 10); }, 0, LEDGER_HEADERCORRUPT},
      {"auto-increment not at 5", [](auto& b) { PutU16(b.data(), D1 + 90, 9); }, 0, LEDGER_HEADERCORRUPT},
      {"record size off the fields", [](auto& b) { PutU16(b.data(), 21, 50); }, 0, LEDGER_HEADERCORRUPT},
      {"partial record at the end", [](auto& b) { b.push_back(0); }, 0, LEDGER_HEADERCORRUPT},
      {"next record off the size", [](auto& b) { PutI32(b.data(), 13, 5); }, 0, LEDGER_HEADERCORRUPT},
      {"first free past the end", [](auto& b) { PutI32(b.data(), 9, 3); }, 0, LEDGER_HEADERCORRUPT},
      {"first free negative", [](auto& b) { PutI32(b.data(), 9, -1); }, 0, LEDGER_HEADERCORRUPT},
      {"header cut short", [](auto& b) { b.resize(100); }, LEDGER_READERR, 0},
      {"descriptors cut short", [](auto& b) { b.resize(D2 + 100); }, LEDGER_READERR, 0},
  };
  TDataFileDefinition def;
  def.fields = {FieldDef("ID", ftInteger, 0, fstAutoInc), FieldDef("Word", ftString, 10)};
  {
    TDataFile file;
    file.SetFileName(Path("Good.DAT"));
    file.Create(def);
    for (int i = 0; i < 2; ++i) file.ReleaseRecord(file.NewRecordSlot());
    file.FlushRecords();
    file.WriteHeader(false);
    file.Close();
  }
  const std::vector<uint8_t> good = ReadBytes(Path("Good.DAT"));
  for (const Corruption& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<uint8_t> bytes = good;
    c.damage(bytes);
    WriteBytes(Path("Bad.DAT"), bytes);
    TDataFile file;
    file.SetFileName(Path("Bad.DAT"));
    file.SetErrorContext("Bad", dir_.Path());
    try {
      file.Open();
      EXPECT_EQ(c.atOpen, 0);
    } catch (const ELedgerEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), c.atOpen);
      EXPECT_EQ(e.TableName(), "Bad");
      EXPECT_EQ(e.DatabaseName(), dir_.Path());
      EXPECT_FALSE(file.IsOpen());
      continue;
    }
    EXPECT_EQ(CodeOf([&] { file.CheckStructure(); }), c.atCheck);
  }
}

TEST_F(DataFileTest, VersionCheckAloneIgnoresTheFileSize) {
  MakeNarrow(2);
  std::vector<uint8_t> bytes = ReadBytes(Path());
  bytes.resize(bytes.size() - 7);
  WriteBytes(Path(), bytes);
  TDataFile file;
  file.SetFileName(Path());
  file.Open();
  EXPECT_NO_THROW(file.CheckVersion());
  TRecord* r = file.GetRecord(1);
  EXPECT_EQ(file.GetField(*r, 1), TFieldValue(std::string("word1")));
  file.ReleaseRecord(r);
  // The cut record cannot be read whole.
  EXPECT_EQ(CodeOf([&] { file.GetRecord(2); }), LEDGER_READERR);
  EXPECT_EQ(CodeOf([&] { file.CheckStructure(); }), LEDGER_HEADERCORRUPT);
}

TEST_F(DataFileTest, ReadAheadWindowsFollowTheDirectionAndTheCallersCount) {
  MakeNarrow(400);
  TDataFile file;
  file.SetFileName(Path());
  file.Open();
  ASSERT_EQ(file.ReadAheadCount(), 81);  // 8192 div 100
  struct Step {
    int32_t record;
    TReadDirection direction;
    bool readAhead;
    int32_t count;
    int64_t reads;  // totals after the step
    int64_t recordsRead;
  };
  const Step steps[] = {
      {1, TReadDirection::Forward, true, -1, 1, 81},
      {81, TReadDirection::Forward, true, -1, 1, 81},  // inside the window: a hit
      {82, TReadDirection::Forward, false, -1, 2, 82},  // no read-ahead: one record
      {400, TReadDirection::Backward, true, -1, 3, 163},
      {200, TReadDirection::Forward, true, 5, 4, 168},
      {204, TReadDirection::Forward, true, -1, 4, 168},
      {205, TReadDirection::Forward, true, -1, 5, 249},
      {398, TReadDirection::Forward, true, -1, 5, 249},  // read backward before
      {300, TReadDirection::Forward, true, 1000, 6, 330},  // never past the cap
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.record);
    TRecord* r = file.GetRecord(s.record, s.direction, s.readAhead, s.count);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(file.GetField(*r, 1), TFieldValue("word" + std::to_string(s.record)));
    file.ReleaseRecord(r);
    EXPECT_EQ(file.Stats().reads, s.reads);
    EXPECT_EQ(file.Stats().recordsRead, s.recordsRead);
  }
}

// A miss that names the records asked for next (the rest of an index leaf)
// reads those the cache lacks under the same check, records within one
// read-ahead window of each other in one read; later requests for them are
// hits that check nothing.
TEST_F(DataFileTest, AMissReadsTheFollowersTheCacheLacksUnderOneCheck) {
  MakeNarrow(400);  // 100-byte records: a window of 81
  auto evens = [](int32_t from, int32_t to) {
    std::vector<int32_t> out;
    for (int32_t r = from; r <= to; r += 2) out.push_back(r);
    return out;
  };
  struct Case {
    const char* name;
    int32_t cacheBytes;
    std::vector<int32_t> before;  // read first, one at a time
    int32_t record;
    std::vector<int32_t> following;
    int64_t reads;  // by the miss
    int64_t recordsRead;
    std::vector<int32_t> cached;  // afterwards
    std::vector<int32_t> notCached;
  };
  const Case cases[] = {
      {"neighbours share a read", 16384, {}, 100, {300, 5, 101, 102, 250}, 3, 1 + 3 + 51,
       {5, 100, 101, 102, 250, 300}, {6, 103, 251}},
      {"no more than the cache holds", 1000, {}, 1, evens(20, 60), 1, 36, {1, 20, 28, 36}, {38, 60}},
      {"cached followers are not read again", 16384, {300}, 100, {300, 101}, 1, 2, {100, 101, 300}, {}},
      {"numbers outside the file are passed over", 16384, {}, 100, {0, -1, 401, 100, 9999}, 1, 1, {100},
       {399, 400}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFakeOwner owner;
    owner.limits.dataCacheBytes = c.cacheBytes;
    TDataFile file(&owner);
    file.SetFileName(Path());
    file.Open();
    for (int32_t r : c.before) file.ReleaseRecord(file.GetRecord(r));
    file.ResetStats();
    owner.checks = 0;

    TRecord* record = file.GetRecord(c.record, c.following);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->Number(), c.record);
    file.ReleaseRecord(record);
    EXPECT_EQ(owner.checks, 1);
    EXPECT_EQ(file.Stats().reads, c.reads);
    EXPECT_EQ(file.Stats().recordsRead, c.recordsRead);
    EXPECT_LE(file.CacheCount(), file.CacheLimit());
    for (int32_t r : c.cached) {
      SCOPED_TRACE(r);
      TRecord* hit = file.CachedRecord(r);
      ASSERT_NE(hit, nullptr);
      EXPECT_EQ(file.GetField(*hit, 1), TFieldValue("word" + std::to_string(r)));
      file.ReleaseRecord(hit);
    }
    for (int32_t r : c.notCached) EXPECT_EQ(file.CachedRecord(r), nullptr) << r;
    EXPECT_EQ(owner.checks, 1);
    EXPECT_EQ(file.Stats().reads, c.reads);
    EXPECT_EQ(file.PinnedCount(), 0u);
  }
}

// The batch takes its entries only from free places and clean unpinned
// records; with none to spare the record alone is read the usual way, which
// grows the cache. A change found by the check gives no record.
TEST_F(DataFileTest, FollowersPushOutOnlyCleanUnpinnedRecords) {
  MakeNarrow(400);
  TFakeOwner owner;
  owner.limits.dataCacheBytes = 1000;  // ten records
  TDataFile file(&owner);
  file.SetFileName(Path());
  file.Open();
  std::vector<TRecord*> held;
  for (int32_t r = 1; r <= 3; ++r) held.push_back(file.GetRecord(r));
  TRecord* changed = file.GetRecord(4);
  file.SetField(*changed, 1, std::string("changed"));
  file.ReleaseRecord(changed);
  for (int32_t r = 5; r <= 10; ++r) file.ReleaseRecord(file.GetRecord(r));

  std::vector<int32_t> following;
  for (int32_t r = 201; r <= 250; ++r) following.push_back(r);
  file.ReleaseRecord(file.GetRecord(200, following));
  EXPECT_EQ(file.CacheCount(), 10u);
  for (int32_t r = 1; r <= 4; ++r) {
    TRecord* kept = file.CachedRecord(r);
    ASSERT_NE(kept, nullptr) << r;
    EXPECT_EQ(file.GetField(*kept, 1), TFieldValue(r == 4 ? std::string("changed") : "word" + std::to_string(r)));
    file.ReleaseRecord(kept);
  }
  for (int32_t r = 200; r <= 205; ++r) {
    TRecord* hit = file.CachedRecord(r);
    ASSERT_NE(hit, nullptr) << r;
    file.ReleaseRecord(hit);
  }
  EXPECT_EQ(file.CachedRecord(206), nullptr);

  // Every entry pinned now: record 300 alone, in a grown cache.
  held.push_back(file.GetRecord(4));
  for (int32_t r = 200; r <= 205; ++r) held.push_back(file.GetRecord(r));
  file.ResetStats();
  TRecord* alone = file.GetRecord(300, following);
  ASSERT_NE(alone, nullptr);
  EXPECT_EQ(file.GetField(*alone, 1), TFieldValue(std::string("word300")));
  EXPECT_EQ(file.Stats().recordsRead, 1);
  EXPECT_EQ(file.CacheCapacity(), 74u);
  file.ReleaseRecord(alone);
  for (TRecord* r : held) file.ReleaseRecord(r);

  owner.changesToReport = 1;
  file.ResetStats();
  EXPECT_EQ(file.GetRecord(350, following), nullptr);
  EXPECT_EQ(file.Stats().reads, 0);
}

TEST_F(DataFileTest, CacheEvictsTheLeastRecentlyUsedCleanRecord) {
  MakeNarrow(30);
  TFakeOwner owner;
  owner.strict = true;
  owner.limits.dataCacheBytes = 1000;  // ten 100-byte records
  TDataFile file(&owner);
  file.SetFileName(Path());
  file.Open();
  ASSERT_EQ(file.CacheLimit(), 10u);
  auto touch = [&](int32_t r) {
    TRecord* record = file.GetRecord(r);
    EXPECT_EQ(record->Number(), r);
    file.ReleaseRecord(record);
  };
  for (int r = 1; r <= 10; ++r) touch(r);
  touch(1);   // now the most recent
  touch(11);  // pushes out 2, the oldest
  EXPECT_EQ(file.CacheCount(), 10u);
  int64_t reads = file.Stats().reads;
  touch(1);
  EXPECT_EQ(file.Stats().reads, reads);
  touch(2);
  EXPECT_EQ(file.Stats().reads, reads + 1);

  // Pinned and modified records stay; the list grows by 64 when nothing can go.
  std::vector<TRecord*> held;
  for (int r = 1; r <= 10; ++r) held.push_back(file.GetRecord(r));
  TRecord* extra = file.GetRecord(20);
  EXPECT_EQ(file.CacheCapacity(), 74u);
  EXPECT_EQ(file.CacheCount(), 11u);
  for (TRecord* r : held) file.ReleaseRecord(r);
  file.ReleaseRecord(extra);
  file.TrimCache();
  EXPECT_EQ(file.CacheCount(), 10u);
  EXPECT_EQ(file.CacheCapacity(), 10u);

  // With every entry modified the cache writes them out to make room.
  for (int r = 1; r <= 10; ++r) {
    TRecord* record = file.GetRecord(r);
    file.SetField(*record, 1, std::string("changed"));
    file.ReleaseRecord(record);
  }
  touch(25);
  EXPECT_EQ(file.Stats().writes, 1);  // records 1-10 in one run
  EXPECT_EQ(file.Stats().recordsWritten, 10);
  EXPECT_EQ(file.PooledRecords(), 1u);  // the record dropped by the trim
}

// A scan's run of records is served without reads or checks, but never over
// what this process changed: the cache wins while a change is unwritten,
// writing it forgets the run, and so does a change another process made.
TEST_F(DataFileTest, AScanRunServesItsRecordsUntilAWriteOrAChangeForgetsIt) {
  MakeNarrow(300);
  TFakeOwner owner;
  owner.limits.dataCacheBytes = 1000;  // ten records
  TDataFile file(&owner);
  file.SetFileName(Path());
  file.Open();
  const int32_t run = std::min(300, file.ScanWindowRecords());
  auto holds = [&](const uint8_t* image, const std::string& text) {
    const uint8_t* end = image + file.RecordSize();
    return std::search(image, end, text.begin(), text.end()) != end;
  };
  ASSERT_NE(file.ScanRecord(1, 1, 300), nullptr);
  EXPECT_EQ(file.Stats().reads, 1);
  EXPECT_EQ(file.Stats().recordsRead, run);
  const int64_t checks = owner.checks;
  for (int32_t r = 2; r <= run; ++r) {
    const uint8_t* image = file.ScanRecord(r, r, 300);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(GetI32(image, 1), r);  // an active record's link is its number
  }
  EXPECT_EQ(file.Stats().reads, 1);
  EXPECT_EQ(owner.checks, checks);

  TRecord* record = file.GetRecord(5);
  file.SetField(*record, 1, std::string("changed"));
  file.ReleaseRecord(record);
  EXPECT_TRUE(holds(file.ScanRecord(5, 5, 300), "changed"));
  file.FlushRecords();
  for (int32_t r = 100; r < 120; ++r) file.ReleaseRecord(file.GetRecord(r));  // 5 leaves the cache
  ASSERT_EQ(file.CachedRecord(5), nullptr);
  const int64_t reads = file.Stats().reads;
  EXPECT_TRUE(holds(file.ScanRecord(5, 5, 300), "changed"));
  EXPECT_EQ(file.Stats().reads, reads + 1);

  file.FlushRecords();
  ASSERT_NE(file.ScanRecord(6, 6, 300), nullptr);
  owner.changesToReport = 1;
  EXPECT_EQ(file.ScanRecord(1, 1, 300), nullptr);
  EXPECT_NE(file.ScanRecord(6, 6, 300), nullptr);
  EXPECT_EQ(file.Stats().reads, reads + 2);
}

TEST_F(DataFileTest, ModifiedRecordsAreWrittenInConsecutiveRuns) {
  MakeNarrow(10);
  TDataFile file;
  file.SetFileName(Path());
  file.Open();
  for (int r : {1, 2, 3, 7, 9, 10}) {
    TRecord* record = file.GetRecord(r);
    file.SetField(*record, 1, "new" + std::to_string(r));
    file.ReleaseRecord(record);
  }
  TRecord* pinned = file.GetRecord(5);
  file.SetField(*pinned, 1, std::string("held"));
  file.FlushRecords();
  EXPECT_EQ(file.Stats().writes, 3);
  EXPECT_EQ(file.Stats().recordsWritten, 6);
  EXPECT_TRUE(pinned->Modified());
  file.ReleaseRecord(pinned);
  file.Close();

  file.Open();
  for (int r = 1; r <= 10; ++r) {
    TRecord* record = file.GetRecord(r);
    bool changed = r <= 3 || r >= 9 || r == 7;
    EXPECT_EQ(file.GetField(*record, 1), TFieldValue((changed ? "new" : "word") + std::to_string(r)));
    file.ReleaseRecord(record);
  }
}

TEST_F(DataFileTest, FreedSlotsAreReusedOnlyWithAPrimaryIndex) {
  MakeNarrow(5);
  for (bool primary : {true, false}) {
    SCOPED_TRACE(primary);
    TFakeOwner owner;
    owner.strict = true;
    owner.hasPrimaryIndex = primary;
    TDataFile file(&owner);
    file.SetFileName(Path());
    file.Open();
    for (int r : {2, 4}) {
      TRecord* record = file.GetRecord(r);
      file.FreeRecordSlot(record);
      EXPECT_EQ(CodeOf([&] { file.FreeRecordSlot(record); }), LEDGER_KEYORRECDELETED);
      file.ReleaseRecord(record);
    }
    EXPECT_EQ(file.Header().firstFree, 4);
    TRecord* a = file.NewRecordSlot();
    TRecord* b = file.NewRecordSlot();
    if (primary) {
      EXPECT_EQ(a->Number(), 4);
      EXPECT_EQ(b->Number(), 2);
      EXPECT_EQ(file.Header().firstFree, 0);
      EXPECT_EQ(file.RecordCount(), 5);
    } else {
      EXPECT_EQ(a->Number(), 6);
      EXPECT_EQ(b->Number(), 7);
    }
    EXPECT_EQ(b->AutoIncValue(), a->AutoIncValue() + 1);
    EXPECT_FALSE(b->Deleted());
    file.ReleaseRecord(a);
    file.ReleaseRecord(b);
    file.Close();  // nothing written: the next round starts from the same file
  }
}

TEST_F(DataFileTest, RecordNumbersOutsideTheFileAreRefused) {
  MakeNarrow(3);
  TDataFile file;
  file.SetFileName(Path());
  file.Open();
  EXPECT_EQ(CodeOf([&] { file.GetRecord(0); }), LEDGER_FILECORRUPT);
  EXPECT_EQ(CodeOf([&] { file.GetRecord(5); }), LEDGER_FILECORRUPT);
  EXPECT_EQ(CodeOf([&] { file.GetRecord(-3); }), LEDGER_FILECORRUPT);
  // A free chain that leads to a live record.
  TRecord* r = file.GetRecord(2);
  file.ReleaseRecord(r);
  std::vector<uint8_t> bytes = ReadBytes(Path());
  file.Close();
  PutI32(bytes.data(), 9, 2);
  WriteBytes(Path(), bytes);
  file.Open();
  EXPECT_EQ(CodeOf([&] { file.NewRecordSlot(); }), LEDGER_FILECORRUPT);
}

TEST_F(DataFileTest, ReadingTheNextRecordNumberAppendsUpToTheLimit) {
  MakeNarrow(1);
  TDataFile file;
  file.SetFileName(Path());
  file.Open();
  TRecord* r = file.GetRecord(2);
  EXPECT_EQ(file.RecordCount(), 2);
  EXPECT_TRUE(file.HeaderModified());
  EXPECT_EQ(file.Stats().reads, 0);
  file.ReleaseRecord(r);
  file.FlushRecords();
  EXPECT_EQ(file.Size(), 127u + 768u + 200u);
  file.Close();

  std::vector<uint8_t> bytes = ReadBytes(Path());
  PutI32(bytes.data(), 13, kMaxRecords + 1);
  WriteBytes(Path(), bytes);
  file.Open();
  EXPECT_EQ(CodeOf([&] { file.GetRecord(kMaxRecords + 1); }), LEDGER_TABLEFULL);
  file.Close();

  // A header counting slots the file does not have: no write far past its end.
  PutI32(bytes.data(), 13, 1000);
  WriteBytes(Path(), bytes);
  file.Open();
  EXPECT_EQ(CodeOf([&] { file.GetRecord(1000); }), LEDGER_HEADERCORRUPT);
  EXPECT_EQ(CodeOf([&] { file.NewRecordSlot(); }), LEDGER_HEADERCORRUPT);
}

TEST_F(DataFileTest, HeaderWritesCountAndOthersSeeThem) {
  MakeNarrow(1);
  TDataFile mine, theirs;
  mine.SetFileName(Path());
  theirs.SetFileName(Path());
  mine.Open();
  theirs.Open();
  int32_t counter = mine.Header().changeCounter;
  EXPECT_FALSE(mine.WriteHeader(false));
  EXPECT_FALSE(mine.HeaderChanged());

  theirs.ReleaseRecord(theirs.NewRecordSlot());
  theirs.FlushRecords();
  EXPECT_TRUE(theirs.WriteHeader(false));
  EXPECT_FALSE(theirs.HeaderModified());
  EXPECT_EQ(theirs.Header().changeCounter, counter + 1);

  EXPECT_TRUE(mine.HeaderChanged());
  EXPECT_EQ(mine.RecordCount(), 2);
  EXPECT_FALSE(mine.HeaderChanged());
  EXPECT_TRUE(mine.WriteHeader(true));
  EXPECT_EQ(mine.Header().changeCounter, counter + 2);
  theirs.ReloadHeader();
  EXPECT_EQ(theirs.Header().changeCounter, counter + 2);
  theirs.Close();
  mine.Close();

  // A header whose layout disagrees with the descriptors in memory is not adopted.
  mine.Open();
  std::vector<uint8_t> bytes = ReadBytes(Path());
  PutI32(bytes.data(), 0, mine.Header().changeCounter + 1);
  PutU16(bytes.data(), 21, 120);
  WriteBytes(Path(), bytes);
  EXPECT_EQ(CodeOf([&] { mine.HeaderChanged(); }), LEDGER_HEADERCORRUPT);
  EXPECT_EQ(mine.RecordSize(), 100);
}

// The full check puts computed physical sizes in place of the stored ones.
// A header another process wrote is judged by the bytes the file held at
// open: stored bytes that differ from the computed ones are no change.
TEST_F(DataFileTest, AnotherWritersHeaderIsComparedWithTheStoredSizes) {
  MakeNarrow(1);
  constexpr std::size_t kStoredSize = 127 + 88;
  std::vector<uint8_t> bytes = ReadBytes(Path());
  bytes[kStoredSize] = 0;
  WriteBytes(Path(), bytes);
  TDataFile mine, theirs;
  mine.SetFileName(Path());
  theirs.SetFileName(Path());
  mine.Open();
  mine.CheckStructure();
  ASSERT_EQ(mine.Fields()[0].physicalSize, 90);
  theirs.Open();
  EXPECT_TRUE(theirs.WriteHeader(true));
  theirs.Close();
  EXPECT_TRUE(mine.HeaderChanged());
  EXPECT_EQ(mine.Header().changeCounter, theirs.Header().changeCounter);

  // Stored bytes that did change still keep the header out.
  bytes = ReadBytes(Path());
  PutI32(bytes.data(), 0, mine.Header().changeCounter + 1);
  bytes[kStoredSize] = 90;
  WriteBytes(Path(), bytes);
  EXPECT_EQ(CodeOf([&] { mine.HeaderChanged(); }), LEDGER_HEADERCORRUPT);
  mine.Close();
}

TEST_F(DataFileTest, EmptyTruncatesAfterTheDescriptorsAndKeepsCounting) {
  MakeNarrow(4);
  TDataFile file;
  file.SetFileName(Path());
  file.Open();
  TRecord* held = file.GetRecord(3);
  int32_t counter = file.Header().changeCounter;
  file.Empty();
  EXPECT_EQ(file.Size(), 127u + 768u);
  EXPECT_EQ(file.RecordCount(), 0);
  EXPECT_EQ(file.Header().lastAutoInc, 0);
  EXPECT_EQ(file.CacheCount(), 0u);
  // A record pinned before stays usable for its holder.
  EXPECT_EQ(file.GetField(*held, 1), TFieldValue(std::string("word3")));
  file.ReleaseRecord(held);
  file.WriteHeader(false);
  EXPECT_GT(file.Header().changeCounter, counter);
  EXPECT_NO_THROW(file.CheckStructure());
}

TEST_F(DataFileTest, CountersRestartAtOneAfterTheLargestValue) {
  MakeNarrow(0);
  std::vector<uint8_t> bytes = ReadBytes(Path());
  PutI32(bytes.data(), 17, INT_MAX);
  PutI32(bytes.data(), 112, INT_MAX - 1);
  WriteBytes(Path(), bytes);
  TDataFile file;
  file.SetFileName(Path());
  file.Open();
  EXPECT_EQ(file.NextAutoIncValue(), 1);
  EXPECT_EQ(file.NextBlobId(), INT_MAX);
  EXPECT_EQ(file.NextBlobId(), 1);
}

TEST_F(DataFileTest, CacheMissAsksTheTableForItsChangeCheck) {
  MakeNarrow(3);
  TFakeOwner owner;
  TDataFile file(&owner);
  file.SetFileName(Path());
  file.Open();
  owner.changesToReport = 1;
  EXPECT_EQ(file.GetRecord(1), nullptr);
  EXPECT_EQ(owner.checks, 1);
  TRecord* r = file.GetRecord(1);
  ASSERT_NE(r, nullptr);
  file.ReleaseRecord(r);
  EXPECT_EQ(owner.checks, 2);
  file.ReleaseRecord(file.GetRecord(1));  // a hit needs no check
  EXPECT_EQ(owner.checks, 2);
  owner.strict = true;
  file.DropCache();
  file.ReleaseRecord(file.GetRecord(2));
  EXPECT_EQ(owner.checks, 2);
}

TEST_F(DataFileTest, EncryptedRecordsAreScrambledOnePerRecord) {
  TDataFileDefinition def = Narrow();
  def.encrypted = true;
  TDataFile file;
  file.SetFileName(Path());
  file.Create(def);
  for (int i = 0; i < 2; ++i) {
    TRecord* r = file.NewRecordSlot();
    file.SetField(*r, 1, std::string("same"));
    file.ReleaseRecord(r);
  }
  file.FlushRecords();
  file.WriteHeader(false);
  file.Close();
  std::vector<uint8_t> bytes = ReadBytes(Path());
  std::vector<uint8_t> first(bytes.begin() + 895, bytes.begin() + 995);
  std::vector<uint8_t> second(bytes.begin() + 995, bytes.begin() + 1095);
  Scramble(first.data(), first.size(), kRecordKey);
  Scramble(second.data(), second.size(), kRecordKey);
  EXPECT_EQ(first[10], 's');
  EXPECT_EQ(second[10], 's');
  EXPECT_EQ(GetI32(second.data(), 1), 2);
}

TEST_F(DataFileTest, CreateRefusesTooManyBlobsAndOversizedRecords) {
  TDataFileDefinition blobs;
  for (int i = 0; i < 129; ++i) blobs.fields.push_back(FieldDef(("B" + std::to_string(i)).c_str(), ftBlob));
  TDataFile file;
  file.SetFileName(Path());
  EXPECT_EQ(CodeOf([&] { file.Create(blobs); }), LEDGER_BLOBLIMIT);
  TDataFileDefinition wide;
  for (int i = 0; i < 262; ++i) wide.fields.push_back(FieldDef(("S" + std::to_string(i)).c_str(), ftString, 250));
  EXPECT_EQ(CodeOf([&] { file.Create(wide); }), LEDGER_RECTOOBIG);
  EXPECT_FALSE(file.IsOpen());
}

}  // namespace
}  // namespace ledger
