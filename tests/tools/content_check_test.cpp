// `check` opens the five tables as the game does and names each kind of
// broken content: small tables are written here with one fault each.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <numbers>
#include <sstream>

#include "media/image_library.h"
#include "tools/tamblo-content/audio.h"
#include "tests/tools/run_content_tool.h"
#include "tools/tamblo-content/commands.h"
#include "tools/tamblo-content/content_tables.h"
#include "tools/tamblo-content/pictures.h"

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

using test_support::RunTool;
using test_support::TRun;

std::vector<std::uint8_t> Picture() {
  TRgbPicture p;
  p.width = 8;
  p.height = 6;
  for (int i = 0; i < p.width * p.height; ++i)
    p.rgb.insert(p.rgb.end(), {200, static_cast<std::uint8_t>(i * 5), 40});
  return EncodePng(p);
}

std::vector<std::uint8_t> Sound(double seconds, int rate = kTableRate) {
  TSound s;
  s.rate = rate;
  for (int i = 0; i < static_cast<int>(seconds * rate); ++i)
    s.samples.push_back(static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 330 * i / rate)));
  return WriteWave16(s);
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Five small tables the game could play, to be spoiled one way per case.
struct TContent {
  std::map<TTableKind, std::vector<TWordRow>> words;
  std::vector<TEffectRow> effects;

  static TWordRow Row(const std::string& word, const std::string& blank = "", const std::string& letter = "",
                      bool usable = true) {
    return {{word, blank, letter, usable}, Picture(), Sound(0.5), "test", "test"};
  }
  TContent() {
    words[TTableKind::Blend] = {Row("frog"), Row("clock")};
    words[TTableKind::SVowel] = {Row("cat", "c_t", "a")};
    words[TTableKind::LVowel] = {Row("cake", "c_ke", "a")};
    words[TTableKind::Conson] = {Row("dog"), Row("fish", "", "", false)};
    for (std::string_view key : kEffectKeys) effects.push_back({std::string(key), Sound(1.0), "test"});
  }
  void Write(const fs::path& dir) const {
    for (const auto& [kind, rows] : words) WriteWordTable(dir, kind, rows);
    WriteEffectTable(dir, effects);
  }
};

class CheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    media::TPictureLibrary::SetSearchDirectory(TAMBLO_RUNTIME_DIR);
    dir_ = test_support::ScratchDir("check");
  }
  fs::path dir_;
};

TEST_F(CheckTest, PassesGoodTablesWithACountPerTableInTheGameOrder) {
  TContent().Write(dir_);
  const TRun run = RunTool({"check", dir_.string()});
  EXPECT_EQ(run.code, kExitOk) << run.out << run.err;
  EXPECT_EQ(run.out,
            "checked Blend 2 records, 0 problems; SndFx 6 records, 0 problems; Conson 2 records, 0 problems; "
            "LVowel 1 record, 0 problems; SVowel 1 record, 0 problems\n");
}

TEST_F(CheckTest, NamesTableWordAndProblemForEachKindOfBrokenContent) {
  struct TCase {
    const char* what;
    std::function<void(TContent&)> spoil;
    std::string problem;  // the whole line, or its start when it ends in ": "
    std::string summary;  // the table's part of the summary line
  };
  const TCase cases[] = {
      {"a blend word with five blends",
       [](TContent& c) { c.words[TTableKind::Blend].push_back(TContent::Row("blackflagstopship")); },
       "Blend: blackflagstopship: more than four different blends (5: bl ck fl st sh)",
       "Blend 3 records, 1 problem"},
      {"a Blank that does not match Letter",
       [](TContent& c) { c.words[TTableKind::SVowel][0].record.letter = "o"; },
       "SVowel: cat: \"Blank\" \"c_t\" with \"o\" in its gap does not give \"cat\"",
       "SVowel 1 record, 1 problem"},
      {"a Conson table with no usable word",
       [](TContent& c) { c.words[TTableKind::Conson][0].record.usable = false; },
       "Conson: no record has \"Contruction\" true, so no consonant puzzle can be set up",
       "Conson 2 records, 1 problem"},
      {"201 records",
       [](TContent& c) {
         auto& rows = c.words[TTableKind::Blend];
         rows.clear();
         // "bl" and four vowels: no other blend creeps in.
         for (int i = 0; i < 201; ++i) {
           std::string word = "bl";
           for (int d = 0, n = i; d < 4; ++d, n /= 5) word += "aeiou"[n % 5];
           rows.push_back(TContent::Row(word));
         }
       },
       "Blend: holds 201 records, more than the 200 the game can mark as used",
       "Blend 201 records, 1 problem"},
      {"an upper-case word", [](TContent& c) { c.words[TTableKind::Blend][0].record.word = "Frog"; },
       "Blend: Frog: not written in lower-case letters a to z", "Blend 2 records, 1 problem"},
      {"a missing effect key",
       [](TContent& c) { std::erase_if(c.effects, [](const TEffectRow& e) { return e.key == "konk"; }); },
       "SndFx: konk: not found by a key search", "SndFx 5 records, 1 problem"},
      {"an undecodable picture",
       [](TContent& c) {
         c.words[TTableKind::LVowel][0].graphic = Bytes("\x89PNG\r\n\x1a\n but nothing after");
       },
       "LVowel: cake: picture: ", "LVowel 1 record, 1 problem"},
      {"a sound that is not WAV",
       [](TContent& c) { c.words[TTableKind::Conson][0].sound = Bytes("ID3\x04 an mp3 file"); },
       "Conson: dog: spoken word: not a valid WAV file: not a RIFF WAVE file", "Conson 2 records, 1 problem"},
      {"an effect too long for any cue", [](TContent& c) { c.effects[0].sound = Sound(9.0); },
       "SndFx: craneh: sound: lasts 9.00 s, outside 0.05 s to 8.00 s", "SndFx 6 records, 1 problem"},
      {"a word at the telephone's rate",
       [](TContent& c) { c.words[TTableKind::Blend][1].sound = Sound(0.5, 8000); },
       "Blend: clock: spoken word: not 16-bit mono PCM at 22050 Hz or more (16-bit, 1 channels, 8000 Hz)",
       "Blend 2 records, 1 problem"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    TContent content;
    c.spoil(content);
    content.Write(dir_);
    const TRun run = RunTool({"check", dir_.string()});
    EXPECT_EQ(run.code, kExitFailed);
    std::istringstream lines(run.out);
    std::vector<std::string> problems;
    std::string summary;
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("checked "))
        summary = line;
      else
        problems.push_back(line);
    }
    ASSERT_EQ(problems.size(), 1u) << run.out;
    if (c.problem.ends_with(": "))
      EXPECT_TRUE(problems[0].starts_with(c.problem)) << problems[0];
    else
      EXPECT_EQ(problems[0], c.problem);
    EXPECT_NE(summary.find(c.summary), std::string::npos) << summary;
  }
}

TEST_F(CheckTest, ATableThatIsNotThereIsAProblemOfItsOwn) {
  TContent().Write(dir_);
  for (const char* ext : kTableExtensions) fs::remove(dir_ / (std::string("LVowel") + ext));
  const TRun run = RunTool({"check", dir_.string()});
  EXPECT_EQ(run.code, kExitFailed);
  EXPECT_TRUE(run.out.starts_with("LVowel: cannot be opened: ")) << run.out;
  // One table alone may be checked, as after a teacher's build.
  EXPECT_EQ(RunTool({"check", dir_.string(), "--table", "SVowel"}).code, kExitOk);
}

}  // namespace
}  // namespace tamblo::content_tool
