#pragma once
// Shared by the control tests: a form on SDL's dummy driver, tables whose
// blobs hold pictures and sounds made here, and the image libraries from the
// build folder.
#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataset/data_source.h"
#include "engine/build/table_builder.h"
#include "engine/components/ledger_table.h"
#include "media/image_library.h"
#include "toolkit/application.h"
#include "toolkit/form.h"

namespace media::testing {

using TBytes = std::vector<std::uint8_t>;
using toolkit::TColor;

inline void Put16(TBytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(TBytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// A true-colour PNG whose pixel (x, y) has the colour `color` gives.
inline TBytes MakePng(int w, int h, const std::function<TColor(int x, int y)>& color) {
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, w, h, 24, SDL_PIXELFORMAT_RGB24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TColor c = color(x, y);
      auto* p = static_cast<std::uint8_t*>(s->pixels) + y * s->pitch + x * 3;
      p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }
  TBytes out(static_cast<std::size_t>(w) * h * 4 + 4096);
  SDL_RWops* rw = SDL_RWFromMem(out.data(), static_cast<int>(out.size()));
  const bool saved = IMG_SavePNG_RW(s, rw, 0) == 0;
  out.resize(saved ? static_cast<std::size_t>(SDL_RWtell(rw)) : 0);
  SDL_RWclose(rw);
  SDL_FreeSurface(s);
  EXPECT_TRUE(saved) << IMG_GetError();
  return out;
}

inline TBytes SolidPng(int w, int h, TColor c) {
  return MakePng(w, h, [c](int, int) { return c; });
}

// A black-and-white BMP of 1 or 24 bits per pixel, written out by hand.
inline TBytes MakeBmp(int w, int h, int bits, const std::function<bool(int x, int y)>& black) {
  const int colours = bits == 1 ? 2 : 0;
  const int rowSize = (w * bits + 31) / 32 * 4;
  const std::size_t offset = 14 + 40 + 4 * colours;
  TBytes b(offset + static_cast<std::size_t>(rowSize) * h, 0);
  b[0] = 'B', b[1] = 'M';
  Put32(b, 2, static_cast<std::uint32_t>(b.size()));
  Put32(b, 10, static_cast<std::uint32_t>(offset));
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<std::uint32_t>(w));
  Put32(b, 22, static_cast<std::uint32_t>(h));
  Put16(b, 26, 1);
  Put16(b, 28, static_cast<std::uint32_t>(bits));
  Put32(b, 34, static_cast<std::uint32_t>(rowSize * h));
  Put32(b, 46, static_cast<std::uint32_t>(colours));
  if (colours) Put32(b, 54 + 4, 0x00FFFFFF);  // entry 0 black, entry 1 white
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = b.data() + offset + static_cast<std::size_t>(h - 1 - y) * rowSize;
    for (int x = 0; x < w; ++x) {
      const bool dark = black(x, y);
      if (bits == 1) {
        if (!dark) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      } else {
        const std::uint8_t v = dark ? 0 : 255;
        row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = v;
      }
    }
  }
  return b;
}

// A mono 16-bit PCM wave of the given length.
inline TBytes MakeWav(int milliseconds, int rate = 22050) {
  const std::uint32_t samples = static_cast<std::uint32_t>(rate) * milliseconds / 1000;
  TBytes b(44 + samples * 2, 0);
  const char* tags[] = {"RIFF", "WAVE", "fmt ", "data"};
  const std::size_t at[] = {0, 8, 12, 36};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) b[at[i] + j] = static_cast<std::uint8_t>(tags[i][j]);
  Put32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
  Put32(b, 16, 16);
  Put16(b, 20, 1);  // PCM
  Put16(b, 22, 1);  // mono
  Put32(b, 24, static_cast<std::uint32_t>(rate));
  Put32(b, 28, static_cast<std::uint32_t>(rate) * 2);
  Put16(b, 32, 2);
  Put16(b, 34, 16);
  Put32(b, 40, samples * 2);
  for (std::uint32_t i = 0; i < samples; ++i) Put16(b, 44 + 2 * i, (i / 50) % 2 ? 0x2000 : 0xE000);
  return b;
}

inline TBytes Text(const std::string& s) { return {s.begin(), s.end()}; }

struct TRow {
  std::string key;
  std::optional<TBytes> blob;  // none: null
};

// Name (string, primary key) and one blob field; records in key order.
inline void MakeTable(const std::string& dir, const std::string& name, const std::string& blobField,
                      const std::vector<TRow>& rows,
                      ledger::TBuildTarget target = ledger::TBuildTarget::NewFiles) {
  using namespace ledger;
  TTableDefinition def;
  def.order = TRecordOrder::Input;  // these tests name records by the order they were added
  def.data.fields = {FieldDef("Name", ftString, 20), FieldDef(blobField, ftBlob, 0, fstBinary)};
  def.primary = TIndexDefinition{.fields = {"Name"}};
  TTableBuilder builder(dir, name, def, target, PosixFileSystem());
  for (const TRow& row : rows) {
    TFieldValue blob;
    if (row.blob) blob = *row.blob;
    std::vector<TFieldValue> values = {row.key, blob};
    builder.Append(values);
  }
  builder.Finish();
}

// An open table and a data source on it; the source goes first.
struct TBoundTable {
  TBoundTable(const std::string& dir, const std::string& name) {
    table.SetDatabaseName(dir);
    table.SetTableName(name);
    table.Open();
    source.SetDataSet(&table);
  }
  ledger::TLedgerTable table;
  dataset::TDataSource source;
};

// The message of what `action` throws as E; empty when it throws nothing.
template <class E, class F>
std::string MessageOf(F&& action) {
  try {
    action();
  } catch (const E& e) {
    return e.what();
  }
  return {};
}

class MediaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TPictureLibrary::SetSearchDirectory(TAMBLO_RUNTIME_DIR);
    app.SetReporter([this](const std::string&, const std::string& text) { reports.push_back(text); });
    char pattern[] = "/tmp/tamblo-media-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    dir = pattern;
    form = std::make_unique<toolkit::TForm>(app, "fTest");
    form->SetClientSize(400, 300);
  }
  void TearDown() override {
    form.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  toolkit::Application app;
  std::vector<std::string> reports;
  std::string dir;
  std::unique_ptr<toolkit::TForm> form;
};

}  // namespace media::testing
