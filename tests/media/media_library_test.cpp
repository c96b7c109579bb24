// The program's side of the image libraries: loading them, recognising blobs,
// decoding every raster format, and the packed-DIB conversions.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <span>
#include <string>

#include "media/content_recognition.h"
#include "media/image_library.h"
#include "media/library_resolver.h"
#include "media/packed_dib.h"
#include "tests/media/picture_fixtures.h"

namespace media {
namespace {

using fixtures::Bytes;
using fixtures::Rgb;

int StubErrorText(std::uint16_t, char* buffer, std::int32_t size) {
  if (size > 0) buffer[0] = 0;
  return 0;
}

// What a browser links in: both libraries, and a stand-in for the stub that
// has only its error text.
TLinkedLibraries& LinkedTables() {
  static const TLinkedEntry stub[] = {{"errortext", reinterpret_cast<void*>(&StubErrorText)}};
  static TLinkedLibraries linked({
      {TPictureLibrary::FileName(TPictureLibraryId::Crde), picturelib::CrdeEntries()},
      {TPictureLibrary::FileName(TPictureLibraryId::Isp), picturelib::IspEntries()},
      {std::filesystem::path(STUB_LIBRARY).filename().string(), stub},
  });
  return linked;
}

// Every case runs twice: with the libraries loaded by name, and with their
// entries found in the tables linked into the program.
class PictureLibraryTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    TPictureLibrary::SetSearchDirectory(TAMBLO_RUNTIME_DIR);
    if (GetParam()) TPictureLibrary::SetResolver(&LinkedTables());
  }
  void TearDown() override {
    TPictureLibrary::SetFileNameOverride(TPictureLibraryId::Crde, "");
    TPictureLibrary::SetFileNameOverride(TPictureLibraryId::Isp, "");
    TPictureLibrary::SetSearchDirectory("");
    TPictureLibrary::SetResolver(nullptr);
  }
};

INSTANTIATE_TEST_SUITE_P(Resolvers, PictureLibraryTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "LinkedTables" : "DynamicLoader";
                         });

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Riff(const std::string& form) {
  Bytes b = Text("RIFF");
  fixtures::Put32(b, 4000);  // zero bytes between the signature and the form type
  fixtures::Append(b, form);
  b.resize(64, 0);
  return b;
}

Bytes Emf() {
  Bytes b(120, 0);
  b[0] = 1;
  const std::uint32_t frame[4] = {0, 0, 2540 * 2, 2540};  // 2 x 1 inches
  std::memcpy(b.data() + 24, frame, sizeof frame);
  std::memcpy(b.data() + 40, " EMF", 4);
  return b;
}

Bytes PlaceableWmf() {
  Bytes b;
  fixtures::Put32(b, 0x9AC6CDD7);
  for (unsigned v : {0u, 0u, 0u, 1440u, 720u, 1440u, 0u, 0u}) fixtures::Put16(b, v);
  std::uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= static_cast<std::uint16_t>(b[2 * i] | b[2 * i + 1] << 8);
  fixtures::Put16(b, sum);
  b.resize(64, 0);
  return b;
}

Bytes WithGraphicHeader(Bytes picture) {
  Bytes b;
  fixtures::Put16(b, 1);
  fixtures::Put16(b, 256);
  fixtures::Put32(b, static_cast<std::uint32_t>(picture.size()));
  b.insert(b.end(), picture.begin(), picture.end());
  return b;
}

