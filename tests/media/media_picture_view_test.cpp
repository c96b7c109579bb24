// The picture control on real tables and the real image library: loading on
// every record change, recognition, decoding failures, the keyboard and the
// clipboard, and writing a changed picture back.
#include "media/picture_view.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <utility>

#include "dataset/database_error.h"
#include "dataset/field.h"
#include "media/packed_dib.h"
#include "tests/dataset/memory_data_set.h"
#include "tests/engine/rewriter_process.h"
#include "tests/media/media_fixture.h"
#include "tests/media/picture_fixtures.h"
#include "toolkit/cursors.h"

namespace media::testing {
namespace {

using toolkit::TColor;

constexpr TColor kRed{255, 0, 0};
constexpr TColor kBlue{0, 0, 255};

// A PNG whose chunks are whole but whose compressed pixels are garbage: the
// probe names it, the reader fails.
TBytes CorruptPng() {
  TBytes png = MakePng(40, 30, [](int x, int y) {
    return TColor{static_cast<std::uint8_t>(x * 37 + y), static_cast<std::uint8_t>(y * 91), 7};
  });
  const std::string text(png.begin(), png.end());
  const std::size_t idat = text.find("IDAT");
  for (std::size_t i = idat + 6; i < idat + 60 && i < png.size(); ++i) png[i] = 0xFF;
  return png;
}

class PictureViewTest : public MediaTest {
 protected:
  void SetUp() override {
    MediaTest::SetUp();
    view = &form->Add<TDBPictureView>("DBPictureView1");
    view->SetBounds(8, 0, 265, 145);
    view->OnPictureChanged = [this] { ++pictureChanges; };
    view->OnFinishedLoadSave = [this] { ++finishedLoads; };
  }
  // Counts start once the field is named: naming it is a data change too.
  void Bind(TBoundTable& t, const std::string& field = "Graphic") {
    view->SetDataField(field);
    ResetCounts();
    view->SetDataSource(&t.source);
  }
  void ResetCounts() { pictureChanges = finishedLoads = 0; }
  TColor PicturePixel(int x, int y) { return view->Picture().Bitmap()->Canvas().Pixel(x, y); }

