// The phonics check: each piece a puzzle cuts out must be heard as the sound
// it teaches. The cases read a small dictionary written here in the format
// of the one the tool reads; words it lacks go to espeak-ng, as they would.

#include <gtest/gtest.h>

#include <fstream>

#include "tests/tools/run_content_tool.h"
#include "tools/tamblo-content/phonics.h"

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

using test_support::RunTool;
using test_support::ScratchDir;

constexpr const char* kDictionary =
    "bird B ER D\n"
    "cake K EY K\n"
    "cat K AE T\n"
    "cell S EH L\n"
    "cube K Y UW B\n"
    "eagle IY G AH L\n"
    "fire F AY ER\n"
    "frog F R AA G\n"
    "king K IH NG\n"
    "knee N IY\n"
    "nest N EH S T\n"
    "plant P L AE N T\n"
    "put P UH T\n"
    "rain R EY N\n"
    "rose R OW Z\n"
    "school S K UW L\n"
    "scissors S IH Z ER Z\n"
    "shepherd SH EH P ER D\n"
    "tiger T AY G ER\n"
    "tomato T AH M AA T OW\n"
    "tomato(2) T AH M EY T OW\n"
    "toothbrush T UW TH B R AH SH\n"
    "whale HH W EY L\n"
    "whale(2) W EY L\n"
    "xylo K AE T\n";

struct TPhonicsCase {
  TTableKind kind;
  const char* word;
  const char* blank;  // vowel tables: the word as first shown
  std::vector<std::string> failures;
};

TEST(Phonics, EachGapIsHeardAsWhatItsPuzzleTeaches) {
  const fs::path file = ScratchDir("phonics") / "words.dict";
  std::ofstream(file) << kDictionary;
  const TPronouncingDictionary dictionary(file);
  using K = TTableKind;
  const TPhonicsCase cases[] = {
      // Blends: two consonant sounds with nothing between, digraphs one sound.
      {K::Blend, "frog", "", {}},
      {K::Blend, "eagle", "", {R"(Blend/eagle: "gl" is not heard as a blend (IY G AH L))"}},
      {K::Blend, "school", "", {}},
      {K::Blend, "scissors", "", {R"(Blend/scissors: "sc" is not heard as a blend (S IH Z ER Z))"}},
      {K::Blend, "shepherd", "", {R"(Blend/shepherd: "ph" is not heard as F (SH EH P ER D))"}},
      // Only the second way of saying it has "wh" as W; one way is enough.
      {K::Blend, "whale", "", {}},
      {K::Blend, "toothbrush", "", {R"(Blend/toothbrush: "th" and "br" are gaps side by side (too____u__))"}},
      // Not in the dictionary: espeak-ng says it, and the line says so.
      {K::Blend, "blorple", "",
       {R"(Blend/blorple: "pl" is not heard as a blend (B L OW R P AH L, from espeak-ng))"}},
      {K::Blend, "xylo", "", {"Blend/xylo: its letters cannot be matched to its sounds (K AE T)"}},
      // Vowels, short and long, in the gap's own syllable.
      {K::SVowel, "cat", "c_t", {}},
      {K::SVowel, "put", "p_t", {R"(SVowel/put: "u" is not heard as a short u, AH (P UH T))"}},
      {K::LVowel, "cake", "c_ke", {}},
      {K::LVowel, "cube", "c_be", {}},
      {K::LVowel, "rain", "ra_n", {R"(LVowel/rain: "i" is not heard as a long i, AY (R EY N))"}},
      {K::LVowel, "tomato", "tom_to", {}},
      {K::SVowel, "tomato", "tom_to", {R"(SVowel/tomato: "a" is not heard as a short a, AE (T AH M AA T OW))"}},
      // Consonants as their own sound; c and g may be soft, an r inside its
      // vowel is heard.
      {K::Conson, "cat", "", {}},
      {K::Conson, "cell", "", {}},
      {K::Conson, "fire", "", {}},
      {K::Conson, "tiger", "", {}},
      {K::Conson, "rose", "", {R"(Conson/rose: "s" is heard as Z, not S (R OW Z))"}},
      {K::Conson, "knee", "",
       {R"(Conson/knee: "k" and "n" are gaps side by side (__ee))", R"(Conson/knee: "k" is silent (N IY))"}},
      {K::Conson, "king", "",
       {R"(Conson/king: "n" and "g" are gaps side by side (_i__))",
        R"(Conson/king: "n" is part of "ng", heard as NG, not N (K IH NG))",
        R"(Conson/king: "g" is part of "ng", heard as NG, not G or JH (K IH NG))"}},
      // Every cut a coin toss can make counts.
      {K::Conson, "plant", "",
       {R"(Conson/plant: "n" and "t" are gaps side by side (_la__))",
        R"(Conson/plant: "p" and "l" are gaps side by side (__ant))"}},
      {K::Conson, "bird", "", {R"(Conson/bird: "r" and "d" are gaps side by side (_i__))"}},
  };
  for (const TPhonicsCase& c : cases) {
    SCOPED_TRACE(std::string(TableName(c.kind)) + " " + c.word);
    const std::string blank = c.blank;
    const std::size_t gap = blank.find('_');
    const TWordRecord record{c.word, blank, gap == std::string::npos ? "" : std::string(1, c.word[gap]), true};
    EXPECT_EQ(PhonicsFailures(c.kind, record, Pronounce(c.word, dictionary)), c.failures);
  }
}