TEST_P(PictureLibraryTest, RecognisesEveryKindOfBlob) {
  const auto quad = fixtures::Quadrants(8, 6);
  struct Case {
    const char* what;
    Bytes blob;
    const char* kind;
    const char* format;
    const char* klass;
  };
  const Case cases[] = {
      {"png", fixtures::Png(quad), "PNG", "PNG", nullptr},
      {"jpeg", fixtures::Jpeg(quad), "JPG", "JPEG", nullptr},
      {"jpeg behind the graphic header", WithGraphicHeader(fixtures::Jpeg(quad)), "JPG", "JPEG",
       nullptr},
      {"gif", fixtures::Gif(quad), "GIF", "GIF", nullptr},
      {"bmp", fixtures::Bmp(quad), "BMP", "BMP", nullptr},
      {"pcx", fixtures::Pcx(quad), "PCX", "PCX", nullptr},
      {"tga", fixtures::Tga(quad), "TGA", "TGA", nullptr},
      {"two-page tiff", fixtures::Tiff({quad, fixtures::Quadrants(4, 4)}), "TIF", "TIFF", "NONE"},
      {"wave with zero bytes in its size", fixtures::Wav(10), "WAV", "WAV", "RIFF"},
      {"riff naming both wave and movie", Riff("WAVEAVI "), "AVI", "AVI", "RIFF"},
      {"riff midi", Riff("RMIDdata"), "RMI", "RMI", "RIFF"},
      {"midi", Text("MThd\0\0\0\6\0\1\0\1\0\140MTrk"), "MID", "MID", "MIDI"},
      {"quicktime", Text(std::string("\0\0\0\x10mdat", 8) + "rest of it"), "MOV", "MOV", "QTM"},
      {"scrolling banner", Text(std::string("\0\0", 2) + "mordazub text"), "SCM", "SCM", "MSG"},
      {"line banner", Text("zubmorda text"), "CMS", "CMS", "MSG"},
      {"drawing", Text("  0\nSECTION\n  2\nHEADER\n"), "DXF", "DXF", "DXF"},
      {"rich text", Text("{\\rtf1\\ansi hello}"), "RTF", "RTF", "RTF"},
      {"enhanced metafile", Emf(), "WMF", "WMF", "WMF"},
      {"placeable metafile", PlaceableWmf(), "WMF", "WMF", "WMF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TContentInfo info;
    const TRecognition r = RecognizeBytes(c.blob, 1, info);
    EXPECT_FALSE(r.Failed) << LastLibraryError().Text;
    EXPECT_EQ(r.Kind, c.kind);
    EXPECT_EQ(info.FormatName, c.format);
    if (c.klass) {
      EXPECT_EQ(info.FormatClass, c.klass);
    }
    EXPECT_EQ(info.ByteSize, static_cast<std::int32_t>(c.blob.size()));
  }
}

TEST_P(PictureLibraryTest, RecognitionReadsSizesAndPages) {
  TContentInfo info;
  RecognizeBytes(fixtures::Tiff({fixtures::Quadrants(8, 6), fixtures::Quadrants(4, 2)}), 2, info);
  EXPECT_EQ(info.TiffPages, 2);
  EXPECT_EQ(info.Width, 4);
  EXPECT_EQ(info.Height, 2);
  RecognizeBytes(fixtures::Png(fixtures::Quadrants(8, 6)), 1, info);
  EXPECT_EQ(info.Width, 8);
  EXPECT_EQ(info.Height, 6);
  RecognizeBytes(Emf(), 1, info);
  EXPECT_EQ(info.Width, 192);  // two inches at the screen's 96 per inch
  EXPECT_EQ(info.Height, 96);
  EXPECT_EQ(info.Bits, -1);
  RecognizeBytes(fixtures::Wav(10), 1, info);
  EXPECT_EQ(info.Width, -1);
}

TEST_P(PictureLibraryTest, GarbageFailsWithTheLibrarysText) {
  TContentInfo info;
  const TRecognition r = RecognizeBytes(Text("this is no picture at all, only words"), 1, info);
  EXPECT_TRUE(r.Failed);
  EXPECT_EQ(r.Kind, "-1");
  EXPECT_FALSE(LastLibraryError().Text.empty());
  EXPECT_NE(LastLibraryError().Code, 0);
}

// Every raster reader, through the block and the bitmap, gives the source's pixels.
TEST_P(PictureLibraryTest, EveryRasterFormatDecodesToItsPixels) {
  const auto quad = fixtures::Quadrants(10, 8);
  struct Case {
    const char* kind;
    Bytes bytes;
    int tolerance;
  };
  const Case cases[] = {
      {"PNG", fixtures::Png(quad), 0},  {"JPG", fixtures::Jpeg(quad), 40},
      {"GIF", fixtures::Gif(quad), 0},  {"BMP", fixtures::Bmp(quad), 0},
      {"PCX", fixtures::Pcx(quad), 0},  {"TGA", fixtures::Tga(quad), 0},
      {"TIF", fixtures::Tiff({quad}), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    TReadOptions options;
    options.Depth = 24;
    TDibHandle dib = ReadPicture(c.kind, c.bytes, options);
    ASSERT_TRUE(dib) << LastLibraryError().Text;
    EXPECT_EQ(CurrentOperationText().rfind("Reading ", 0), 0u);
    toolkit::TBitmap bitmap;
    ASSERT_TRUE(DibToBitmap(dib.get(), 24, false, nullptr, nullptr, bitmap));
    ASSERT_EQ(bitmap.Width(), 10);
    ASSERT_EQ(bitmap.Height(), 8);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 10; ++x) {
        // JPEG blurs the edges between quadrants; compare the quadrants' cores.
        if (c.tolerance && (x == 4 || x == 5 || y == 3 || y == 4)) continue;
        const Rgb want = quad.colour(x, y);
        const toolkit::TColor got = bitmap.Canvas().Pixel(x, y);
        EXPECT_NEAR(got.r, want.r, c.tolerance) << x << "," << y;
        EXPECT_NEAR(got.g, want.g, c.tolerance) << x << "," << y;
        EXPECT_NEAR(got.b, want.b, c.tolerance) << x << "," << y;
      }
  }
}

TEST_P(PictureLibraryTest, TruncatedPictureFailsWithALibraryError) {
  Bytes png = fixtures::Png(fixtures::Quadrants(64, 64));
  png.resize(png.size() / 2);
  TDibHandle dib = ReadPicture("PNG", png, {});
  EXPECT_FALSE(dib);
  EXPECT_FALSE(LastLibraryError().Text.empty());
}

TEST_P(PictureLibraryTest, ALibraryMissingFromEveryPathCannotBeLoaded) {
  TPictureLibrary::SetSearchDirectory(testing::TempDir());
  TPictureLibrary::SetFileNameOverride(TPictureLibraryId::Crde, "libcrde2000-absent.so");
  try {
    InitAnnotation(this, "pic_anno.ini");
    FAIL() << "loaded a library that is not there";
  } catch (const ErrorInvalid& e) {
    EXPECT_STREQ(e.what(),
                 "Can't load libcrde2000-absent.so. Make sure its located in the application's "
                 "searchpath.");
  }
}

TEST_P(PictureLibraryTest, AMissingEntryNamesItself) {
  TPictureLibrary::SetFileNameOverride(TPictureLibraryId::Crde, STUB_LIBRARY);
  try {
    InitAnnotation(this, "pic_anno.ini");
    FAIL() << "an absent entry was called";
  } catch (const ErrorInvalid& e) {
    EXPECT_STREQ(e.what(),
                 "Error. Could not get a procaddress for InitAnnotation. This could berelated to "
                 "a dll name or version missmatch of CRDE2000.DLL");
  }
  // Entries other than the annotation layer's fail the call instead.
  TStreamInfo info;
  EXPECT_FALSE(StreamInfo(fixtures::Png(fixtures::Quadrants(2, 2)), info));
  EXPECT_NE(LastLibraryError().Text.find("streaminfo"), std::string::npos);
}

std::set<std::string> ExportedFunctions(const std::string& library) {
  std::set<std::string> names;
  FILE* nm = popen(("nm -D --defined-only " + library).c_str(), "r");
  if (!nm) return names;
  char line[512];
  while (std::fgets(line, sizeof line, nm)) {
    char type = 0;
    char name[400] = {};
    if (std::sscanf(line, "%*s %c %399s", &type, name) == 2 && type == 'T') names.insert(name);
  }
  pclose(nm);
  return names;
}

// A name the tables lacked would fail in the browser where the desktop works.
TEST(LinkedEntries, NameEveryEntryTheLibrariesExport) {
  const struct {
    TPictureLibraryId id;
    std::span<const TLinkedEntry> table;
  } libraries[] = {{TPictureLibraryId::Crde, picturelib::CrdeEntries()},
                   {TPictureLibraryId::Isp, picturelib::IspEntries()}};
  for (const auto& library : libraries) {
    const std::string file = std::string(TAMBLO_RUNTIME_DIR) + "/" + TPictureLibrary::FileName(library.id);
    SCOPED_TRACE(file);
    const std::set<std::string> exported = ExportedFunctions(file);
    ASSERT_FALSE(exported.empty()) << "nm read no entries";
    std::set<std::string> linked;
    for (const TLinkedEntry& entry : library.table) {
      EXPECT_NE(entry.address, nullptr) << entry.name;
      EXPECT_TRUE(linked.insert(entry.name).second) << entry.name << " twice";
    }
    EXPECT_EQ(linked, exported);
  }
}

TEST(PackedDibTest, CreateDibSizesTheBlockByDepth) {
  struct Case {
    int bits, size, colours, storedBits;
  };
  // 10 x 3 pixels: rows of 4, 8, 12, 20, 32 and 40 bytes.
  const Case cases[] = {{1, 48 + 12, 2, 1},    {2, 48 + 12, 2, 1},  {4, 104 + 24, 16, 4},
                        {8, 1064 + 36, 256, 8}, {16, 40 + 60, 0, 16}, {24, 40 + 96, 0, 24},
                        {32, 40 + 120, 0, 32}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    TPackedDib dib;
    ASSERT_TRUE(dib.CreateDib(nullptr, 10, 3, c.bits));
    EXPECT_EQ(dib.Block()->size, static_cast<std::uint32_t>(c.size));
    EXPECT_EQ(dib.BitCount(), c.storedBits);
    EXPECT_EQ(dib.ColorCount(), c.colours);
    EXPECT_EQ(dib.HeaderSize(), 40 + 4 * c.colours);
    EXPECT_EQ(dib.Width(), 10);
    EXPECT_EQ(dib.Height(), 3);
  }
  TPackedDib none;
  EXPECT_FALSE(none.CreateDib(nullptr, 10, 3, 3));
  EXPECT_EQ(none.Block(), nullptr);
  EXPECT_EQ(none.BitCount(), 0);
  EXPECT_EQ(none.TotalSize(), 0u);
}

TEST(PackedDibTest, TotalSizeFillsAZeroImageSizeInTheBlock) {
  TPackedDib dib;
  ASSERT_TRUE(dib.CreateDib(nullptr, 5, -4, 24));  // top-down rows of 16 bytes
  std::memset(dib.Block()->bytes + IMG_DIB_OFF_IMAGE_SIZE, 0, 4);
  EXPECT_EQ(dib.TotalSize(), 40u + 64u);
  std::uint32_t stored = 0;
  std::memcpy(&stored, dib.Block()->bytes + IMG_DIB_OFF_IMAGE_SIZE, 4);
  EXPECT_EQ(stored, 64u);
}

TEST(PackedDibTest, PaletteComesFromTheColourTable) {
  const std::vector<toolkit::TColor> colours{{10, 20, 30}, {200, 100, 50}};
  TPackedDib dib;
  ASSERT_TRUE(dib.CreateDib(&colours, 3, 3, 1));
  EXPECT_EQ(dib.Palette(), colours);
}

TEST_P(PictureLibraryTest, IndexedBlocksBecomeBitmapsAtTheRequestedDepth) {
  // A 4-bit block, top-down, indices 0..3 along each row.
  const std::vector<toolkit::TColor> colours{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}};
  TPackedDib dib;
  ASSERT_TRUE(dib.CreateDib(&colours, 4, -2, 4));
  for (int y = 0; y < 2; ++y) {
    dib.Bits()[y * 4] = 0x01;
    dib.Bits()[y * 4 + 1] = 0x23;
  }
  toolkit::TBitmap bitmap;
  ASSERT_TRUE(DibToBitmap(dib.Block(), 24, false, nullptr, nullptr, bitmap));
  EXPECT_EQ(CurrentOperationText(), "Increasing colors ");
  for (int x = 0; x < 4; ++x) EXPECT_EQ(bitmap.Canvas().Pixel(x, 1), colours[x]) << x;

  // 32 bits asked for 8: reduced (through 24), still the same four colours.
  TPackedDib wide;
  ASSERT_TRUE(wide.CreateDib(nullptr, 4, 1, 32));
  for (int x = 0; x < 4; ++x) {
    wide.Bits()[4 * x] = colours[x].b;
    wide.Bits()[4 * x + 1] = colours[x].g;
    wide.Bits()[4 * x + 2] = colours[x].r;
  }
  ASSERT_TRUE(DibToBitmap(wide.Block(), 8, false, nullptr, nullptr, bitmap));
  EXPECT_EQ(CurrentOperationText(), "Reducing colors ");
  for (int x = 0; x < 4; ++x) EXPECT_EQ(bitmap.Canvas().Pixel(x, 0), colours[x]) << x;
}

