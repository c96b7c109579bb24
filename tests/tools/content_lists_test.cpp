// The word lists: how a line is read, what is wrong with a bad one, the
// blends as the game cuts them, and the lists the game ships with.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "content/puzzle_gaps.h"
#include "tests/tools/run_content_tool.h"
#include "tools/tamblo-content/pictures.h"
#include "tools/tamblo-content/word_lists.h"

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

TEST(BlendGaps, CutsEachBlendOnceAndNeverInsideAGap) {
  struct TCase {
    const char* word;
    std::vector<std::string> gaps;
  };
  const TCase cases[] = {
      {"frog", {"fr"}},
      {"clock", {"cl", "ck"}},
      {"church", {"ch"}},                  // the second "ch" is the same blend
      {"strawberry", {"st"}},              // "tr" starts inside the "st" gap
      {"chopsticks", {"ch", "st", "ck"}},  // "ps" is not a blend
      {"school", {"sc"}},                  // "ch" starts inside the "sc" gap
      {"apple", {"pl"}},
      {"cat", {}},
  };
  for (const TCase& c : cases) EXPECT_EQ(BlendGaps(c.word), c.gaps) << c.word;
}

class WordListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test_support::ScratchDir("lists");
    fs::create_directories(dir_);
    std::ofstream(dir_ / "frog.png") << "a picture";
    std::ofstream(dir_ / "frog.wav") << "a recording";
  }
  TWordList Parse(const std::string& text, TTableKind kind) { return ParseWordList(text, kind, dir_); }
  fs::path dir_;
};

TEST_F(WordListTest, ReadsEveryColumnOfEveryTable) {
  const TWordList blend =
      Parse("# a comment\n\nfrog\t🐸\nclock  U+23F0+FE0F  frog.wav\nflag frog.png\r\n", TTableKind::Blend);
  EXPECT_EQ(blend.problems, std::vector<std::string>{});
  ASSERT_EQ(blend.words.size(), 3u);
  EXPECT_EQ(blend.words[0].picture.emoji, U"\U0001F438");
  EXPECT_EQ(blend.words[0].line, 3);
  EXPECT_EQ(blend.words[1].picture.emoji, U"\u23F0");  // the selector is dropped
  EXPECT_EQ(blend.words[1].sound, dir_ / "frog.wav");
  EXPECT_EQ(blend.words[2].picture.file, dir_ / "frog.png");

  const TWordList vowels = Parse("cat 🐈 c_t a\n", TTableKind::SVowel);
  ASSERT_EQ(vowels.words.size(), 1u);
  EXPECT_EQ(vowels.words[0].record.blank, "c_t");
  EXPECT_EQ(vowels.words[0].record.letter, "a");

  const TWordList consonants = Parse("dog 🐕 yes\nfish 🐟 no\n", TTableKind::Conson);
  ASSERT_EQ(consonants.words.size(), 2u);
  EXPECT_TRUE(consonants.words[0].record.usable);
  EXPECT_FALSE(consonants.words[1].record.usable);

  const TWordList effects = Parse(
      "craneh trolley\ncranev winch\nkonk frog.wav\nclack grip\nclick snap\n"
      "constr building\n",
      TTableKind::SndFx);
  EXPECT_EQ(effects.problems, std::vector<std::string>{});
  ASSERT_EQ(effects.effects.size(), 6u);
  EXPECT_EQ(effects.effects[2].sound, dir_ / "frog.wav");
  EXPECT_EQ(effects.effects[0].recipe, "trolley");
}

