// `build` from a teacher's own list: pictures of their own in the formats
// the image library reads, a recording of their own, the rest synthesized;
// and a broken list that leaves the tables already there untouched.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "dataset/field.h"
#include "engine/components/ledger_table.h"
#include "media/image_library.h"
#include "tests/media/picture_fixtures.h"
#include "tools/tamblo-content/audio.h"
#include "tests/tools/run_content_tool.h"
#include "tools/tamblo-content/commands.h"
#include "tools/tamblo-content/pictures.h"
#include "tools/tamblo-content/speech.h"

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

using test_support::RunTool;
using test_support::TRun;

std::string Contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TeacherBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    media::TPictureLibrary::SetSearchDirectory(TAMBLO_RUNTIME_DIR);
    dir_ = test_support::ScratchDir("teacher");
    fs::create_directories(dir_ / "out");
    const auto picture = fixtures::Quadrants(40, 30);
    Write("frog.png", fixtures::Png(picture));
    Write("clock.jpg", fixtures::Jpeg(picture));
    Write("sled.gif", fixtures::Gif(picture));
    Write("clock.wav", fixtures::Wav(700, 300, 44100));
    Write("not-a-picture.png", fixtures::Bytes{'h', 'e', 'l', 'l', 'o'});
    Write("not-a-sound.wav", fixtures::Bytes{'I', 'D', '3', 4, 0});
  }
  void Write(const std::string& name, const fixtures::Bytes& bytes) {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  TRun Build(const std::string& list, const char* table = "Blend") {
    std::ofstream(dir_ / "words.txt") << list;
    return RunTool({"build", "--words", (dir_ / "words.txt").string(), "--table", table, "--out",
                    (dir_ / "out").string()});
  }
  fs::path Out() const { return dir_ / "out"; }
  fs::path dir_;
};

TEST_F(TeacherBuildTest, OwnPicturesInThreeFormatsAndAnOwnRecordingBuildAndCheck) {
  const TRun run = Build(
      "# My class's words\n"
      "frog   frog.png\n"
      "clock  clock.jpg  clock.wav\n"
      "sled   sled.gif\n"
      "crab   🦀\n");
  ASSERT_EQ(run.code, kExitOk) << run.err;
  const TRun check = RunTool({"check", Out().string(), "--table", "Blend"});
  EXPECT_EQ(check.code, kExitOk) << check.out << check.err;
  EXPECT_EQ(check.out, "checked Blend 4 records, 0 problems\n");

  ledger::TLedgerTable table;
  table.SetDatabaseName(Out().string());
  table.SetTableName("Blend");
  table.Open();
  ASSERT_EQ(table.RecordCount(), 4);
  struct TExpect {
    const char* word;
    const char* picture;
    std::string sound;
  };
  const TExpect expected[] = {{"clock", "clock.jpg", "clock.wav"},
                              {"crab", "U+1F980", VoiceDescription()},
                              {"frog", "frog.png", VoiceDescription()},
                              {"sled", "sled.gif", VoiceDescription()}};
  for (int i = 0; i < 4; ++i) {
    const TExpect& e = expected[i];
    SCOPED_TRACE(e.word);
    table.SetRecNo(i + 1);
    EXPECT_EQ(table.FieldByName("Word").AsString(), e.word);
    EXPECT_EQ(table.FieldByName("PictureSource").AsString(), e.picture);
    EXPECT_EQ(table.FieldByName("SoundSource").AsString(), e.sound);
    TDecodedSize size;
    EXPECT_EQ(DecodeProblem(static_cast<dataset::TBlobField&>(table.FieldByName("Graphic")).AsBytes(), size),
              "");
    // Own pictures are fitted to the emoji's frame.
    if (e.picture[0] != 'U') {
      EXPECT_EQ(size.width, kFrameWidth);
      EXPECT_EQ(size.height, kFrameHeight);
    }
    // The recording is levelled like the synthesized words.
    std::string why;
    const auto sound = ReadWave(static_cast<dataset::TBlobField&>(table.FieldByName("Sound")).AsBytes(), why);
    ASSERT_TRUE(sound) << why;
    EXPECT_EQ(sound->rate, kTableRate);
    EXPECT_NEAR(MaxMomentaryLoudness(*sound), kTargetLoudness, 1.0);
  }
}

TEST_F(TeacherBuildTest, ABrokenListIsNamedAndLeavesTheTableAlreadyThere) {
  ASSERT_EQ(Build("frog frog.png\n").code, kExitOk);
  const std::string before = Contents(Out() / "Blend.DAT") + Contents(Out() / "Blend.BLB");
  struct TCase {
    const char* what;
    const char* list;
    const char* table;
    std::string problem;
  };
  const TCase cases[] = {
      {"an upper-case word", "Frog frog.png\n", "Blend",
       "Blend: Frog: not written in lower-case letters a to z"},
      {"a picture that is not one", "frog not-a-picture.png\n", "Blend",
       "Blend: frog: picture " + (dir_ / "not-a-picture.png").string() + ": "},
      {"a recording that is not WAV", "frog frog.png not-a-sound.wav\n", "Blend",
       "Blend: frog: sound " + (dir_ / "not-a-sound.wav").string() + ": not a RIFF WAVE file"},
      {"a Conson list with no usable word", "fish frog.png no\n", "Conson",
       "Conson: no record has \"Contruction\" true, so no consonant puzzle can be set up"},
      {"a blank in the wrong place", "frog frog.png fr_g a\n", "SVowel",
       "SVowel: frog: \"Blank\" \"fr_g\" with \"a\" in its gap does not give \"frog\""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TRun run = Build(c.list, c.table);
    EXPECT_EQ(run.code, kExitFailed);
    EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("nothing was replaced in " + Out().string()), std::string::npos) << run.err;
  }
  EXPECT_EQ(Contents(Out() / "Blend.DAT") + Contents(Out() / "Blend.BLB"), before);
  // Nothing of the failed builds is left behind.
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(Out())) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"Blend.BLB", "Blend.DAT", "Blend.IDX"}));
}

TEST(BuildCommand, RefusesACommandLineThatDoesNotSayWhatToBuild) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"build", "--data", "data"},
                                               {"build", "--out", "x"},
                                               {"build", "--data", "d", "--words", "w", "--out", "x"},
                                               {"build", "--words", "w", "--out", "x"},
                                               {"build", "--words", "w", "--table", "SndFx", "--out", "x"},
                                               {"build", "--data", "d", "--out", "x", "--jobs", "0"}}) {
    EXPECT_EQ(RunTool(args).code, kExitUsage) << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace tamblo::content_tool
