// `tamblo-content probe`: one JSON line per picture, the library's word on a
// file it cannot read, and decoded copies for comparison.

#include <gtest/gtest.h>

#include <SDL_image.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "media/image_library.h"
#include "tests/media/picture_fixtures.h"
#include "tests/tools/run_content_tool.h"
#include "tools/tamblo-content/commands.h"

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

using test_support::RunTool;
using test_support::TRun;

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    media::TPictureLibrary::SetSearchDirectory(TAMBLO_RUNTIME_DIR);
    dir_ = test_support::ScratchDir("probe");
  }
  std::string Write(const std::string& name, const fixtures::Bytes& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  fs::path dir_;
};

TEST_F(ProbeTest, PrintsOneLinePerPictureOfEveryFormat) {
  const auto quad = fixtures::Quadrants(12, 10);
  struct Case {
    const char* file;
    fixtures::Bytes bytes;
    const char* format;
    int pages;
  };
  const Case cases[] = {
      {"a.png", fixtures::Png(quad), "PNG", 1},   {"a.jpg", fixtures::Jpeg(quad), "JPEG", 1},
      {"a.gif", fixtures::Gif(quad), "GIF", 1},   {"a.bmp", fixtures::Bmp(quad), "BMP", 1},
      {"a.pcx", fixtures::Pcx(quad), "PCX", 1},   {"a.tga", fixtures::Tga(quad), "TGA", 1},
      {"a.tif", fixtures::Tiff({quad, quad, quad}), "TIFF", 3},
  };
  std::vector<std::string> args{"probe"};
  for (const Case& c : cases) args.push_back(Write(c.file, c.bytes));
  const TRun run = RunTool(args);
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(run.err, "");
  std::istringstream lines(run.out);
  std::string line;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(std::getline(lines, line));
    // Fields in the order a reader expects them, the file first.
    EXPECT_EQ(line.rfind("{\"file\":", 0), 0u) << line;
    const auto j = nlohmann::json::parse(line);
    EXPECT_EQ(j["file"], (dir_ / c.file).string());
    EXPECT_EQ(j["format"], c.format);
    EXPECT_EQ(j["width"], 12);
    EXPECT_EQ(j["height"], 10);
    EXPECT_EQ(j["pages"], c.pages);
    EXPECT_TRUE(j["bits"].is_number());
    EXPECT_TRUE(j["class"].is_string());
  }
}

TEST_F(ProbeTest, AFileItCannotReadIsNamedAndTheRestGoOn) {
  auto broken = fixtures::Png(fixtures::Quadrants(40, 40));
  broken.resize(broken.size() / 2);
  const TRun run = RunTool({"probe", Write("bad.txt", {'h', 'e', 'l', 'l', 'o'}),
                           Write("good.png", fixtures::Png(fixtures::Quadrants(4, 4))),
                           (dir_ / "absent.png").string(), Write("empty.png", {}),
                           Write("sound.wav", fixtures::Wav(10))});
  EXPECT_EQ(run.code, kExitFailed);
  EXPECT_NE(run.out.find("good.png"), std::string::npos);
  std::istringstream lines(run.err);
  std::string line;
  for (const char* name : {"bad.txt", "absent.png", "empty.png", "sound.wav"}) {
    ASSERT_TRUE(std::getline(lines, line)) << name;
    EXPECT_NE(line.find(name), std::string::npos) << line;
  }
  EXPECT_FALSE(std::getline(lines, line)) << line;
}

TEST_F(ProbeTest, DecodesEachPictureToAPngBesideTheOthers) {
  const auto quad = fixtures::Quadrants(6, 4);
  const fs::path out = dir_ / "decoded";
  auto truncated = fixtures::Png(fixtures::Quadrants(64, 64));
  truncated.resize(truncated.size() - 40);
  const TRun run = RunTool({"probe", Write("q.gif", fixtures::Gif(quad)),
                           Write("t.png", truncated), "--decode", out.string()});
  EXPECT_EQ(run.code, kExitFailed);
  EXPECT_NE(run.err.find("t.png"), std::string::npos);
  SDL_Surface* s = IMG_Load((out / "q.gif.png").c_str());
  ASSERT_NE(s, nullptr) << IMG_GetError();
  SDL_Surface* rgb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB24, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      const auto* p = static_cast<const std::uint8_t*>(rgb->pixels) + y * rgb->pitch + 3 * x;
      const fixtures::Rgb want = quad.colour(x, y);
      EXPECT_EQ((fixtures::Rgb{p[0], p[1], p[2]}), want) << x << "," << y;
    }
  SDL_FreeSurface(rgb);
  SDL_FreeSurface(s);
}

TEST(ContentToolUsageTest, WrongCommandLinesExit64) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"probe"}, {"probe", "--decode"}, {"probe", "--bogus", "x"},
        {"frobnicate"}}) {
    EXPECT_EQ(RunTool(args).code, kExitUsage) << (args.empty() ? "" : args.back());
  }
  EXPECT_EQ(RunTool({"--help"}).code, kExitOk);
}

}  // namespace
}  // namespace tamblo::content_tool
