// Random tables and random walks over them: every answer of the cursor must
// agree with a plain sorted array of the live records. Fixed seeds, bounded
// rounds; the tables reach one to four (and more) index levels through their
// record counts, key sizes and page fill.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/build/table_builder.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/data_table.h"
#include "table_files_util.h"

namespace ledger {
namespace {

using testing::TScratchDir;


struct TRecordModel {
  int32_t number = 0;  // record number = auto-increment value
  std::string key;
  int64_t num = 0;
};

enum class TOrderKind { Physical, Primary, ByNum };

struct TTableModel {
  std::vector<TRecordModel> live;  // by record number
  bool hasPrimary = true;

  std::vector<int32_t> Order(TOrderKind kind) const {
    std::vector<const TRecordModel*> rows;
    for (const auto& r : live) rows.push_back(&r);
    if (kind == TOrderKind::Primary)
      std::sort(rows.begin(), rows.end(), [](auto* a, auto* b) { return a->key < b->key; });
    if (kind == TOrderKind::ByNum)
      std::sort(rows.begin(), rows.end(), [](auto* a, auto* b) {
        return a->num != b->num ? a->num < b->num : a->number < b->number;
      });
    std::vector<int32_t> out;
    for (auto* r : rows) out.push_back(r->number);
    return out;
  }
  const TRecordModel& Record(int32_t number) const {
    return *std::find_if(live.begin(), live.end(), [&](const TRecordModel& r) { return r.number == number; });
  }
};

// Where the model cursor stands: an index into the order, and the cracks.
struct TCursorModel {
  std::vector<int32_t> order;
  int p = 0;
  bool bof = true, eof = true;

