// The content the build put beside the program, as the game meets it: the
// tables open in the game's order, every word of every table sets up its
// kind of puzzle, every cue plays, and words and effects sound alike loud.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "content/data_module.h"
#include "dataset/field.h"
#include "game/wrdcnst_form.h"
#include "media/image_library.h"
#include "toolkit/application.h"
#include "tools/tamblo-content/audio.h"
#include "tools/tamblo-content/content_rules.h"
#include "tools/tamblo-content/speech.h"

namespace tamblo::content_tool {
namespace {

class BuiltContentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    media::TPictureLibrary::SetSearchDirectory(TAMBLO_RUNTIME_DIR);
    app_.SetReporter([this](const std::string&, const std::string& text) { reports_.push_back(text); });
    dm_ = &app_.CreateForm<content::TDataModule1>();
    form_ = &app_.CreateForm<game::TfWrdCnst>(TAMBLO_ASSET_DIR, *dm_,
                                              std::filesystem::path(TAMBLO_RUNTIME_DIR) / "tamblo");
    // The record draw answers the position under test; the rest are random.
    form_->Reseed = [] {};
    form_->Draw = [this](int n) {
      if (next_ >= 0) return std::exchange(next_, -1);
      return static_cast<int>(random_() % static_cast<unsigned>(n));
    };
  }

  ledger::TLedgerTable& Table(int mode) {
    switch (mode) {
      case game::kBlendMode:
        return dm_->dbBlend;
      case game::kShortVowelMode:
        return dm_->dbSVowel;
      case game::kLongVowelMode:
        return dm_->dbLVowel;
      default:
        return dm_->dbConson;
    }
  }

  // The pieces cut out of the word, read off the shown word.
  std::vector<std::string> Gaps() const {
    std::vector<std::string> gaps;
    const std::string& shown = form_->FShownWord;
    for (std::size_t p = shown.find(form_->FGapMark); p != std::string::npos;
         p = shown.find(form_->FGapMark, p + form_->FGapMark.size()))
      gaps.push_back(form_->FWord.substr(p, form_->FGapMark.size()));
    return gaps;
  }

  toolkit::Application app_;
  std::vector<std::string> reports_;
  content::TDataModule1* dm_ = nullptr;
  game::TfWrdCnst* form_ = nullptr;
  std::mt19937 random_{2024};
  int next_ = -1;
};

TEST_F(BuiltContentTest, TheTablesOpenInTheGamesOrder) {
  EXPECT_TRUE(reports_.empty()) << reports_.front();
  for (const ledger::TLedgerTable* t :
       {&dm_->dbBlend, &dm_->dbSndFx, &dm_->dbConson, &dm_->dbLVowel, &dm_->dbSVowel})
    EXPECT_TRUE(t->Active()) << t->TableName();
}

TEST_F(BuiltContentTest, EveryWordSetsUpAPuzzleOfItsKind) {
  ASSERT_TRUE(reports_.empty()) << reports_.front();
  for (int mode = game::kBlendMode; mode <= game::kConsonantMode; ++mode) {
    ledger::TLedgerTable& table = Table(mode);
    const int records = table.RecordCount();
    ASSERT_GT(records, 0);
    ASSERT_LE(records, game::kUsedMarks);
    for (int pos = 0; pos < records; ++pos) {
      table.SetRecNo(pos + 1);
      const std::string word = table.FieldByName("Word").AsString();
      // A word the game may not use is drawn past; another takes its place.
      const bool usable = mode != game::kConsonantMode || table.FieldByName("Contruction").AsBoolean();
      SCOPED_TRACE(std::string(table.TableName()) + ": " + word);
      form_->FUsed.fill(false);
      form_->FMode = mode;
      form_->FLevel = 1;
      next_ = pos;
      form_->NewPuzzle();
      ASSERT_TRUE(reports_.empty()) << reports_.front();
      if (usable) {
        EXPECT_EQ(form_->FWord, word);
      }
      const std::vector<std::string> gaps = Gaps();
      ASSERT_FALSE(gaps.empty()) << form_->FShownWord;
      std::vector<std::string> blocks(form_->FBlockText.begin() + 1,
                                      form_->FBlockText.begin() + 1 + form_->FBlockCount);
      // One right block per gap; no wrong block that would also fit.
      for (const std::string& gap : gaps) {
        const auto right = std::find(blocks.begin(), blocks.end(), gap);
        ASSERT_NE(right, blocks.end()) << gap;
        blocks.erase(right);
      }
      for (const std::string& wrong : blocks) {
        EXPECT_EQ(wrong.size(), static_cast<std::size_t>(form_->FGapLen)) << wrong;
        if (mode == game::kBlendMode || mode == game::kConsonantMode)
          EXPECT_EQ(form_->FWord.find(wrong), std::string::npos) << wrong;
        else
          EXPECT_NE(wrong, gaps[0]);
      }
    }
  }
}