TEST(Phonics, ADictionaryThatCannotBeReadIsNamed) {
  try {
    TPronouncingDictionary dictionary(ScratchDir("phonics") / "missing.dict");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("missing.dict"), std::string::npos) << e.what();
  }
}

TEST(Phonics, ATeachersListWarnsUnlessStrict) {
  const fs::path list = ScratchDir("phonics") / "blends.txt";
  // "bubbles" fails, "frog" passes, "rose" is never used as a consonant word.
  std::ofstream(list) << "frog 🐸\nbubbles 🫧\n";
  const fs::path consonants = list.parent_path() / "consonants.txt";
  std::ofstream(consonants) << "cat 🐈 yes\nrose 🌹 no\n";

  const auto warned = RunTool({"check", "--words", list.string(), "--table", "Blend"});
  EXPECT_EQ(warned.code, 0) << warned.out << warned.err;
  EXPECT_NE(warned.out.find("warning: Blend/bubbles: \"bl\" is not heard as a blend (B AH B AH L Z)\n"),
            std::string::npos)
      << warned.out;

  const auto strict = RunTool({"check", "--words", list.string(), "--table", "Blend", "--strict"});
  EXPECT_EQ(strict.code, 2) << strict.out << strict.err;
  EXPECT_TRUE(strict.out.starts_with("Blend/bubbles: \"bl\"")) << strict.out;
  EXPECT_EQ(strict.out.find("warning:"), std::string::npos) << strict.out;

  const auto unused = RunTool({"check", "--words", consonants.string(), "--table", "Conson", "--strict"});
  EXPECT_EQ(unused.code, 0) << unused.out << unused.err;
}

TEST(Phonics, WordsTheGameCannotUseAreRefusedBeforeTheyAreHeard) {
  const fs::path list = ScratchDir("phonics") / "blends.txt";
  std::ofstream(list) << "Clock ⏰\ndon't 🚫\n";
  const auto run = RunTool({"check", "--words", list.string(), "--table", "Blend"});
  EXPECT_EQ(run.code, 2) << run.out << run.err;
  EXPECT_NE(run.out.find("Clock: not written in lower-case letters a to z"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("don't: not written in lower-case letters a to z"), std::string::npos) << run.out;

  for (const auto& [word, why] : {std::pair<std::string, std::string>{"Clock", "not written in lower-case letters a to z"},
                                  {"don't", "not written in lower-case letters a to z"},
                                  {std::string(5000, 'a'), "longer than 20 letters"}}) {
    const auto explained = RunTool({"check", "--explain", word});
    EXPECT_EQ(explained.code, 2);
    EXPECT_NE(explained.err.find(why), std::string::npos) << explained.err;
  }
}

TEST(Phonics, ExplainShowsTheSoundsThePiecesAndTheVerdict) {
  const auto run = RunTool({"check", "--explain", "eagle"});
  EXPECT_EQ(run.code, 0) << run.err;
  for (const char* expected : {"said IY G AH L", "ea=IY  g=G  le=AH L", "Blend: cuts ea__e",
                               R"(Blend/eagle: "gl" is not heard as a blend (IY G AH L))", "LVowel: passes as _agle"})
    EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
}

TEST(Phonics, CheckRefusesOptionsThatDoNotGoTogether) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"check", "--explain", "cat", "--strict"},
        {"check", "dir", "--strict"},
        {"check", "--words", "list.txt"},
        {"check", "--words", "list.txt", "--table", "SndFx"},
        {"build", "--data", "data", "--out", "out", "--strict"}}) {
    EXPECT_EQ(RunTool(args).code, 64) << args.back();
  }
}

}  // namespace
}  // namespace tamblo::content_tool
