// Replays the media fuzzer's corpus (its seeds and every input that once
// broke the recognition or the DIB conversion) through the same harness.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "testing/media_harness.h"

namespace media {
namespace {

namespace fs = std::filesystem;

fs::path CorpusDir() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" / "corpus" / "fuzz_media";
}

std::vector<std::uint8_t> Load(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(MediaFuzzCorpus, EveryStoredInputKeepsTheContract) {
  ASSERT_TRUE(fs::is_directory(CorpusDir())) << CorpusDir();
  int inputs = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(CorpusDir())) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<std::uint8_t> bytes = Load(entry.path());
    EXPECT_EQ(fuzzing::RunMedia(bytes.data(), bytes.size(), TAMBLO_RUNTIME_DIR).broken, 0);
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

// The seeds reach what they were made for: each blob its kind, the sound
// that may be played and the one that may not, each block a bitmap.
TEST(MediaFuzzCorpus, SeedsAreRecognisedAsTheirKinds) {
  const std::map<std::string, std::string> kinds = {
      {"seed-wave", "WAV"},   {"seed-wave-mulaw", "WAV"}, {"seed-voc", "WAV"},    {"seed-midi", "MID"},
      {"seed-rmi", "RMI"},    {"seed-avi", "AVI"},        {"seed-mov", "MOV"},    {"seed-banner", "SCM"},
      {"seed-rtf", "RTF"},    {"seed-dxf", "DXF"},        {"seed-placeable", "WMF"}, {"seed-enhanced", "WMF"},
      {"seed-png", "PNG"},    {"seed-png-graphic-header", "PNG"}, {"seed-gif", "GIF"}, {"seed-jpeg", "JPG"},
  };
  for (const auto& [name, kind] : kinds) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> bytes = Load(CorpusDir() / name);
    ASSERT_FALSE(bytes.empty());
    const fuzzing::TMediaRun run = fuzzing::RunMedia(bytes.data(), bytes.size(), TAMBLO_RUNTIME_DIR);
    EXPECT_EQ(run.kind, kind);
    EXPECT_EQ(run.playable, name == "seed-wave" || name == "seed-midi");
  }
  for (const char* name : {"seed-dib1", "seed-dib4", "seed-dib8", "seed-dib16", "seed-dib24", "seed-dib32",
                           "seed-dib-rle4", "seed-dib-rle8"}) {
    SCOPED_TRACE(name);
    const std::vector<std::uint8_t> bytes = Load(CorpusDir() / name);
    EXPECT_TRUE(fuzzing::RunMedia(bytes.data(), bytes.size(), TAMBLO_RUNTIME_DIR).bitmap);
  }
}

}  // namespace
}  // namespace media