TEST_F(BuiltContentTest, EveryCueIsFoundAndPlays) {
  for (std::string_view key : kEffectKeys) {
    SCOPED_TRACE(std::string(key));
    EXPECT_TRUE(dm_->dbSndFx.FindKey({std::string(key)}));
    form_->Cue(std::string(key).c_str());
    EXPECT_TRUE(reports_.empty()) << reports_.front();
  }
}

TSound BlobSound(ledger::TLedgerTable& table, const char* field) {
  std::string why;
  auto sound = ReadWave(static_cast<dataset::TBlobField&>(table.FieldByName(field)).AsBytes(), why);
  EXPECT_TRUE(sound) << why;
  return sound ? *sound : TSound{};
}

// Sound the child hears from one speaker, one after the other: no word or
// effect much louder than the rest, and none that starts or stops on a click.
TEST_F(BuiltContentTest, WordsAndEffectsAreLevelledAndFadeInAndOut) {
  auto edgesSilent = [](const TSound& s) {
    return !s.samples.empty() && std::abs(s.samples.front()) < 0.01f && std::abs(s.samples.back()) < 0.01f;
  };
  std::vector<double> wordLoudness;
  for (ledger::TLedgerTable* table : {&dm_->dbBlend, &dm_->dbSVowel, &dm_->dbLVowel, &dm_->dbConson}) {
    for (int pos = 1; pos <= table->RecordCount(); ++pos) {
      table->SetRecNo(pos);
      SCOPED_TRACE(table->FieldByName("Word").AsString());
      const TSound s = BlobSound(*table, "Sound");
      const double loudness = MaxMomentaryLoudness(s);
      // A word whose peaks would pass the ceiling stays a little quieter.
      EXPECT_GE(loudness, kTargetLoudness - 3.0);
      EXPECT_LE(loudness, kTargetLoudness + 0.1);
      EXPECT_LE(PeakLevel(s), kPeakCeiling + 0.01);
      EXPECT_TRUE(edgesSilent(s));
      wordLoudness.push_back(loudness);
    }
  }
  std::sort(wordLoudness.begin(), wordLoudness.end());
  const double median = wordLoudness[wordLoudness.size() / 2];
  struct TCue {
    const char* key;
    double shortest, longest;  // what its moment in the animation asks
  };
  // Sideways travel takes up to about five seconds; a lift or a lowering
  // 1.6 to 2.1, after which the crane rests in silence; the short cues are
  // stopped 0.3 to 0.4 s after they start, and a floor goes up in 2.3 s.
  const TCue cues[] = {{"craneh", 4.5, 6.0}, {"cranev", 1.8, 2.1}, {"konk", 0.1, 0.5},
                       {"clack", 0.1, 0.4},  {"click", 0.1, 0.4},  {"constr", 2.1, 2.4}};
  for (const TCue& c : cues) {
    SCOPED_TRACE(c.key);
    ASSERT_TRUE(dm_->dbSndFx.FindKey({std::string(c.key)}));
    const TSound s = BlobSound(dm_->dbSndFx, "SoundFile");
    EXPECT_NEAR(MaxMomentaryLoudness(s), median, 1.5);
    EXPECT_GE(s.Seconds(), c.shortest);
    EXPECT_LE(s.Seconds(), c.longest);
    EXPECT_LE(PeakLevel(s), kPeakCeiling + 0.01);
    EXPECT_TRUE(edgesSilent(s));
  }
}

}  // namespace
}  // namespace tamblo::content_tool