  int N() const { return static_cast<int>(order.size()); }
  void Empty() {
    p = 0;
    bof = eof = true;
  }
  void On(int i) {
    p = i;
    bof = eof = false;
  }
  void First() { N() == 0 ? Empty() : On(0); }
  void Last() { N() == 0 ? Empty() : On(N() - 1); }
};

struct TCase {
  uint32_t seed;
  int records;
  int keySize;
  double fill;
  bool primary;
  int minDepth;  // levels of the deeper of its two indexes
};

std::string RandomKey(std::mt19937& rng, int maxLength) {
  // A small alphabet gives keys that are prefixes of one another.
  std::uniform_int_distribution<int> len(1, maxLength), letter(0, 3);
  std::string s(static_cast<std::size_t>(len(rng)), 'a');
  for (char& ch : s) ch = static_cast<char>('a' + letter(rng));
  return s;
}

int Depth(TIndexFile& idx, int slot) {
  int depth = 0;
  for (int32_t p = idx.Descriptor(slot).rootPage; p != 0;) {
    ++depth;
    TPage* page = idx.GetPage(slot, p);
    p = page->IsLeaf() ? 0 : page->Ref(1);
    idx.ReleasePage(page);
  }
  return depth;
}

class CursorProperty : public ::testing::TestWithParam<TCase> {};

TEST_P(CursorProperty, RandomWalksAgreeWithASortedArray) {
  const TCase& tc = GetParam();
  std::mt19937 rng(tc.seed);
  TScratchDir dir;

  TTableModel model;
  model.hasPrimary = tc.primary;
  TTableDefinition def;
  def.order = TRecordOrder::Input;  // these tests name records by the order they were added
  def.data.fields = {FieldDef("Key", ftString, static_cast<uint8_t>(tc.keySize)), FieldDef("Num", ftInteger),
                     FieldDef("RecID", ftInteger, 0, fstAutoInc)};
  if (tc.primary) {
    TIndexDefinition p;
    p.fields = {"Key"};
    p.compression = static_cast<uint8_t>(rng() % 4);
    def.primary = p;
  }
  TIndexDefinition byNum;
  byNum.name = "ByNum";
  byNum.fields = {"Num"};
  byNum.unique = false;
  byNum.compression = static_cast<uint8_t>(rng() % 4);
  def.secondary = {byNum};
  def.fillFactor = tc.fill;
  {
    TTableBuilder builder(dir.Path(), "Prop", def, TBuildTarget::NewFiles, PosixFileSystem());
    std::set<std::string> used;
    std::uniform_int_distribution<int64_t> nums(-20, 20);
    std::vector<TRecordModel> all;
    while (static_cast<int>(all.size()) < tc.records) {
      std::string key = RandomKey(rng, tc.keySize);
      if (!used.insert(key).second) continue;
      TRecordModel r{static_cast<int32_t>(all.size() + 1), key, nums(rng)};
      builder.Append(std::vector<TFieldValue>{r.key, r.num, std::monostate{}});
      all.push_back(r);
    }
    std::bernoulli_distribution drop(0.2);
    for (const auto& r : all) {
      if (drop(rng)) builder.MarkDeleted(r.number);
      else model.live.push_back(r);
    }
    builder.Finish();
  }

  TDataSession session(PosixFileSystem());
  TDataDirectory& directory = session.OpenDirectory("", dir.Path());
  TDataCursor c(directory);
  c.SetTableName("Prop");
  c.Open();
  // The deep paths stay walked only while the trees stay deep.
  const int depth = std::max(tc.primary ? Depth(c.Table()->Index(), 0) : 0, Depth(c.Table()->Index(), 1));
  ASSERT_GE(depth, tc.minDepth);

  TOrderKind kind = tc.primary ? TOrderKind::Primary : TOrderKind::Physical;
  TCursorModel m;
  m.order = model.Order(kind);
  m.First();
  if (m.N() > 0) m.bof = true;
  std::vector<std::pair<std::vector<uint8_t>, int32_t>> marks;  // bookmark, record
  std::vector<uint8_t> buf(static_cast<std::size_t>(c.RecordSize()));
  std::vector<std::string> trail;

  auto recordAt = [&](std::span<const uint8_t> image) {
    return static_cast<int32_t>(std::get<int64_t>(c.FieldValue(3, image)));
  };
  auto check = [&](const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(c.AtBeginning(), m.bof);
    ASSERT_EQ(c.AtEnd(), m.eof);
    ASSERT_EQ(c.RecordCount(), m.N());
    if (m.bof && m.eof) {
      ASSERT_EQ(c.RecordNumber(), 0);
      return;
    }
    ASSERT_EQ(c.RecordNumber(), m.p + 1);
    ASSERT_EQ(recordAt(c.CurrentRecord()), m.order[static_cast<std::size_t>(m.p)]);
  };
  auto expectDelivered = [&](int status, int want) {
    ASSERT_EQ(status, want);
    if (want == kStatusOk) {
      ASSERT_EQ(recordAt(buf), m.order[static_cast<std::size_t>(m.p)]);
    } else {
      ASSERT_TRUE(std::all_of(buf.begin(), buf.end(), [](uint8_t b) { return b == 0; }));
    }
  };
  auto keyOf = [&](TOrderKind k, const std::string& key, int64_t num) {
    std::vector<uint8_t> image(buf.size(), 0);
    if (k == TOrderKind::Primary) c.PutField(1, image, key);
    else c.PutField(2, image, num);
    std::vector<uint8_t> out(static_cast<std::size_t>(c.ActiveIndexDescriptor().keyLength), 0);
    c.BuildKey(image, out.data());
    return out;
  };

  check("open");
  std::uniform_int_distribution<int> op(0, 11);
  for (int step = 0; step < 400; ++step) {
    const int o = op(rng);
    std::string what = "step " + std::to_string(step) + " op " + std::to_string(o);
    switch (o) {
      case 0:
        c.SetToBeginning();
        m.First();
        if (m.N() > 0) m.bof = true;
        break;
      case 1:
        c.SetToEnd();
        m.Last();
        if (m.N() > 0) m.eof = true;
        break;
      case 2:
      case 3: {  // next
        int status = c.Next(buf.data());
        int want = kStatusOk;
        if (m.bof) m.First();
        else if (m.p + 1 < m.N()) m.On(m.p + 1);
        else m.eof = true;
        if (m.eof) want = kStatusEnd;
        expectDelivered(status, want);
        break;
      }
      case 4:
      case 5: {  // prior
        int status = c.Prior(buf.data());
        int want = kStatusOk;
        if (m.eof) m.Last();
        else if (m.p > 0) m.On(m.p - 1);
        else m.bof = true;
        if (m.bof) want = kStatusBeginning;
        expectDelivered(status, want);
        break;
      }
      case 6: {  // go to a position, also just outside the view
        int n = std::uniform_int_distribution<int>(-1, m.N() + 2)(rng);
        bool got = c.GoToPosition(n);
        what += " n " + std::to_string(n);
        if (m.N() == 0) m.Empty();
        else if (kind == TOrderKind::Physical) {
          m.On(std::clamp(n, 1, m.N()) - 1);
          m.eof = n > m.N();
        } else if (n < 1) {
          m.First();
          m.bof = true;
        } else if (n > m.N()) {
          m.Last();
          m.eof = true;
        } else {
          m.On(n - 1);
        }
        ASSERT_EQ(got, n >= 1 && n <= m.N()) << what;
        break;
      }
      case 7: {  // find a key: existing, absent, or a leading part
        if (kind == TOrderKind::Physical) {
          // No key to search: nothing moves.
          std::vector<uint8_t> key(64, 0);
          ASSERT_FALSE(c.FindKey(key.data(), 1));
          break;
        }
        std::string key;
        int64_t num = 0;
        int partial = 0;
        int mode = static_cast<int>(rng() % 3);
        if (kind == TOrderKind::Primary) {
          if (mode == 0 && !model.live.empty()) key = model.live[rng() % model.live.size()].key;
          else key = RandomKey(rng, mode == 2 ? 3 : tc.keySize);
          if (mode == 2) partial = static_cast<int>(key.size());
        } else {
          num = mode == 0 && !model.live.empty() ? model.live[rng() % model.live.size()].num
                                                 : std::uniform_int_distribution<int64_t>(-25, 25)(rng);
        }
        what += " key '" + key + "' num " + std::to_string(num) + " partial " + std::to_string(partial);
        bool got = c.FindKey(keyOf(kind, key, num).data(), partial ? 0 : 1, partial);
        // Model: first record not below the search over the compared part.
        int i = 0;
        bool want = false;
        for (; i < m.N(); ++i) {
          const TRecordModel& r = model.Record(m.order[static_cast<std::size_t>(i)]);
          if (kind == TOrderKind::ByNum) {
            if (r.num >= num) {
              want = r.num == num;
              break;
            }
          } else {
            std::string head = partial ? r.key.substr(0, static_cast<std::size_t>(partial)) : r.key;
            if (head >= key) {
              want = head == key;
              break;
            }
          }
        }
        if (m.N() == 0) m.Empty();
        else m.On(std::min(i, m.N() - 1));
        ASSERT_EQ(got, want) << what;
        break;
      }
      case 8: {  // keep a bookmark
        if (m.bof && m.eof) break;
        marks.emplace_back(c.Bookmark(), m.order[static_cast<std::size_t>(m.p)]);
        ASSERT_EQ(static_cast<int>(marks.back().first.size()), c.BookmarkSize());
        break;
      }
      case 9: {  // back to a bookmark, and compare two of them
        if (marks.empty()) break;
        const auto& [mark, record] = marks[rng() % marks.size()];
        ASSERT_TRUE(c.GoToBookmark(mark.data()));
        m.On(static_cast<int>(std::find(m.order.begin(), m.order.end(), record) - m.order.begin()));
        const auto& other = marks[rng() % marks.size()];
        auto at = [&](int32_t r) { return std::find(m.order.begin(), m.order.end(), r) - m.order.begin(); };
        auto sign = [](auto x) { return x < 0 ? -1 : x > 0 ? 1 : 0; };
        ASSERT_EQ(c.CompareBookmarks(mark.data(), other.first.data()), sign(at(record) - at(other.second)));
        break;
      }
      case 10:
      case 11: {  // switch index; the current record (or crack) stays
        std::vector<std::pair<std::string, TOrderKind>> choices = {
            {"", tc.primary ? TOrderKind::Primary : TOrderKind::Physical}, {"ByNum", TOrderKind::ByNum}};
        auto [name, next] = choices[rng() % 2];
        what += " to '" + name + "'";
        c.SwitchToIndex(name);
        if (next == kind) break;
        int32_t record = m.N() > 0 ? m.order[static_cast<std::size_t>(m.p)] : 0;
        bool bof = m.bof, eof = m.eof;
        kind = next;
        m.order = model.Order(kind);
        marks.clear();
        if (bof && eof) m.Empty();
        else if (bof) {
          m.First();
          m.bof = true;
        } else if (eof) {
          m.Last();
          m.eof = true;
        } else {
          m.On(static_cast<int>(std::find(m.order.begin(), m.order.end(), record) - m.order.begin()));
        }
        break;
      }
    }
    trail.push_back(what);
    check(what);
    if (::testing::Test::HasFatalFailure()) {
      std::string last;
      for (std::size_t i = trail.size() > 12 ? trail.size() - 12 : 0; i < trail.size(); ++i) last += trail[i] + "\n";
      FAIL() << "seed " << tc.seed << ", last steps:\n" << last;
    }
  }
}

// Record counts, key sizes and page fill chosen for tree depth: a 40-byte
// key at 5% fill puts about four keys on a page.
INSTANTIATE_TEST_SUITE_P(, CursorProperty,
                         ::testing::Values(TCase{1, 0, 8, 1.0, true, 0}, TCase{2, 1, 8, 1.0, true, 1},
                                           TCase{3, 7, 3, 1.0, false, 1}, TCase{4, 60, 6, 1.0, true, 1},
                                           TCase{5, 300, 12, 0.5, true, 2}, TCase{6, 300, 20, 0.1, false, 2},
                                           TCase{7, 900, 40, 0.05, true, 4}, TCase{8, 1500, 30, 0.05, true, 4},
                                           TCase{9, 2500, 40, 0.03, false, 4}, TCase{10, 2000, 10, 1.0, true, 2}),
                         [](const auto& info) { return "seed" + std::to_string(info.param.seed); });

}  // namespace
}  // namespace ledger
