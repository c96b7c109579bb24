// The media control: sound blobs go to temporary files in the process's
// private directory and into the attached player; what cannot be played or
// written fails with the texts the game shows.
#include "media/media_view.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "media/temp_directory.h"
#include "tests/dataset/memory_data_set.h"
#include "tests/media/media_fixture.h"
#include "testing/sound_samples.h"
#include "toolkit/cursors.h"

namespace media::testing {
namespace {

namespace fs = std::filesystem;

TBytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// The bytes of a literal, zero bytes included.
template <std::size_t N>
TBytes Raw(const char (&s)[N]) {
  return TBytes(s, s + N - 1);
}

// A RIFF header whose form type names the kind, and padding.
TBytes Riff(const char* type) {
  std::string text("RIFF\x24\0\0\0", 8);
  text += type;
  text.resize(64, '\0');
  return Text(text);
}

class MediaViewTest : public MediaTest {
 protected:
  void SetUp() override {
    MediaTest::SetUp();
    view = &form->Add<TDBMediaView>("DBMediaView1");
    player = &form->Add<TDBMediaPlayer>("DBMediaPlayer1");
    player->SetVisible(false);
    view->SetVisible(false);
    view->TempWAV = "twcns1.wav";
    view->SetMediaPlayer(player);
  }
  void Bind(TBoundTable& t) {
    view->SetDataField("SoundFile");
    view->SetDataSource(&t.source);
  }
  std::string TempPath() { return view->PathForTempFile() + view->TempWAV; }