  TDBPictureView* view = nullptr;
  int pictureChanges = 0, finishedLoads = 0;
};

TEST_F(PictureViewTest, EveryRecordIsRecognisedAndDecoded) {
  MakeTable(dir, "Blend", "Graphic",
            {{"a", SolidPng(20, 10, kRed)},
             {"b", MakeBmp(8, 4, 24, [](int x, int) { return x < 4; })}});
  TBoundTable t(dir, "Blend");
  Bind(t);
  ASSERT_TRUE(view->Picture().HasBitmap());
  EXPECT_EQ(view->ContentKind(), "PNG");
  EXPECT_EQ(view->ContentInfo().FormatName, "PNG");
  EXPECT_EQ(view->ContentInfo().Width, 20);
  EXPECT_EQ(view->ContentInfo().Height, 10);
  EXPECT_EQ(view->Picture().Width(), 20);
  EXPECT_EQ(PicturePixel(19, 9), kRed);
  EXPECT_TRUE(view->PictureLoaded());
  EXPECT_EQ(finishedLoads, 1);

  t.table.Next();
  EXPECT_EQ(view->ContentKind(), "BMP");
  EXPECT_EQ(view->Picture().Width(), 8);
  EXPECT_EQ(PicturePixel(0, 0), toolkit::clBlack);
  EXPECT_EQ(PicturePixel(7, 3), toolkit::clWhite);
  EXPECT_EQ(finishedLoads, 2);
}

TEST_F(PictureViewTest, ATiffPagePastTheLastShowsTheLastPage) {
  const struct {
    const char* what;
    std::vector<::fixtures::Picture> pages;
    int asked, shown, width;
  } cases[] = {
      {"one page, page 3 asked", {::fixtures::Quadrants(8, 6)}, 3, 1, 8},
      {"two pages, page 5 asked", {::fixtures::Quadrants(8, 6), ::fixtures::Quadrants(4, 2)}, 5, 2, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MakeTable(dir, "Blend", "Graphic", {{"a", ::fixtures::Tiff(c.pages)}});
    TBoundTable t(dir, "Blend");
    view->TiffPage = static_cast<std::int16_t>(c.asked);
    Bind(t);
    ASSERT_TRUE(view->Picture().HasBitmap());
    EXPECT_EQ(view->TiffPage, c.shown);
    EXPECT_EQ(view->Picture().Width(), c.width);
    view->SetDataSource(nullptr);
  }
}

TEST_F(PictureViewTest, AGraphicHeaderInFrontOfTheBytesIsSkipped) {
  TBytes bmp = MakeBmp(6, 2, 24, [](int, int) { return true; });
  TBytes wrapped(8);
  Put16(wrapped, 0, 1);
  Put16(wrapped, 2, 256);
  Put32(wrapped, 4, static_cast<std::uint32_t>(bmp.size()));
  wrapped.insert(wrapped.end(), bmp.begin(), bmp.end());
  MakeTable(dir, "Blend", "Graphic", {{"a", wrapped}});
  TBoundTable t(dir, "Blend");
  Bind(t);
  EXPECT_EQ(view->ContentKind(), "BMP");
  ASSERT_TRUE(view->Picture().HasBitmap());
  EXPECT_EQ(view->Picture().Width(), 6);
}

TEST_F(PictureViewTest, FailedDecodeKeepsThePictureAndThrowsTheLibraryText) {
  MakeTable(dir, "Blend", "Graphic", {{"a", SolidPng(20, 10, kRed)}, {"b", CorruptPng()}});
  TBoundTable t(dir, "Blend");
  Bind(t);
  toolkit::SetScreenCursor(toolkit::crHandPoint);
  ResetCounts();

  const std::string message = MessageOf<ErrorInvalid>([&] { t.table.Next(); });
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(message, LastLibraryError().Text);
  EXPECT_EQ(view->ContentKind(), "PNG");
  ASSERT_TRUE(view->Picture().HasBitmap());
  EXPECT_EQ(view->Picture().Width(), 20) << "the previous picture stays";
  EXPECT_EQ(PicturePixel(0, 0), kRed);
  EXPECT_EQ(pictureChanges, 0);
  EXPECT_EQ(toolkit::ScreenCursor(), toolkit::crHandPoint) << "the wait cursor is put back";
  toolkit::SetScreenCursor(toolkit::crDefault);
}

TEST_F(PictureViewTest, WithAnErrorHandlerAFailedDecodeClearsThePicture) {
  MakeTable(dir, "Blend", "Graphic", {{"a", SolidPng(20, 10, kRed)}, {"b", CorruptPng()}});
  TBoundTable t(dir, "Blend");
  std::vector<std::pair<std::uint16_t, std::string>> errors;
  view->OnIlibError = [&](std::uint16_t code, const std::string& text, const char* textZ) {
    EXPECT_STREQ(textZ, text.c_str());
    errors.emplace_back(code, text);
  };
  Bind(t);
  ResetCounts();
  t.table.Next();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].first, LastLibraryError().Code);
  EXPECT_EQ(errors[0].second, LastLibraryError().Text);
  EXPECT_FALSE(view->Picture().HasGraphic());
  EXPECT_EQ(pictureChanges, 1);
  EXPECT_EQ(finishedLoads, 1) << "the load finishes normally";
}

TEST_F(PictureViewTest, ANullBlobClearsThePictureWithoutAnError) {
  MakeTable(dir, "Blend", "Graphic", {{"a", SolidPng(20, 10, kRed)}, {"b", std::nullopt}});
  TBoundTable t(dir, "Blend");
  Bind(t);
  ResetCounts();
  t.table.Next();
  ASSERT_TRUE(t.table.FieldByName("Graphic").IsNull());
  EXPECT_FALSE(view->Picture().HasGraphic());
  EXPECT_TRUE(view->PictureLoaded());
  EXPECT_EQ(pictureChanges, 1);
  EXPECT_EQ(finishedLoads, 0) << "a null blob does not finish a load";
  EXPECT_TRUE(view->ContentInfo().FormatName.empty());
}

// The tables store an empty blob as null, so an in-memory dataset holds one.
TEST_F(PictureViewTest, AnEmptyBlobIsReportedAsNoTemporaryMemory) {
  dataset::testing::TMemoryDataSet data({{"Name", dataset::ftString, 10}, {"Graphic", dataset::ftBlob, 0}},
                                        {{std::string("a"), TBytes{}}});
  data.Open();
  dataset::TDataSource source(&data);
  ASSERT_FALSE(data.FieldByName("Graphic").IsNull());
  view->SetDataField("Graphic");
  EXPECT_EQ(MessageOf<ErrorInvalid>([&] { view->SetDataSource(&source); }),
            "Error allocation Temporary blob memory");
  EXPECT_EQ(view->ContentInfo().FormatName, "Empty");
  EXPECT_EQ(view->ContentInfo().ByteSize, -1);
  view->SetDataSource(nullptr);
}

TEST_F(PictureViewTest, ASecondLoadWithoutADataChangeDoesNothing) {
  MakeTable(dir, "Blend", "Graphic", {{"a", SolidPng(20, 10, kRed)}});
  TBoundTable t(dir, "Blend");
  Bind(t);
  ResetCounts();
  int clicks = 0;
  view->OnClick = [&] { ++clicks; };
  // Enter and a double click both load again; neither replaces the picture.
  form->MouseDown(toolkit::TMouseButton::mbLeft, 20, 20, toolkit::ssDouble);
  form->MouseUp(toolkit::TMouseButton::mbLeft, 20, 20, 0);
  EXPECT_EQ(clicks, 0) << "the release ending a double click is no click";
  toolkit::TKey enter = toolkit::VK_RETURN;
  view->KeyDown(enter, 0);
  view->LoadBlobContent();
  EXPECT_EQ(pictureChanges, 0);
  EXPECT_EQ(finishedLoads, 3);

  // Escape announces the record again, which loads it afresh.
  toolkit::TKey escape = toolkit::VK_ESCAPE;
  view->KeyDown(escape, 0);
  EXPECT_EQ(pictureChanges, 1);
  EXPECT_EQ(finishedLoads, 4);
}

TEST_F(PictureViewTest, WithoutAutoDisplayOnlyAnExplicitLoadReadsTheBlob) {
  MakeTable(dir, "Blend", "Graphic", {{"a", SolidPng(20, 10, kRed)}});
  TBoundTable t(dir, "Blend");
  view->SetAutoDisplay(false);
  Bind(t);
  EXPECT_FALSE(view->PictureLoaded());
  EXPECT_FALSE(view->Picture().HasGraphic());
  // A double click loads it: the second press, as the message loop gets it.
  form->Show();
  SDL_Event ev{};
  ev.type = SDL_MOUSEBUTTONDOWN;
  ev.button.windowID = form->WindowId();
  ev.button.button = SDL_BUTTON_LEFT;
  ev.button.state = SDL_PRESSED;
  ev.button.clicks = 2;
  ev.button.x = ev.button.y = 20;
  SDL_PushEvent(&ev);
  app.ProcessMessages();
  EXPECT_TRUE(view->PictureLoaded());
  EXPECT_TRUE(view->Picture().HasBitmap());

  // A data change forgets it; switching AutoDisplay on loads at once.
  t.table.Refresh();
  EXPECT_FALSE(view->PictureLoaded());
  view->SetAutoDisplay(true);
  EXPECT_TRUE(view->PictureLoaded());
}

TEST_F(PictureViewTest, RebindingTheDataSourceReloadsFromTheNewSource) {
  MakeTable(dir, "Blend", "Graphic", {{"a", SolidPng(20, 10, kRed)}});
  MakeTable(dir, "Conson", "Graphic", {{"a", SolidPng(30, 5, kBlue)}, {"b", SolidPng(7, 7, kRed)}});
  TBoundTable blend(dir, "Blend");
  TBoundTable conson(dir, "Conson");
  conson.table.Next();
  Bind(blend);
  ASSERT_EQ(view->Picture().Width(), 20);
  view->SetDataSource(&conson.source);
  EXPECT_EQ(view->Picture().Width(), 7) << "the new source's current record";
  // Moving the old source no longer reaches the control.
  ResetCounts();
  blend.table.Refresh();
  EXPECT_EQ(finishedLoads, 0);
}

TEST_F(PictureViewTest, ProgressReachesTheHandlerWithTheWaitCursorShowing) {
  MakeTable(dir, "Blend", "Graphic", {{"a", SolidPng(20, 10, kRed)}});
  TBoundTable t(dir, "Blend");
  std::vector<std::uint16_t> percents;
  std::vector<std::string> messages;
  std::vector<toolkit::TCursor> cursors;
  view->OnProgress = [&](std::uint16_t percent, const std::string& message, bool&) {
    percents.push_back(percent);
    messages.push_back(message);
    cursors.push_back(toolkit::ScreenCursor());
  };
  Bind(t);
  ASSERT_GE(percents.size(), 2u);
  EXPECT_EQ(percents.front(), 0);
  EXPECT_EQ(cursors.front(), toolkit::crDefault) << "the load reports 0 before decoding";
  EXPECT_EQ(messages.back(), "reading png stream");
  EXPECT_EQ(cursors.back(), toolkit::crHourGlass);
  EXPECT_EQ(toolkit::ScreenCursor(), toolkit::crDefault);
}

TEST_F(PictureViewTest, CancellingOrThrowingInTheProgressHandlerStopsTheDecode) {
  MakeTable(dir, "Blend", "Graphic", {{"a", SolidPng(20, 10, kRed)}});
  TBoundTable t(dir, "Blend");
  struct Case {
    const char* name;
    std::function<void(bool&)> handler;
    bool throwsHandlerError;
  };
  const Case cases[] = {
      {"cancel", [](bool& cancel) { cancel = true; }, false},
      {"throw", [](bool&) { throw std::runtime_error("stop"); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int calls = 0;
    view->OnProgress = [&](std::uint16_t, const std::string&, bool& cancel) {
      if (++calls > 1) c.handler(cancel);  // the load's own 0 goes through
    };
    view->SetDataSource(nullptr);
    view->SetDataField("Graphic");
    bool handlerError = false;
    try {
      view->SetDataSource(&t.source);
    } catch (const ErrorInvalid&) {
    } catch (const std::runtime_error& e) {
      handlerError = std::string(e.what()) == "stop";
    }
    EXPECT_EQ(handlerError, c.throwsHandlerError);
    EXPECT_FALSE(view->Picture().HasBitmap());
    EXPECT_EQ(toolkit::ScreenCursor(), toolkit::crDefault);
  }
}

TEST_F(PictureViewTest, AMissingLibraryStopsLoaded) {
  view->Loaded();  // the real library registers
  auto& other = form->Add<TDBPictureView>("DBPictureView2");
  TPictureLibrary::SetFileNameOverride(TPictureLibraryId::Crde, "libnowhere2000.so");
  const std::string message = MessageOf<ErrorInvalid>([&] { other.Loaded(); });
  TPictureLibrary::SetFileNameOverride(TPictureLibraryId::Crde, "");
  EXPECT_EQ(message, CantLoadMessage("libnowhere2000.so"));
}

TEST_F(PictureViewTest, PropertyDefaultsAndCheckedSetters) {
  EXPECT_EQ(view->ScrollbarWidth(), 12);
  EXPECT_EQ(view->GrabHandCursor(), 5);
  EXPECT_EQ(view->BlitMode(), sLight);
  EXPECT_EQ(view->BorderStyle(), bsSingle);
  EXPECT_EQ(view->ImageReadRes, lAutoMatic);
  EXPECT_EQ(view->BlobUpDate, bUpdateAsJPG);
  EXPECT_EQ(view->B_W_CopyFlags, FlagOf(C_DEL));
  EXPECT_EQ(view->PCDMode, pcd_BASE4);
  EXPECT_DOUBLE_EQ(view->Version(), 5.1);
  EXPECT_EQ(view->Color(), toolkit::clWindow);
  EXPECT_TRUE(view->TabStop);
  EXPECT_TRUE(view->AutoDisplay() && view->Center() && view->Scrolling() && view->ILUndo);
  EXPECT_FALSE(view->Stretch() || view->StretchRatio() || view->ShowScrollbars());
  EXPECT_EQ(view->JPegSaveQuality(), 25);
  EXPECT_EQ(view->JPegSaveSmooth(), 0);

  struct Case {
    int given, quality, smooth;
  };
  for (const Case& c : {Case{1, 1, 1}, Case{100, 100, 100}, Case{0, 25, 5}, Case{101, 25, 5}, Case{-3, 25, 5}}) {
    view->SetJPegSaveQuality(c.given);
    view->SetJPegSaveSmooth(c.given);
    EXPECT_EQ(view->JPegSaveQuality(), c.quality) << c.given;
    EXPECT_EQ(view->JPegSaveSmooth(), c.smooth) << c.given;
  }

  const std::pair<TLoadResolution, int> depths[] = {{lColorVga, 0}, {lMonoChrome, 1}, {lColor16, 4},
                                                    {lColor256, 8}, {lColorTrue, 24}, {lAutoMatic, 24}};
  for (auto [res, depth] : depths) {
    view->ImageReadRes = res;
    EXPECT_EQ(view->RequestedDepth(), depth) << res;
  }
}

TEST(UndoHistory, PushingShiftsTheSlotsAndDropsTheOldest) {
  TUndoHistory history;
  EXPECT_FALSE(history.Available);
  for (int width = 1; width <= 5; ++width) {
    toolkit::TBitmap picture(width, 1);
    history.Push(&picture);
  }
  history.Push(nullptr);
  EXPECT_TRUE(history.Available);
  const int widths[] = {0, 5, 4, 3};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(history.Slots[static_cast<std::size_t>(i)]->Width(), widths[i]) << i;
}

// Keys reach the focused control through the message loop.
class PictureKeyboardTest : public PictureViewTest {
 protected:
  void Press(SDL_Keycode sym, Uint16 mod) {
    SDL_Event ev{};
    ev.type = SDL_KEYDOWN;
    ev.key.windowID = form->WindowId();
    ev.key.keysym.sym = sym;
    ev.key.keysym.mod = mod;
    SDL_PushEvent(&ev);
    app.ProcessMessages();
  }
  void Focus() {
    form->Show();
    form->MouseDown(toolkit::TMouseButton::mbLeft, 20, 20, 0);
    form->MouseUp(toolkit::TMouseButton::mbLeft, 20, 20, 0);
    ASSERT_EQ(form->ActiveControl(), view);
  }
};

TEST_F(PictureKeyboardTest, CopyKeysPutThePictureOnTheClipboard) {
  MakeTable(dir, "Blend", "Graphic", {{"a", SolidPng(20, 10, kRed)}});
  TBoundTable t(dir, "Blend");
  Bind(t);
  Focus();
  for (auto [sym, mod] : {std::pair{SDLK_c, KMOD_LCTRL}, std::pair{SDLK_INSERT, KMOD_RCTRL}}) {
    PictureClipboard().Dib.reset();
    Press(sym, static_cast<Uint16>(mod));
    ASSERT_TRUE(PictureClipboard().Dib) << SDL_GetKeyName(sym);
    toolkit::TBitmap pasted;
    ASSERT_TRUE(DibToBitmap(PictureClipboard().Dib.get(), 24, false, nullptr, nullptr, pasted));
    EXPECT_EQ(pasted.Width(), 20);
    EXPECT_EQ(pasted.Canvas().Pixel(3, 3), kRed);
  }
  // Unmodified letters do nothing.
  PictureClipboard().Dib.reset();
  Press(SDLK_c, KMOD_NONE);
  EXPECT_FALSE(PictureClipboard().Dib);
  EXPECT_TRUE(reports.empty());
}

TEST_F(PictureKeyboardTest, CutAndPasteLeaveATableThatCannotEditAsItIs) {
  MakeTable(dir, "Blend", "Graphic", {{"a", SolidPng(20, 10, kRed)}});
  MakeTable(dir, "Conson", "Graphic", {{"a", SolidPng(30, 5, kBlue)}});
  TBoundTable t(dir, "Blend");
  Bind(t);
  Focus();
  ResetCounts();
  Press(SDLK_x, KMOD_LCTRL);
  Press(SDLK_DELETE, KMOD_LSHIFT);
  ASSERT_TRUE(PictureClipboard().Dib) << "cut still copies";
  EXPECT_EQ(view->Picture().Width(), 20);

  {
    TBoundTable other(dir, "Conson");
    view->SetDataSource(&other.source);
    view->CopyToClipboard();
    view->SetDataSource(&t.source);
  }
  Press(SDLK_v, KMOD_LCTRL);
  Press(SDLK_INSERT, KMOD_LSHIFT);
  EXPECT_EQ(view->Picture().Width(), 20) << "nothing is pasted";
  EXPECT_EQ(t.table.State(), dataset::dsBrowse);
  EXPECT_TRUE(reports.empty());
}

// An in-memory dataset that can be edited, so a pasted picture is written back.
class TEditableDataSet : public dataset::testing::TMemoryDataSet {
 public:
  using TMemoryDataSet::TMemoryDataSet;
  bool CanModify() const override { return true; }
  void Edit() override {
    SetTempState(dataset::dsEdit);
    DataEvent(dataset::deUpdateState);
  }
  void Post() override {
    DataEvent(dataset::deUpdateRecord);
    RestoreState(dataset::dsBrowse);
    DataEvent(dataset::deUpdateState);
  }
  void SetFieldData(dataset::TField& field, const dataset::TFieldData& value) override {
    edited[field.FieldNo()] = value;
  }
  bool GetFieldData(const dataset::TField& field, dataset::TFieldData* value) override {
    auto it = edited.find(field.FieldNo());
    if (it == edited.end()) return TMemoryDataSet::GetFieldData(field, value);
    if (std::holds_alternative<std::monostate>(it->second)) return false;
    if (value) *value = it->second;
    return true;
  }
  std::map<int, dataset::TFieldData> edited;
};

TEST_F(PictureViewTest, APastedPictureIsWrittenBackWhenTheDatasetPosts) {
  TEditableDataSet data({{"Name", dataset::ftString, 10}, {"Graphic", dataset::ftBlob, 0}},
                        {{std::string("a"), SolidPng(20, 10, kRed)}});
  data.Open();
  dataset::TDataSource source(&data);
  view->BlobUpDate = bUpdateAsPNG;
  view->SetDataField("Graphic");
  view->SetDataSource(&source);
  ASSERT_EQ(view->Picture().Width(), 20);

  auto blue = std::make_unique<toolkit::TBitmap>(12, 6, kBlue);
  PictureClipboard().Dib = BitmapToDib(blue.get());
  ResetCounts();
  view->PasteFromClipboard();
  EXPECT_EQ(data.State(), dataset::dsEdit);
  EXPECT_EQ(view->Picture().Width(), 12);
  EXPECT_EQ(pictureChanges, 1);
  EXPECT_TRUE(view->DataLink().Modified());
  EXPECT_EQ(UndoHistory().Slots[0]->Width(), 20) << "the replaced picture is kept";

  data.Post();
  const auto& bytes = std::get<std::vector<std::uint8_t>>(data.edited.at(2));
  TContentInfo written;
  EXPECT_EQ(RecognizeBytes(bytes, 1, written).Kind, "PNG");
  EXPECT_EQ(written.Width, 12);
  EXPECT_EQ(view->ContentInfo().FormatName, "PNG");
  EXPECT_EQ(finishedLoads, 1);

  // Cutting empties the picture, and posting makes the field null.
  view->CutToClipboard();
  EXPECT_FALSE(view->Picture().HasGraphic());
  data.Post();
  EXPECT_TRUE(data.FieldByName("Graphic").IsNull());
}

// Red on the left, blue on the right: two colours, so every format keeps them.
TBytes Halves(int w = 64, int h = 48) {
  return MakePng(w, h, [w](int x, int) { return x < w / 2 ? kRed : kBlue; });
}

bool Near(TColor a, TColor b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

// Cut and paste on a table that can be edited, then a move to the next
// record, which posts: the field holds the picture in the chosen format, the
// control recognises it, and it reads back.
TEST_F(PictureViewTest, SavingBackWritesEveryFormatTheControlOffers) {
  const struct {
    TBlobUpDate format;
    const char* kind;
    const char* name;
    int tolerance;
  } cases[] = {
      {bUpdateAsJPG, "JPG", "JPEG", 60}, {bUpdateAsBMP, "BMP", "BMP", 0}, {bUpdateAsGIF, "GIF", "GIF", 0},
      {bUpdateAsPCX, "PCX", "PCX", 0},   {bUpdateAsTGA, "TGA", "TGA", 0}, {bUpdateAsPNG, "PNG", "PNG", 0},
      {bUpdateAsTIF, "TIF", "TIFF", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    TEditableDataSet data({{"Name", dataset::ftString, 10}, {"Graphic", dataset::ftBlob, 0}},
                          {{std::string("a"), Halves()}, {std::string("b"), SolidPng(8, 4, kBlue)}});
    data.Open();
    // A move posts the edit, as a table open for writing does.
    data.BeforeScroll = [](dataset::TDataSet& d) {
      if (d.State() == dataset::dsEdit) d.Post();
    };
    dataset::TDataSource source(&data);
    view->BlobUpDate = c.format;
    view->SetDataField("Graphic");
    view->SetDataSource(&source);
    ASSERT_EQ(view->Picture().Width(), 64);

    view->CutToClipboard();
    EXPECT_FALSE(view->Picture().HasGraphic());
    view->PasteFromClipboard();
    ASSERT_EQ(view->Picture().Width(), 64);
    ASSERT_EQ(data.State(), dataset::dsEdit);
    data.Next();
    EXPECT_EQ(data.State(), dataset::dsBrowse);

    ASSERT_TRUE(data.edited.count(2));
    const auto& bytes = std::get<std::vector<std::uint8_t>>(data.edited.at(2));
    TContentInfo written;
    EXPECT_EQ(RecognizeBytes(bytes, 1, written).Kind, c.kind);
    EXPECT_EQ(written.FormatName, c.name);
    EXPECT_EQ(written.Width, 64);
    // The field as saved is what the control shows now.
    EXPECT_EQ(view->ContentInfo().FormatName, c.name);
    ASSERT_EQ(view->Picture().Width(), 64);
    EXPECT_TRUE(Near(PicturePixel(2, 5), kRed, c.tolerance));
    EXPECT_TRUE(Near(PicturePixel(60, 40), kBlue, c.tolerance));
    view->SetDataSource(nullptr);
  }
}

// The buffer is the picture's block size and a fifth: a tiny picture's GIF,
// with its 256-colour table, does not fit, and that is the library's error.
TEST_F(PictureViewTest, AnEncodingThatDoesNotFitIsTheLibrarysError) {
  const TBytes original = Halves(20, 10);
  TEditableDataSet data({{"Name", dataset::ftString, 10}, {"Graphic", dataset::ftBlob, 0}},
                        {{std::string("a"), original}});
  data.Open();
  dataset::TDataSource source(&data);
  view->BlobUpDate = bUpdateAsGIF;
  view->SetDataField("Graphic");
  view->SetDataSource(&source);
  view->CopyToClipboard();
  view->PasteFromClipboard();
  try {
    data.Post();
    ADD_FAILURE() << "no error";
  } catch (const ErrorInvalid& e) {
    EXPECT_STREQ(e.what(), "Output buffer too small");
  }
  EXPECT_FALSE(data.edited.count(2)) << "the field keeps what it held";
  view->SetDataSource(nullptr);
}

TEST_F(PictureViewTest, SavingATiffBackAddsAPageWhenAskedTo) {
  for (const bool append : {false, true}) {
    SCOPED_TRACE(append);
    TEditableDataSet data({{"Name", dataset::ftString, 10}, {"Graphic", dataset::ftBlob, 0}},
                          {{std::string("a"), Halves()}});
    data.Open();
    dataset::TDataSource source(&data);
    view->BlobUpDate = bUpdateAsTIF;
    view->TifSaveCompress = sLZW;
    view->TiffAppend = append;
    view->SetDataField("Graphic");
    view->SetDataSource(&source);
    // The first save turns the PNG into a TIFF; the second finds a TIFF there.
    view->CopyToClipboard();
    for (int save = 0; save < 2; ++save) {
      view->PasteFromClipboard();
      data.Post();
    }
    const auto& bytes = std::get<std::vector<std::uint8_t>>(data.edited.at(2));
    TContentInfo written;
    ASSERT_EQ(RecognizeBytes(bytes, 1, written).Kind, "TIF");
    EXPECT_EQ(written.TiffPages, append ? 2 : 1);
    EXPECT_EQ(written.FormatClass, "LZW");
    view->SetDataSource(nullptr);
  }
}

// Lets another process rewrite the table just before the next blob read.
class TTableWithHook : public ledger::TLedgerTable {
 public:
  std::vector<std::uint8_t> GetBlobFieldData(const dataset::TField& field) override {
    if (auto hook = std::exchange(beforeBlob, nullptr)) hook();
    return ledger::TLedgerTable::GetBlobFieldData(field);
  }
  std::function<void()> beforeBlob;
};

// The record the control moves to is rewritten in place, without its
// picture, between the control's look at the null flag and its blob read.
// The read shows the new record, and the control must show it as it is:
// empty, not the new record's empty blob decoded as the picture the old
// record's flag promised.
TEST_F(PictureViewTest, ARecordRewrittenWhileItsBlobIsReadIsShownAsItNowIs) {
  const TBytes red = SolidPng(20, 10, kRed);
  MakeTable(dir, "Blend", "Graphic", {{"a", red}, {"b", SolidPng(8, 4, kBlue)}});
  ledger::testing::TRewriterProcess writer(dir + "/Blend.IDX", [&](int) {
    MakeTable(dir, "Blend", "Graphic", {{"a", red}, {"b", std::nullopt}}, ledger::TBuildTarget::InPlace);
  });
  TTableWithHook table;
  table.SetDatabaseName(dir);
  table.SetTableName("Blend");
  table.Open();
  dataset::TDataSource source(&table);
  view->SetDataField("Graphic");
  view->SetDataSource(&source);
  ASSERT_EQ(view->ContentKind(), "PNG");

  table.beforeBlob = [&] { EXPECT_EQ(writer.Rewrite(2), ledger::testing::TRewriterProcess::TOutcome::Rewritten); };
  EXPECT_EQ(MessageOf<std::exception>([&] { table.Next(); }), "");
  EXPECT_EQ(table.FieldByName("Name").AsString(), "b");
  EXPECT_TRUE(table.FieldByName("Graphic").IsNull());
  EXPECT_FALSE(view->Picture().HasBitmap());
  view->SetDataSource(nullptr);
  EXPECT_TRUE(writer.Finish());
}

}  // namespace
}  // namespace media::testing
