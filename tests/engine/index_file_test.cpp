// Trees of one to four levels searched every way, the header check, and
// broken files that must end in an engine error rather than a crash or hang.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/index_file.h"
#include "tests/engine/table_files_util.h"

namespace ledger {
namespace {

using testing::CodeOf;
using testing::ReadBytes;
using testing::TScratchDir;
using testing::WriteBytes;

std::vector<TFieldDesc> Fields() {
  TFieldDesc n;
  n.number = 1;
  n.name = "N";
  n.type = ftInteger;
  n.physicalSize = 4;
  n.offset = 9;
  TFieldDesc b;
  b.number = 2;
  b.name = "B";
  b.type = ftBlob;
  b.subtype = fstMemo;
  b.size = 10;
  b.physicalSize = 20;
  b.offset = 14;
  return {n, b};
}

std::vector<uint8_t> Key(int32_t value) {
  std::vector<uint8_t> k(5);
  k[0] = 1;
  PutKeyInt32(k.data() + 1, value);
  return k;
}

int32_t ValueOf(const std::vector<uint8_t>& key) {
  return static_cast<int32_t>(((uint32_t{key[1]} << 24) | (uint32_t{key[2]} << 16) |
                               (uint32_t{key[3]} << 8) | key[4]) ^ 0x80000000u);
}

// Writes a primary index over values (in index order) with at most perPage
// entries on a page; record numbers are 1000 + ordinal.
int BuildTree(const std::string& path, const std::vector<int32_t>& values, int perPage,
              uint8_t compression = lcNone, bool descending = false) {
  TIndexFile f;
  f.SetFileName(path);
  f.Create(false);
  TIndexDesc& d = f.MutableHeader().slots[0];
  d.keyLength = 5;
  d.unique = true;
  d.descending = descending;
  d.compression = compression;
  d.fieldCount = 1;
  d.fields[0] = 1;
  struct Child {
    std::vector<uint8_t> key;
    int32_t page;
    int32_t keys;
  };
  std::vector<Child> level;
  int levels = 0;
  if (!values.empty()) {
    int leaves = (static_cast<int>(values.size()) + perPage - 1) / perPage;
    for (int i = 0; i < leaves; ++i) {
      TPage* p = f.NewPage(0);
      p->type = leaves == 1 ? ptRootLeaf : ptLeaf;
      p->prevPage = i ? p->Number() - 1 : 0;
      p->nextPage = i + 1 < leaves ? p->Number() + 1 : 0;
      for (int j = i * perPage; j < std::min<int>((i + 1) * perPage, static_cast<int>(values.size())); ++j)
        p->Append(Key(values[j]).data(), 1000 + j);
      level.push_back({Key(values[i * perPage]), p->Number(), p->Count()});
      f.ReleasePage(p);
    }
    levels = 1;
    while (level.size() > 1) {
      std::vector<Child> up;
      int pages = (static_cast<int>(level.size()) + perPage - 1) / perPage;
      for (int i = 0; i < pages; ++i) {
        TPage* p = f.NewPage(0);
        p->type = pages == 1 ? ptRootBranch : ptBranch;
        p->prevPage = i ? p->Number() - 1 : 0;
        p->nextPage = i + 1 < pages ? p->Number() + 1 : 0;
        int32_t keys = 0;
        for (int j = i * perPage; j < std::min<int>((i + 1) * perPage, static_cast<int>(level.size())); ++j) {
          p->Append(level[j].key.data(), level[j].page, level[j].keys);
          keys += level[j].keys;
        }
        up.push_back({level[i * perPage].key, p->Number(), keys});
        f.ReleasePage(p);
      }
      level = up;
      ++levels;
    }
    f.MutableHeader().slots[0].rootPage = level[0].page;
  }
  f.FlushPages();
  f.WriteHeader(true);
  f.Close();
  return levels;
}

void OpenChecked(TIndexFile& f, const std::string& path) {
  f.SetFileName(path);
  f.Open();
  f.CheckVersion();
  f.CheckStructure(Fields(), 0);
}

std::vector<int32_t> Evens(int n) {
  std::vector<int32_t> v;
  for (int i = 1; i <= n; ++i) v.push_back(2 * i);
  return v;
}

struct TreeCase {
  int keys;
  int perPage;
  uint8_t compression;
  int levels;
};

class IndexTree : public ::testing::TestWithParam<TreeCase> {};

TEST_P(IndexTree, EverySearch) {
  const TreeCase c = GetParam();
  TScratchDir dir;
  std::string path = dir / "T.IDX";
  ASSERT_EQ(BuildTree(path, Evens(c.keys), c.perPage, c.compression), c.levels);
  TIndexFile f;
  OpenChecked(f, path);
  const int64_t n = c.keys;
  ASSERT_EQ(f.TotalKeys(0), n);

  // The n-th key for every n (sampled on large trees), and past both ends.
  const int step = n > 2000 ? 97 : 1;
  for (int64_t i = 1; i <= n; i += step) {
    TKeyPosition p = f.Nth(0, i);
    ASSERT_TRUE(p.found) << i;
    EXPECT_EQ(p.position, i);
    EXPECT_EQ(ValueOf(p.key), 2 * i);
    EXPECT_EQ(p.record, 1000 + i - 1);
  }
  EXPECT_EQ(ValueOf(f.Nth(0, n).key), 2 * n);
  EXPECT_FALSE(f.Nth(0, n + 1).found);
  EXPECT_FALSE(f.Nth(0, 0).found);

  // Next from the first key and prior from the last cover every key once.
  TKeyPosition p = f.First(0);
  for (int64_t i = 1; i <= n; ++i) {
    ASSERT_TRUE(p.found) << i;
    ASSERT_EQ(p.position, i);
    ASSERT_EQ(ValueOf(p.key), 2 * i);
    p = f.Next(0, p);
  }
  EXPECT_FALSE(p.found);
  p = f.Last(0);
  for (int64_t i = n; i >= 1; --i) {
    ASSERT_TRUE(p.found) << i;
    ASSERT_EQ(p.position, i);
    ASSERT_EQ(ValueOf(p.key), 2 * i);
    p = f.Prior(0, p);
  }
  EXPECT_FALSE(p.found);

  // Present (even), absent (odd), below-all and above-all keys.
  for (int32_t v = 0; v <= 2 * n + 1; v += (n > 2000 ? 61 : 1)) {
    std::vector<uint8_t> k = Key(v);
    TKeyPosition lo = f.FindNotBelow(0, k.data());
    if (v > 2 * n) {
      EXPECT_FALSE(lo.found) << v;
    } else {
      ASSERT_TRUE(lo.found) << v;
      int64_t want = std::max<int64_t>(1, (v + 1) / 2);
      EXPECT_EQ(lo.position, want) << v;
      EXPECT_EQ(ValueOf(lo.key), 2 * want) << v;
    }
    TKeyPosition hi = f.FindNotAbove(0, k.data());
    ASSERT_TRUE(hi.found) << v;
    int64_t want = std::max<int64_t>(1, std::min<int64_t>(v / 2, n));
    EXPECT_EQ(hi.position, want) << v;
    EXPECT_EQ(ValueOf(hi.key), 2 * want) << v;
  }

  // Record numbers run on within a leaf.
  TKeyPosition first = f.First(0);
  int inLeaf = std::min<int>(c.perPage, c.keys) - 1;
  EXPECT_EQ(f.ReadAheadCount(0, first, true, 1000), inLeaf);
  EXPECT_EQ(f.ReadAheadCount(0, first, true, 1), std::min(inLeaf, 1));
  EXPECT_EQ(f.ReadAheadCount(0, first, false, 1000), 0);
}

INSTANTIATE_TEST_SUITE_P(Levels, IndexTree,
                         ::testing::Values(TreeCase{1, 3, lcNone, 1}, TreeCase{3, 3, lcDuplicate, 1},
                                           TreeCase{4, 3, lcNone, 2}, TreeCase{9, 3, lcTrailing, 2},
                                           TreeCase{25, 3, lcFull, 3}, TreeCase{27, 3, lcNone, 3},
                                           TreeCase{80, 3, lcDuplicate, 4}, TreeCase{81, 3, lcFull, 4},
                                           TreeCase{20000, 400, lcFull, 2}, TreeCase{5000, 7, lcNone, 5}));

TEST(IndexFile, EmptyIndexFindsNothing) {
  TScratchDir dir;
  BuildTree(dir / "T.IDX", {}, 3);
  TIndexFile f;
  OpenChecked(f, dir / "T.IDX");
  std::vector<uint8_t> k = Key(5);
  EXPECT_EQ(f.TotalKeys(0), 0);
  EXPECT_FALSE(f.First(0).found);
  EXPECT_FALSE(f.Last(0).found);
  EXPECT_FALSE(f.FindNotBelow(0, k.data()).found);
  EXPECT_FALSE(f.FindNotAbove(0, k.data()).found);
  EXPECT_FALSE(f.Nth(0, 1).found);
  EXPECT_EQ(f.TotalKeys(kSlotDeleted), 0);
}

TEST(IndexFile, DescendingIndexSearchesInItsOwnOrder) {
  TScratchDir dir;
  std::vector<int32_t> values = Evens(30);
  std::reverse(values.begin(), values.end());
  BuildTree(dir / "T.IDX", values, 4, lcNone, true);
  TIndexFile f;
  OpenChecked(f, dir / "T.IDX");
  std::vector<uint8_t> k = Key(31);
  TKeyPosition p = f.FindNotBelow(0, k.data());  // first key at or after 31 in index order
  ASSERT_TRUE(p.found);
  EXPECT_EQ(ValueOf(p.key), 30);
  EXPECT_EQ(p.position, 16);
  EXPECT_EQ(ValueOf(f.First(0).key), 60);
}

TEST(IndexFile, PageCacheStaysWithinItsSize) {
  TScratchDir dir;
  BuildTree(dir / "T.IDX", Evens(5000), 10);
  for (int32_t bytes : {16384, 1 << 20}) {
    TIndexFile f;
    f.SetCacheBytes(bytes);
    OpenChecked(f, dir / "T.IDX");
    std::size_t capacity = std::max(2, bytes / 8192);
    EXPECT_EQ(f.SlotCapacity(), capacity);
    for (int round = 0; round < 2; ++round)
      for (int64_t i = 1; i <= 5000; i += 37) ASSERT_EQ(ValueOf(f.Nth(0, i).key), 2 * i);
    EXPECT_LE(f.CachedPages(0), capacity);
    EXPECT_GT(f.Stats().cacheHits, 0);
    // Every page of the tree fits in the large cache: the second round reads nothing new.
    if (bytes > 16384) {
      EXPECT_LE(f.Stats().reads, 5000 / 10 + 60);
    }
  }
}

TEST(IndexFile, ChangedTableRestartsTheDescent) {
  TScratchDir dir;
  BuildTree(dir / "T.IDX", Evens(27), 3);
  testing::TFakeOwner owner;
  owner.changesToReport = 1;
  TIndexFile f(&owner);
  OpenChecked(f, dir / "T.IDX");
  // The first miss reports a change: the search starts over and still lands right.
  TKeyPosition p = f.Nth(0, 20);
  ASSERT_TRUE(p.found);
  EXPECT_EQ(ValueOf(p.key), 40);
  // Checked again after the change; neighbouring pages may come in one read.
  EXPECT_EQ(owner.changesToReport, 0);
  EXPECT_GE(owner.checks, 2);
}

// A step from a position found before another process changed the table
// cannot go on in the new tree; it says so instead of claiming the end.
TEST(IndexFile, AStepThatMeetsAChangeReportsIt) {
  struct Case {
    const char* what;
    int64_t from;
    bool forward;
    bool dropped;  // the position's own leaf is no longer cached
  } cases[] = {
      {"next within a leaf read again", 2, true, true},
      {"prior within a leaf read again", 2, false, true},
      {"next onto the following leaf", 3, true, false},
      {"prior onto the preceding leaf", 4, false, false},
  };
  TScratchDir dir;
  BuildTree(dir / "T.IDX", Evens(9), 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TFakeOwner owner;
    TIndexFile f(&owner);
    OpenChecked(f, dir / "T.IDX");
    const TKeyPosition at = f.Nth(0, c.from);
    ASSERT_TRUE(at.found);
    if (c.dropped) f.DropPages();
    owner.changesToReport = 1;
    EXPECT_EQ(CodeOf([&] { (void)(c.forward ? f.Next(0, at) : f.Prior(0, at)); }), LEDGER_KEYORRECDELETED);
    EXPECT_EQ(owner.changesToReport, 0);
  }
}

// Another process's change drops every cached page, also one a search still
// holds on its way to the next leaf: that one stays what it was until it is
// released, instead of being handed out again for another page.
TEST(IndexFile, APageHeldWhenTheCacheIsDroppedStaysUntilReleased) {
  TScratchDir dir;
  BuildTree(dir / "T.IDX", Evens(27), 3);
  TIndexFile f;
  OpenChecked(f, dir / "T.IDX");
  const TKeyPosition first = f.First(0);
  f.DropPages();
  TPage* held = f.GetPage(0, first.leafPage);
  ASSERT_NE(held, nullptr);
  const int32_t next = held->nextPage;
  f.DropPages();
  TPage* other = f.GetPage(0, next);
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, held);
  EXPECT_EQ(held->Number(), first.leafPage);
  EXPECT_EQ(ValueOf(std::vector<uint8_t>(held->Key(1), held->Key(1) + 5)), 2);
  f.ReleasePage(other);
  const std::size_t pooled = f.PooledPages();
  f.ReleasePage(held);
  EXPECT_EQ(f.PooledPages(), pooled + 1);
}

TEST(IndexFile, FreedPagesAreReusedFirst) {
  TScratchDir dir;
  TIndexFile f;
  f.SetFileName(dir / "T.IDX");
  f.Create(false);
  f.MutableHeader().slots[0].keyLength = 5;
  TPage* a = f.NewPage(0);
  TPage* b = f.NewPage(0);
  EXPECT_EQ(a->Number(), 1);
  EXPECT_EQ(b->Number(), 2);
  f.FreePage(a);
  EXPECT_EQ(f.Header().slots[0].firstFreePage, 1);
  f.ReleasePage(a);
  f.ReleasePage(b);
  f.FlushPages();
  TPage* again = f.NewPage(0);
  EXPECT_EQ(again->Number(), 1);
  EXPECT_EQ(again->Count(), 0);
  EXPECT_EQ(f.Header().slots[0].firstFreePage, 0);
  EXPECT_EQ(f.NextPageNumber(), 3);
  f.ReleasePage(again);
}

TEST(IndexFile, HeaderRoundTripAndFreshSlots) {
  TIndexHeader h = TIndexHeader::Fresh();
  h.changeCounter = 7;
  h.nextPage = 12;
  h.secondaryCount = 1;
  h.activeRecords = 99;
  h.noPrimary = true;
  h.slots[1].name = "ByName";
  h.slots[1].keyLength = 9;
  h.slots[1].fieldCount = 1;
  h.slots[1].fields[0] = 1;
  h.slots[1].rootPage = 11;
  std::vector<uint8_t> raw(kIndexPageSize);
  h.Encode(raw.data());
  EXPECT_EQ(raw[8], 5);
  EXPECT_EQ(GetI32(raw.data(), 3974), 99);
  EXPECT_EQ(raw[3978], 1);
  EXPECT_EQ(GetU16(raw.data(), 14 + 31 * 120 + 31), kDeletedKeyLength);
  EXPECT_EQ(GetU16(raw.data(), 14 + 32 * 120 + 31), kTextKeyLength);
  EXPECT_EQ(raw[14 + 32 * 120 + 36], lcFull);
  TIndexHeader back = TIndexHeader::Decode(raw.data());
  EXPECT_EQ(back.slots, h.slots);
  EXPECT_EQ(back.nextPage, 12);
  EXPECT_EQ(CheckIndexHeader(back, Fields()), "");
}

// Other processes compare the counter only for equality, so after the
// largest value it starts again at 1, as the data and blob files' do.
TEST(IndexFile, ChangeCounterRestartsAtOneAfterTheLargestValue) {
  TScratchDir dir;
  TIndexFile f;
  f.SetFileName(dir / "T.IDX");
  f.Create(false);
  f.MutableHeader().changeCounter = INT32_MAX;
  f.WriteHeader(true);
  EXPECT_EQ(f.Header().changeCounter, 1);
  EXPECT_EQ(GetI32(ReadBytes(dir / "T.IDX").data(), 0), 1);
  // A transaction shows its change to the process before anything is written.
  f.MutableHeader().changeCounter = INT32_MAX;
  f.MoveChangeCounter();
  EXPECT_EQ(f.Header().changeCounter, 1);
  EXPECT_TRUE(f.HeaderModified());
  f.Close();
}

// Patches of the header: offset within the file and bytes.
struct HeaderPatch {
  const char* what;
  std::vector<std::pair<int, std::vector<uint8_t>>> bytes;
  TErrorCode code;
};

std::vector<uint8_t> Descriptor(const char* name, bool unique = false) {
  TIndexDesc d;
  d.name = name;
  d.unique = unique;
  d.fieldCount = 1;
  d.fields[0] = 1;
  d.keyLength = unique ? 5 : 9;
  std::vector<uint8_t> raw(kDescriptorSize);
  d.Encode(raw.data());
  return raw;
}

TEST(IndexFile, HeaderCheck) {
  const int s0 = kDescriptorOffset, s1 = s0 + kDescriptorSize, s2 = s1 + kDescriptorSize;
  const HeaderPatch cases[] = {
      {"sound", {}, 0},
      {"sound secondary", {{13, {1}}, {s1, Descriptor("_by n")}}, 0},
      {"old version", {{8, {4}}}, LEDGER_OLDVERSION},
      {"key field missing", {{s0 + 54, {9, 0}}}, LEDGER_HEADERCORRUPT},
      {"blob key field", {{s0 + 54, {2, 0}}, {s0 + 31, {21, 0}}}, LEDGER_HEADERCORRUPT},
      {"gap in the field list", {{s0 + 58, {1, 0}}}, LEDGER_HEADERCORRUPT},
      {"17 key fields", {{s0 + 37, {17}}}, LEDGER_HEADERCORRUPT},
      {"key length out of step", {{s0 + 31, {6, 0}}}, LEDGER_HEADERCORRUPT},
      {"named primary index", {{s0, {1, 'P'}}}, LEDGER_HEADERCORRUPT},
      {"primary index not unique", {{s0 + 35, {0}}}, LEDGER_HEADERCORRUPT},
      {"root beyond the file", {{s0 + 86, {0xF4, 1, 0, 0}}}, LEDGER_HEADERCORRUPT},
      {"negative free page", {{s0 + 90, {0xFF, 0xFF, 0xFF, 0xFF}}}, LEDGER_HEADERCORRUPT},
      {"next page zero", {{9, {0, 0, 0, 0}}}, LEDGER_HEADERCORRUPT},
      {"name starting with a digit", {{13, {1}}, {s1, Descriptor("1st")}}, LEDGER_HEADERCORRUPT},
      {"duplicate names", {{13, {2}}, {s1, Descriptor("Idx")}, {s2, Descriptor("iDX")}}, LEDGER_HEADERCORRUPT},
      {"text index over a number", {{kDescriptorOffset + 32 * 120 + 37, {1}}, {kDescriptorOffset + 32 * 120 + 54, {1, 0}}},
       LEDGER_HEADERCORRUPT},
  };
  TScratchDir dir;
  std::string path = dir / "T.IDX";
  BuildTree(path, Evens(20), 4);
  const std::vector<uint8_t> good = ReadBytes(path);
  for (const HeaderPatch& c : cases) {
    std::vector<uint8_t> bytes = good;
    for (const auto& [at, patch] : c.bytes) std::copy(patch.begin(), patch.end(), bytes.begin() + at);
    WriteBytes(path, bytes);
    TIndexFile f;
    EXPECT_EQ(CodeOf([&] { OpenChecked(f, path); }), c.code) << c.what;
  }
  // Slots beyond 30 secondary indexes would overlap the system slots.
  std::vector<uint8_t> bytes = good;
  bytes[13] = 31;
  WriteBytes(path, bytes);
  TIndexFile f;
  f.SetFileName(path);
  EXPECT_EQ(CodeOf([&] { f.Open(); }), LEDGER_HEADERCORRUPT);
  EXPECT_FALSE(f.IsOpen());
}

// Broken trees. Built with three entries a page over 27 keys: leaves are
// pages 1-9, branches 10-12, the root 13.
struct PagePatch {
  const char* what;
  int page;
  int offset;
  std::vector<uint8_t> bytes;
};

int EntryOffset(int entry, int size) { return kPageHeaderSize + (entry - 1) * size; }

// Every search over the whole index; the walk is bounded so a cycle cannot hang it.
void ExerciseAll(TIndexFile& f) {
  int64_t total = f.TotalKeys(0);
  for (int64_t i = 1; i <= std::min<int64_t>(total, 200); ++i) f.Nth(0, i);
  TKeyPosition p = f.First(0);
  for (int i = 0; p.found && i < 200; ++i) p = f.Next(0, p);
  p = f.Last(0);
  for (int i = 0; p.found && i < 200; ++i) p = f.Prior(0, p);
  for (int32_t v = 0; v < 60; ++v) {
    std::vector<uint8_t> k = Key(v);
    f.FindNotBelow(0, k.data());
    f.FindNotAbove(0, k.data());
  }
}

TEST(IndexFile, BrokenTreesEndInIndexCorrupt) {
  const int branch = 5 + 8;
  const PagePatch cases[] = {
      {"count that does not add up", 13, EntryOffset(1, branch) + 9, {4, 0, 0, 0}},
      {"child page 0", 13, EntryOffset(2, branch) + 5, {0, 0, 0, 0}},
      {"child beyond the file", 13, EntryOffset(3, branch) + 5, {0xF4, 1, 0, 0}},
      {"branch pointing at itself", 10, EntryOffset(2, branch) + 5, {10, 0, 0, 0}},
      {"branch pointing at the root", 11, EntryOffset(1, branch) + 5, {13, 0, 0, 0}},
      {"empty leaf", 5, 1, {0, 0}},
      {"empty root", 13, 1, {0, 0}},
      {"leaf where a branch belongs", 12, 0, {2}},
      {"branch where a leaf belongs", 4, 0, {1}},
      {"root that is not a root", 13, 0, {1}},
      {"leaf link into a branch", 3, 7, {11, 0, 0, 0}},
      {"leaf link back to itself", 6, 3, {6, 0, 0, 0}},
      {"negative key count", 11, EntryOffset(2, branch) + 9, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  TScratchDir dir;
  std::string path = dir / "T.IDX";
  ASSERT_EQ(BuildTree(path, Evens(27), 3), 3);
  const std::vector<uint8_t> good = ReadBytes(path);
  for (const PagePatch& c : cases) {
    std::vector<uint8_t> bytes = good;
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + c.page * kIndexPageSize + c.offset);
    WriteBytes(path, bytes);
    TIndexFile f;
    OpenChecked(f, path);
    EXPECT_EQ(CodeOf([&] { ExerciseAll(f); }), LEDGER_INDEXCORRUPT) << c.what;
  }
}

TEST(IndexFile, RandomDamageNeverCrashes) {
  TScratchDir dir;
  std::string path = dir / "T.IDX";
  BuildTree(path, Evens(300), 5, lcFull);
  const std::vector<uint8_t> good = ReadBytes(path);
  std::mt19937 rng(17);
  int failures = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> bytes = good;
    for (int i = 0, n = 1 + static_cast<int>(rng() % 6); i < n; ++i) {
      std::size_t at = kIndexPageSize + rng() % (bytes.size() - kIndexPageSize);
      bytes[at] = static_cast<uint8_t>(rng() % 3 == 0 ? rng() % 4 : rng());
    }
    WriteBytes(path, bytes);
    TIndexFile f;
    try {
      OpenChecked(f, path);
      ExerciseAll(f);
    } catch (const ELedgerEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), LEDGER_INDEXCORRUPT);
      ++failures;
    }
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace ledger