  TDBMediaView* view = nullptr;
  TDBMediaPlayer* player = nullptr;
};

TEST_F(MediaViewTest, ASoundIsWrittenToItsTemporaryFileAndOpened) {
  const TBytes wav = MakeWav(300);
  MakeTable(dir, "SndFx", "SoundFile", {{"clack", wav}});
  TBoundTable t(dir, "SndFx");
  Bind(t);
  EXPECT_EQ(view->ContentKind(), "WAV");
  EXPECT_EQ(ReadFile(TempPath()), wav);
  EXPECT_EQ(player->FileName, TempPath());
  EXPECT_TRUE(player->IsOpen());
  EXPECT_EQ(player->Length(), 300);
  EXPECT_TRUE(player->Visible()) << "loading a sound shows the player";
  EXPECT_TRUE(view->PlaybackTimer().Enabled());
  EXPECT_EQ(view->PlaybackTimer().Interval(), 500u);
  EXPECT_EQ(player->Mode(), TMPModes::mpStopped) << "no auto-play";
  struct stat st {};
  ASSERT_EQ(stat(TempPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  player->Play();
  EXPECT_EQ(player->Mode(), TMPModes::mpPlaying);
}

TEST_F(MediaViewTest, TwoRecordMovesReuseOneTemporaryName) {
  const TBytes first = MakeWav(200), second = MakeWav(400);
  MakeTable(dir, "SndFx", "SoundFile", {{"a", first}, {"b", second}});
  TBoundTable t(dir, "SndFx");
  Bind(t);
  // A second name for the first file shows whether it was deleted or overwritten.
  const std::string keep = view->PathForTempFile() + "first.wav";
  ASSERT_EQ(link(TempPath().c_str(), keep.c_str()), 0);

  t.table.Next();
  EXPECT_EQ(ReadFile(keep), first) << "the first file was deleted, not written over";
  EXPECT_EQ(ReadFile(TempPath()), second);
  EXPECT_EQ(player->FileName, TempPath());
  EXPECT_EQ(player->Length(), 400);
}

TEST_F(MediaViewTest, AfterANullBlobPlayFailsWithNoDeviceOpen) {
  MakeTable(dir, "SndFx", "SoundFile", {{"a", MakeWav(100)}, {"b", std::nullopt}});
  TBoundTable t(dir, "SndFx");
  Bind(t);
  ASSERT_TRUE(player->IsOpen());
  t.table.Next();
  EXPECT_FALSE(player->IsOpen());
  EXPECT_FALSE(view->PlaybackTimer().Enabled());
  EXPECT_EQ(MessageOf<EMCIDeviceError>([&] { player->Play(); }), "No MCI device open");
}

TEST_F(MediaViewTest, AKindThisComputerCannotPlayIsRefusedWithItsMessage) {
  struct Case {
    const char* key;
    TBytes blob;
    const char* message;
  };
  const Case cases[] = {
      {"WAV", MakeWav(100), "Wave sound file can't be played on this computer!"},
      {"MID", Raw("MThd\0\0\0\6\0\0\0\1\0\x60"), "Midi sound file can't be played on this computer!"},
      {"RMI", Riff("RMIDdata"), "RMI sound file can't be played on this computer!"},
      {"AVI", Riff("AVI LIST"), "AVI Movie file can't be played on this computer!"},
      {"MOV", Raw("\0\0\0\x08wide\0\0\0\x10mdat"), "MOV Movie file can't be played on this computer!"},
  };
  std::vector<TRow> rows;
  for (const Case& c : cases) rows.push_back({c.key, c.blob});
  MakeTable(dir, "SndFx", "SoundFile", rows);
  TBoundTable t(dir, "SndFx");
  std::vector<std::string> asked;
  view->ExtensionCheck = [&](const std::string& key) {
    asked.push_back(key);
    return std::string("none");
  };
  toolkit::SetScreenCursor(toolkit::crHandPoint);
  view->SetDataField("SoundFile");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    view->SetDataSource(nullptr);
    ASSERT_TRUE(t.table.FindKey({std::string(c.key)}));
    EXPECT_EQ(MessageOf<ErrorInvalid>([&] { view->SetDataSource(&t.source); }), c.message);
    EXPECT_EQ(asked.back(), c.key);
    EXPECT_EQ(toolkit::ScreenCursor(), toolkit::crHandPoint);
    EXPECT_EQ(toolkit::ShownCursor(), toolkit::crHandPoint) << "the pointer keeps its shape";
    EXPECT_EQ(MessageOf<EMCIDeviceError>([&] { player->Play(); }), "No MCI device open");
  }
  toolkit::SetScreenCursor(toolkit::crDefault);
}

// Recognised as wave sound by the letters in their first bytes, yet not wave
// sound the mixer should decode: refused as a kind the computer cannot play,
// with nothing written and nothing open.
TEST_F(MediaViewTest, WhatOnlyLooksLikeAWaveSoundCannotBePlayed) {
  const TBytes voc = sound_samples::Voc(), muLaw = sound_samples::Wave({.tag = 7, .bits = 8});
  MakeTable(dir, "SndFx", "SoundFile", {{"a", voc}, {"b", muLaw}});
  TBoundTable t(dir, "SndFx");
  view->SetDataField("SoundFile");
  for (int record = 0; record < 2; ++record) {
    SCOPED_TRACE(record);
    view->SetDataSource(nullptr);
    t.table.First();
    if (record) t.table.Next();
    EXPECT_EQ(MessageOf<ErrorInvalid>([&] { view->SetDataSource(&t.source); }),
              "Wave sound file can't be played on this computer!");
    EXPECT_EQ(view->ContentKind(), "WAV");
    EXPECT_FALSE(player->IsOpen());
    EXPECT_FALSE(fs::exists(TempPath()));
  }
}

TEST_F(MediaViewTest, AnEmptyBlobCannotAllocateMemory) {
  dataset::testing::TMemoryDataSet data({{"Name", dataset::ftString, 10}, {"SoundFile", dataset::ftBlob, 0}},
                                        {{std::string("a"), TBytes{}}});
  data.Open();
  dataset::TDataSource source(&data);
  view->SetDataField("SoundFile");
  EXPECT_EQ(MessageOf<ErrorInvalid>([&] { view->SetDataSource(&source); }), "Can't allocate memory");
  view->SetDataSource(nullptr);
}

TEST_F(MediaViewTest, PicturesShowAsInThePictureControlAndStopThePlayback) {
  MakeTable(dir, "SndFx", "SoundFile", {{"a", MakeWav(100)}, {"b", SolidPng(9, 4, toolkit::clRed)}});
  TBoundTable t(dir, "SndFx");
  view->AutoHideMediaPlayer = true;
  Bind(t);
  ASSERT_TRUE(view->PlaybackTimer().Enabled());
  ASSERT_TRUE(player->Visible());
  t.table.Next();
  EXPECT_EQ(view->ContentKind(), "PNG");
  ASSERT_TRUE(view->Picture().HasBitmap());
  EXPECT_EQ(view->Picture().Width(), 9);
  EXPECT_FALSE(view->PlaybackTimer().Enabled());
  EXPECT_FALSE(player->Visible()) << "AutoHideMediaPlayer";
  EXPECT_FALSE(fs::exists(TempPath())) << "every load deletes the temporary files";
}

TEST_F(MediaViewTest, ThePlaybackTimerReportsProgressAndReplays) {
  MakeTable(dir, "SndFx", "SoundFile", {{"a", MakeWav(100)}});
  TBoundTable t(dir, "SndFx");
  std::vector<int> percents;
  view->OnProgress = [&](std::uint16_t percent, const std::string&, bool&) { percents.push_back(percent); };
  Bind(t);
  percents.clear();
  view->PlaybackTimer().OnTimer();
  EXPECT_TRUE(percents.empty()) << "nothing while stopped without auto-replay";

  view->AutoRePlayMultiMedia = true;
  player->Play();
  player->Stop();  // stands where it stopped, before the end
  view->PlaybackTimer().OnTimer();
  ASSERT_EQ(percents.size(), 1u);
  EXPECT_LT(percents[0], 100);
  EXPECT_EQ(player->Mode(), TMPModes::mpStopped);

  // At the end, auto-replay starts it again.
  player->Play();
  for (int waited = 0; player->Mode() == TMPModes::mpPlaying && waited < 3000; waited += 10) SDL_Delay(10);
  ASSERT_EQ(player->Mode(), TMPModes::mpStopped);
  view->PlaybackTimer().OnTimer();
  EXPECT_EQ(percents.back(), 100);
  EXPECT_EQ(player->Mode(), TMPModes::mpPlaying);

  // Nothing a tick runs into escapes it.
  view->OnProgress = [&](std::uint16_t, const std::string&, bool&) { throw std::runtime_error("x"); };
  EXPECT_NO_THROW(view->PlaybackTimer().OnTimer());

  // A closed player makes the tick do nothing.
  player->Close();
  percents.clear();
  view->OnProgress = [&](std::uint16_t percent, const std::string&, bool&) { percents.push_back(percent); };
  view->PlaybackTimer().OnTimer();
  EXPECT_TRUE(percents.empty());
}

TEST_F(MediaViewTest, PathForTempFileKeepsItsTrailingSeparatorAndRefusesWhatCannotBeEntered) {
  const std::string privateDir = view->PathForTempFile();
  ASSERT_EQ(privateDir.back(), '/');
  WriteFile(dir + "/plain", "x");
  struct Case {
    std::string given, stored;
  };
  const Case cases[] = {
      {dir, dir + "/"},
      {dir + "/", dir + "/"},
      {dir + "/missing", privateDir},
      {dir + "/plain", privateDir},  // a file, not a directory
      {"", privateDir},              // empty: the previous value stays
      {dir, dir + "/"},
      {"", dir + "/"},
      {"C:", privateDir},  // no such drive here
  };
  for (const Case& c : cases) {
    view->SetPathForTempFile(c.given);
    EXPECT_EQ(view->PathForTempFile(), c.stored) << c.given;
  }
}

TEST_F(MediaViewTest, ThePrivateDirectoryIsOnlyTheOwnersAndGoesWithTheLastControl) {
  MakeTable(dir, "SndFx", "SoundFile", {{"a", MakeWav(100)}});
  const std::string privateDir = view->PathForTempFile();
  struct stat st {};
  ASSERT_EQ(stat(privateDir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  {
    TBoundTable t(dir, "SndFx");
    Bind(t);
    EXPECT_TRUE(fs::exists(TempPath()));
  }
  player->Close();
  form.reset();  // the controls go
  EXPECT_FALSE(fs::exists(privateDir));
}

TEST(PrivateTempDirectory, IsRemovedAtExitAndMadeAgainOnUse) {
  RemovePrivateTempDirectory();  // the child makes its own
  std::fflush(nullptr);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    const std::string path = PrivateTempDirectory();
    WriteFile(path + "left.wav", "x");
    if (write(fds[1], path.data(), path.size()) != static_cast<ssize_t>(path.size())) _exit(2);
    close(fds[1]);
    std::exit(0);
  }
  close(fds[1]);
  char buffer[512] = {};
  const ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_GT(n, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(fs::exists(std::string(buffer, static_cast<std::size_t>(n))));

  const std::string first = PrivateTempDirectory();
  RemovePrivateTempDirectory();
  EXPECT_FALSE(fs::exists(first));
  const std::string second = PrivateTempDirectory();
  EXPECT_TRUE(fs::is_directory(second));
  RemovePrivateTempDirectory();
}

TEST_F(MediaViewTest, ALinkPlantedAtATemporaryNameIsNeverWrittenThrough) {
  const TBytes wav = MakeWav(100);
  MakeTable(dir, "SndFx", "SoundFile", {{"a", wav}});
  const std::string shared = dir + "/shared";
  fs::create_directory(shared);
  view->SetPathForTempFile(shared);
  const std::string victim = dir + "/victim";
  WriteFile(victim, "keep");
  ASSERT_EQ(symlink(victim.c_str(), TempPath().c_str()), 0);

  // Planted before the load: the load's clean-up removes the link itself.
  {
    TBoundTable t(dir, "SndFx");
    Bind(t);
    EXPECT_EQ(Text("keep"), ReadFile(victim));
    EXPECT_FALSE(fs::is_symlink(TempPath()));
    EXPECT_EQ(ReadFile(TempPath()), wav);
  }

  // Planted between the clean-up and the write: the write refuses it.
  view->SetDataSource(nullptr);
  view->OnProgress = [&](std::uint16_t, const std::string&, bool&) {
    if (!fs::is_symlink(TempPath())) {
      EXPECT_EQ(symlink(victim.c_str(), TempPath().c_str()), 0);
    }
  };
  TBoundTable t(dir, "SndFx");
  const std::string message = MessageOf<EFCreateError>([&] { view->SetDataSource(&t.source); });
  EXPECT_EQ(message, "Cannot create file " + TempPath());
  EXPECT_EQ(Text("keep"), ReadFile(victim));
  EXPECT_FALSE(player->IsOpen());
  EXPECT_EQ(toolkit::ScreenCursor(), toolkit::crDefault);
}

}  // namespace
}  // namespace media::testing