TEST_P(PictureLibraryTest, UnusableBlocksGiveNoBitmap) {
  toolkit::TBitmap bitmap;
  EXPECT_FALSE(DibToBitmap(nullptr, 24, false, nullptr, nullptr, bitmap));
  TDibHandle empty(img_dib_alloc(0));
  EXPECT_FALSE(DibToBitmap(empty.get(), 24, false, nullptr, nullptr, bitmap));
  // A header promising more rows than the block holds.
  TPackedDib dib;
  ASSERT_TRUE(dib.CreateDib(nullptr, 100, 100, 24));
  dib.Block()->size = 1000;
  EXPECT_FALSE(DibToBitmap(dib.Block(), 24, false, nullptr, nullptr, bitmap));
  dib.Block()->size = 40 + 30000;
  std::int32_t huge = 1 << 20;
  std::memcpy(dib.Block()->bytes + IMG_DIB_OFF_WIDTH, &huge, 4);
  EXPECT_FALSE(DibToBitmap(dib.Block(), 24, false, nullptr, nullptr, bitmap));
}

TEST_P(PictureLibraryTest, BitmapRoundTripsThroughABlock) {
  EXPECT_THROW(BitmapToDib(nullptr), ErrorInvalid);
  toolkit::TBitmap blank;
  try {
    BitmapToDib(&blank);
    FAIL();
  } catch (const ErrorInvalid& e) {
    EXPECT_STREQ(e.what(), "Input image is empty");
  }
  toolkit::TBitmap bitmap(3, 2, toolkit::TColor{1, 2, 3});
  bitmap.Canvas().SetPixel(2, 0, toolkit::TColor{200, 150, 100});
  TDibHandle dib = BitmapToDib(&bitmap);
  TPackedDib view;
  view.OwnsMemory = false;
  view.AttachDib(dib.get());
  EXPECT_EQ(view.BitCount(), 24);
  toolkit::TBitmap back;
  ASSERT_TRUE(DibToBitmap(dib.get(), 24, false, nullptr, nullptr, back));
  EXPECT_EQ(back.Canvas().Pixel(2, 0), (toolkit::TColor{200, 150, 100}));
  EXPECT_EQ(back.Canvas().Pixel(0, 1), (toolkit::TColor{1, 2, 3}));
}

}  // namespace
}  // namespace media
