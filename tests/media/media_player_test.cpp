// The player over the mixer, on SDL's dummy audio driver.

#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_mixer.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "media/content_recognition.h"
#include "media/media_player.h"
#include "tests/media/picture_fixtures.h"
#include "testing/sound_samples.h"
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

TEST_F(MediaPlayerTest, PlayersOfOneSoundShareItSafelyAndARewrittenFileOpensAsItsNewSound) {
  player_.FileName = WriteWav("again.wav", 300);
  player_.Open();
  TDBMediaPlayer& other = form_.Add<TDBMediaPlayer>("DBMediaPlayer2");
  other.FileName = player_.FileName;
  other.Open();
  other.Play();
  player_.Close();  // the other goes on with the sound they shared
  EXPECT_EQ(other.Mode(), TMPModes::mpPlaying);
  EXPECT_NEAR(static_cast<double>(other.Length()), 300, 2);
  WriteWav("again.wav", 700);
  player_.Open();
  EXPECT_NEAR(static_cast<double>(player_.Length()), 700, 2);
  other.Close();
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

// The loose recognition may call many things a wave sound; the mixer is
// handed only plain wave sound, never a form its loader would decode besides.
// Every case is also opened: what is accepted really plays.
TEST_F(MediaPlayerTest, OnlyPcmOrFloatWaveAndStandardMidiReachTheMixer) {
  using namespace sound_samples;
  Bytes noFormat = Wave({});
  std::copy_n("LIST", 4, noFormat.begin() + 12);  // the format chunk renamed
  const Bytes wave = Wave({});
  Bytes dataFirst(wave.begin(), wave.begin() + 12);
  dataFirst.insert(dataFirst.end(), wave.begin() + 36, wave.end());
  dataFirst.insert(dataFirst.end(), wave.begin() + 12, wave.begin() + 36);
  Bytes riffLater = wave;
  riffLater.insert(riffLater.begin(), {'I', 'D', '3', 0});
  Bytes badGuid = Wave({.subTag = 1});
  badGuid[12 + 8 + 26] = 0x55;
  struct TCase {
    const char* what;
    const char* kind;
    Bytes bytes;
    bool playable;
  };
  const TCase cases[] = {
      {"16-bit PCM", "WAV", wave, true},
      {"8-bit PCM", "WAV", Wave({.bits = 8}), true},
      {"24-bit stereo PCM", "WAV", Wave({.channels = 2, .bits = 24}), true},
      {"32-bit PCM", "WAV", Wave({.bits = 32}), true},
      {"32-bit float", "WAV", Wave({.tag = 3, .bits = 32}), true},
      {"extensible PCM", "WAV", Wave({.subTag = 1}), true},
      {"extensible float", "WAV", Wave({.bits = 32, .subTag = 3}), true},
      {"mu-law", "WAV", Wave({.tag = 7, .bits = 8}), false},
      {"A-law", "WAV", Wave({.tag = 6, .bits = 8}), false},
      {"extensible mu-law", "WAV", Wave({.bits = 8, .subTag = 7}), false},
      {"extensible PCM with another GUID", "WAV", badGuid, false},
      {"64-bit float", "WAV", Wave({.tag = 3, .bits = 64}), false},
      {"12-bit PCM", "WAV", Wave({.bits = 12}), false},
      {"no channels", "WAV", Wave({.channels = 0}), false},
      {"no format chunk", "WAV", noFormat, false},
      {"the data before the format", "WAV", dataFirst, false},
      {"RIFF not at the start", "WAV", riffLater, false},
      {"a voice file with RIFF WAV in its text", "WAV", Voc(), false},
      {"the header alone", "WAV", Bytes(wave.begin(), wave.begin() + 36), false},
      {"MIDI", "MID", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 0x60}, true},
      {"MIDI after other bytes", "MID", Bytes{'x', 'M', 'T', 'h', 'd', 0, 0, 0, 6}, false},
      {"a wave sound asked for as a movie", "AVI", wave, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PlayableSound(c.kind, c.bytes), c.playable);
    if (std::string_view(c.kind) != "WAV") continue;
    player_.FileName = (fs::path(testing::TempDir()) / "case.wav").string();
    std::ofstream(player_.FileName, std::ios::binary)
        .write(reinterpret_cast<const char*>(c.bytes.data()), static_cast<std::streamsize>(c.bytes.size()));
    if (c.playable) {
      EXPECT_NO_THROW(player_.Open());
      EXPECT_TRUE(player_.IsOpen());
    } else {
      EXPECT_THROW(player_.Open(), EMCIDeviceError);
      EXPECT_FALSE(player_.IsOpen());
    }
  }
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