TEST_F(WordListTest, NamesTheLineOrWordOfEachMistake) {
  struct TCase {
    const char* what;
    TTableKind kind;
    const char* text;
    std::string problem;
  };
  const TCase cases[] = {
      {"a column missing", TTableKind::SVowel, "cat 🐈 c_t\n",
       "line 1: expected word, picture, blank, letter and an optional sound, found 3 columns"},
      {"a picture file that is not there", TTableKind::Blend, "\nfrog frogs.png\n",
       "line 2: no file " + (dir_ / "frogs.png").string()},
      {"a sound that is not a WAV name", TTableKind::Blend, "frog 🐸 frog.mp3\n",
       "line 1: the sound \"frog.mp3\" should be a .wav file"},
      {"neither yes nor no", TTableKind::Conson, "dog 🐕 maybe\n", "line 1: \"maybe\" should be yes or no"},
      {"bad code points", TTableKind::Blend, "frog U+XYZ\n", "line 1: \"U+XYZ\" is not an emoji"},
      {"a word twice", TTableKind::Blend, "frog 🐸\nflag 🚩\nfrog 🐸\n", "frog: appears twice (lines 1 and 3)"},
      {"an upper-case word", TTableKind::Blend, "Frog 🐸\n", "Frog: not written in lower-case letters a to z"},
      {"a letter that is not in the gap", TTableKind::LVowel, "cake 🎂 c_ke e\n",
       "cake: \"Blank\" \"c_ke\" with \"e\" in its gap does not give \"cake\""},
      {"an empty list", TTableKind::Conson, "# nothing yet\n", "holds no record"},
      {"an unknown recipe", TTableKind::SndFx, "konk drum\n",
       "line 1: \"drum\" is neither a recipe (trolley, winch, knock, grip, snap, building) nor a .wav file"},
      {"an effect missing", TTableKind::SndFx, "craneh trolley\n", "no effect \"cranev\""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TWordList list = Parse(c.text, c.kind);
    EXPECT_NE(std::find(list.problems.begin(), list.problems.end(), c.problem), list.problems.end())
        << ::testing::PrintToString(list.problems);
  }
}

// The lists the game ships with, held to the numbers the content was
// written for, so an edit that thins a table out is noticed.
TEST(ShippedLists, AreCleanAndLargeEnoughForEveryPuzzleKind) {
  std::map<TTableKind, TWordList> lists;
  for (const TTableInfo& t : kTables) {
    lists[t.kind] = ReadWordList(fs::path(TAMBLO_DATA_DIR) / (std::string(t.name) + ".txt"), t.kind);
    EXPECT_EQ(lists[t.kind].problems, std::vector<std::string>{}) << t.name;
    EXPECT_LE(lists[t.kind].words.size(), static_cast<std::size_t>(kMaxRecords)) << t.name;
  }
  std::set<std::string> blends;
  for (const TWordEntry& e : lists[TTableKind::Blend].words)
    for (const std::string& b : BlendGaps(e.record.word)) blends.insert(b);
  EXPECT_GE(lists[TTableKind::Blend].words.size(), 120u);
  EXPECT_EQ(blends.size(), content::kBlends.size());
  const auto& consonants = lists[TTableKind::Conson].words;
  EXPECT_GE(std::count_if(consonants.begin(), consonants.end(), [](const TWordEntry& e) { return e.record.usable; }),
            120);

  struct TVowels {
    TTableKind kind;
    std::size_t total, each;
  };
  for (const TVowels& v : {TVowels{TTableKind::SVowel, 80, 12}, TVowels{TTableKind::LVowel, 70, 10}}) {
    std::map<std::string, std::size_t> perVowel;
    for (const TWordEntry& e : lists[v.kind].words) ++perVowel[e.record.letter];
    EXPECT_GE(lists[v.kind].words.size(), v.total) << TableName(v.kind);
    for (const char* vowel : {"a", "e", "i", "o", "u"})
      EXPECT_GE(perVowel[vowel], v.each) << TableName(v.kind) << " " << vowel;
  }

  // One picture per word across all tables, and every picture in the font.
  TEmojiFont font;
  std::map<std::string, std::u32string> pictureOf;
  std::map<std::u32string, std::string> wordOf;
  for (const auto& [kind, list] : lists) {
    for (const TWordEntry& e : list.words) {
      const std::string& w = e.record.word;
      EXPECT_TRUE(font.Provides(e.picture.emoji)) << w;
      EXPECT_EQ(pictureOf.emplace(w, e.picture.emoji).first->second, e.picture.emoji)
          << w << " has two pictures";
      EXPECT_EQ(wordOf.emplace(e.picture.emoji, w).first->second, w) << w << " shares its picture";
    }
  }
}

}  // namespace
}  // namespace tamblo::content_tool
