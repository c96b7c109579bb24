// The player over the mixer, on SDL's dummy audio driver.

#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_mixer.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "media/media_player.h"
#include "tests/media/picture_fixtures.h"
#include "toolkit/application.h"
#include "toolkit/form.h"

namespace media {
namespace {

namespace fs = std::filesystem;

class MediaPlayerTest : public ::testing::Test {
 protected:
  MediaPlayerTest() : form_(app_, "Form1"), player_(form_.Add<TDBMediaPlayer>("DBMediaPlayer1")) {}

  std::string WriteWav(const std::string& name, int ms) {
    const fs::path path = fs::path(testing::TempDir()) / name;
    const auto bytes = fixtures::Wav(ms);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }

  toolkit::Application app_;
  toolkit::TForm form_;
  TDBMediaPlayer& player_;
};

TEST_F(MediaPlayerTest, NothingOpenRefusesPlayAndStopButCloseIsQuiet) {
  const std::function<void()> calls[] = {[&] { player_.Play(); }, [&] { player_.Stop(); }};
  for (const auto& call : calls) {
    try {
      call();
      FAIL() << "played with nothing open";
    } catch (const EMCIDeviceError& e) {
      EXPECT_STREQ(e.what(), "No MCI device open");
    }
  }
  player_.Close();
  EXPECT_EQ(player_.Mode(), TMPModes::mpNotReady);
}

TEST_F(MediaPlayerTest, OpensASoundAndPlaysItFromTheStart) {
  player_.FileName = WriteWav("one.wav", 1000);
  player_.Open();
  EXPECT_NEAR(static_cast<double>(player_.Length()), 1000, 2);
  EXPECT_EQ(player_.Position(), 0);
  EXPECT_EQ(player_.Mode(), TMPModes::mpStopped);
  player_.Play();
  EXPECT_EQ(player_.Mode(), TMPModes::mpPlaying);
  player_.Stop();
  EXPECT_EQ(player_.Mode(), TMPModes::mpStopped);
  EXPECT_LE(player_.Position(), player_.Length());
  // Opening again closes the first sound.
  player_.FileName = WriteWav("two.wav", 200);
  player_.Open();
  EXPECT_NEAR(static_cast<double>(player_.Length()), 200, 2);
  player_.Close();
  EXPECT_FALSE(player_.IsOpen());
}

TEST_F(MediaPlayerTest, PlayAtTheEndRewinds) {
  player_.FileName = WriteWav("short.wav", 30);
  player_.Open();
  player_.Play();
  // The dummy driver consumes sound in real time; wait for the end, bounded.
  for (int i = 0; i < 200 && player_.Mode() == TMPModes::mpPlaying; ++i) SDL_Delay(10);
  ASSERT_EQ(player_.Mode(), TMPModes::mpStopped);
  EXPECT_EQ(player_.Position(), player_.Length());
  player_.Play();
  EXPECT_EQ(player_.Mode(), TMPModes::mpPlaying);
  EXPECT_LT(player_.Position(), player_.Length());
}

TEST_F(MediaPlayerTest, AFileThatIsNoSoundFailsToOpen) {
  const fs::path path = fs::path(testing::TempDir()) / "noise.wav";
  std::ofstream(path) << "not a sound";
  player_.FileName = path.string();
  EXPECT_THROW(player_.Open(), EMCIDeviceError);
  EXPECT_FALSE(player_.IsOpen());
  player_.FileName = (fs::path(testing::TempDir()) / "absent.wav").string();
  EXPECT_THROW(player_.Open(), EMCIDeviceError);
}

TEST_F(MediaPlayerTest, MutedSoundPlaysSilentlyOnEveryChannelIncludingLaterOnes) {
  SetSoundMuted(true);
  // Players opened after the switch take channels of their own; they are silent too.
  std::vector<TDBMediaPlayer*> players{&player_};
  for (int i = 0; i < 12; ++i) players.push_back(&form_.Add<TDBMediaPlayer>("extra" + std::to_string(i)));
  for (TDBMediaPlayer* p : players) {
    p->FileName = WriteWav("muted.wav", 300);
    p->Open();
  }
  EXPECT_TRUE(SoundMuted());
  EXPECT_EQ(Mix_Volume(-1, -1), 0);
  player_.Play();
  EXPECT_EQ(player_.Mode(), TMPModes::mpPlaying);
  SetSoundMuted(false);
  EXPECT_EQ(Mix_Volume(-1, -1), MIX_MAX_VOLUME);
}

TEST(MciExtensionTest, WaveAlwaysPlaysMoviesNever) {
  EXPECT_NE(MciExtensionCheck("WAV"), "none");
  EXPECT_EQ(MciExtensionCheck("AVI"), "none");
  EXPECT_EQ(MciExtensionCheck("MOV"), "none");
  EXPECT_EQ(MciExtensionCheck("XYZ"), "none");
}

}  // namespace
}  // namespace media
