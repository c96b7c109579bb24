#include "toolkit/application.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "toolkit/form.h"
#include "tests/support/pointer_events.h"

namespace {

using namespace toolkit;

TEST(ErrorBoxText, AppendsAFullStopWhenTheLastCharacterSortsAfterIt) {
  struct Case {
    const char* message;
    const char* shown;
  };
  const Case cases[] = {
      {"Table not found", "Table not found."},
      {"Done.", "Done."},
      {"Why?", "Why?."},  // '?' sorts after '.'
      {"50%", "50%"},     // '%' sorts before it
      {"a-", "a-"},
      {"", ""},
      {"caf\xC3\xA9", "caf\xC3\xA9."},  // bytes above ASCII sort after it too
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorBoxText(c.message), c.shown) << c.message;
}

struct Reported {
  std::string caption, text;
};

class TestForm : public TForm {
 public:
  explicit TestForm(Application& app) : TForm(app, "fTest") {
    SetClientSize(200, 100);
    auto& image = Add<TImage>("img");
    image.Picture().SetSize(50, 50, clRed);
    image.SetBounds(10, 10, 50, 50);
  }
};

using tamblo::testing::PushClick;

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    app.Title = "Tamblo";
    app.WindowScale = 1;  // window points are client points unless a test says otherwise
    app.SetReporter([this](const std::string& c, const std::string& t) { reports.push_back({c, t}); });
  }
  Application app;
  std::vector<Reported> reports;
};

TEST_F(ApplicationTest, HandlerExceptionIsReportedAndTheLoopGoesOn) {
  auto& form = app.CreateForm<TestForm>();
  int clicks = 0, releases = 0;
  auto& image = form.Find<TImage>("img");
  image.OnClick = [&] {
    ++clicks;
    throw std::runtime_error("The block fell off");
  };
  image.OnMouseUp = [&](TMouseButton, TShiftState, int, int) { ++releases; };
  form.Show();

  for (int round = 1; round <= 2; ++round) {
    PushClick(form.WindowId(), 20, 20);
    app.ProcessMessages();
    ASSERT_EQ(reports.size(), static_cast<size_t>(round));
    EXPECT_EQ(reports.back().caption, "Tamblo");
    EXPECT_EQ(reports.back().text, "The block fell off.");
  }
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(releases, 0) << "the rest of a failing handler is skipped";
}

TEST_F(ApplicationTest, TimerAndPostedFailuresAreReportedToo) {
  auto& form = app.CreateForm<TestForm>();
  TTimer timer;
  timer.SetInterval(1);
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    throw std::runtime_error("tick");
  };
  timer.SetEnabled(true);
  bool ranAfter = false;
  app.Post([] { throw std::logic_error("posted"); });
  app.Post([&] { ranAfter = true; });
  form.Show();
  SDL_Delay(2);
  app.ProcessMessages();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].text, "tick.");
  EXPECT_EQ(reports[1].text, "posted.");
  EXPECT_TRUE(ranAfter);
}

TEST_F(ApplicationTest, FirstFormIsMainAndClosingItEndsTheLoop) {
  auto& first = app.CreateForm<TestForm>();
  app.CreateForm<TestForm>();
  EXPECT_EQ(app.MainForm(), &first);
  int activations = 0;
  first.OnActivate = [&] { ++activations; };
  app.Post([&] { first.Close(); });
  app.Run();  // returns only once the main form closed
  EXPECT_TRUE(app.Terminated());
  EXPECT_EQ(activations, 1);
  first.Show();
  EXPECT_EQ(activations, 1) << "activation runs once";
}

// A browser's box does not block: the loop holds everything else back while
// it is up, as a modal box would, and carries on once it is closed.
TEST_F(ApplicationTest, ANonBlockingBoxHoldsTheLoopUntilItCloses) {
  bool boxUp = false;
  app.SetReporter([&](const std::string& c, const std::string& t) {
    reports.push_back({c, t});
    boxUp = true;
    app.BeginModal([&] { return boxUp; });
  });
  auto& form = app.CreateForm<TestForm>();
  int clicks = 0, ticks = 0;
  bool posted = false;
  form.Find<TImage>("img").OnClick = [&] { ++clicks; };
  TTimer timer;
  timer.SetInterval(1);
  timer.OnTimer = [&] { ++ticks; };
  form.Show();
  app.Post([] { throw std::runtime_error("The crane broke"); });
  app.Post([&] { posted = true; });
  app.ProcessMessages();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_FALSE(posted) << "the call after the failing one ran behind the box";

  timer.SetEnabled(true);
  SDL_Delay(2);
  PushClick(form.WindowId(), 20, 20);
  for (int pass = 0; pass < 3; ++pass) {
    ASSERT_TRUE(app.InModal());
    EXPECT_EQ(app.Step(), std::optional<std::uint32_t>(Application::kLongestSleep)) << "a step waits too";
  }
  EXPECT_FALSE(posted);
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(ticks, 0);

  boxUp = false;
  app.ProcessMessages();
  EXPECT_FALSE(app.InModal());
  EXPECT_TRUE(posted);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(reports.size(), 1u);
}

// The turns a browser's frames run: none without a main form, the main form
// shown by the first, no sleep while calls are posted, none after the end.
TEST_F(ApplicationTest, StepsRunTheLoopOneTurnAtATime) {
  EXPECT_EQ(app.Step(), std::nullopt) << "no main form to run";
  auto& form = app.CreateForm<TestForm>();
  int activations = 0;
  form.OnActivate = [&] { ++activations; };
  EXPECT_FALSE(form.Visible());
  bool ran = false;
  app.Post([&] { app.Post([&] { ran = true; }); });
  EXPECT_EQ(app.Step(), std::optional<std::uint32_t>(0)) << "a call is still posted";
  EXPECT_TRUE(form.Visible());
  EXPECT_EQ(activations, 1);
  EXPECT_FALSE(ran);
  const std::optional<std::uint32_t> idle = app.Step();
  EXPECT_TRUE(ran);
  ASSERT_TRUE(idle.has_value());
  EXPECT_LE(*idle, Application::kLongestSleep);

  TTimer timer;
  timer.SetInterval(40);
  timer.SetEnabled(true);
  const std::optional<std::uint32_t> toTick = app.Step();
  ASSERT_TRUE(toTick.has_value());
  EXPECT_LE(*toTick, 40u);

  app.Post([&] { form.Close(); });
  EXPECT_EQ(app.Step(), std::nullopt);
  EXPECT_EQ(app.Step(), std::nullopt);
  EXPECT_EQ(activations, 1);
}

TEST_F(ApplicationTest, FormScreenShowsControlsInStackingOrder) {
  auto& form = app.CreateForm<TestForm>();
  form.Color = clAqua;
  auto& top = form.Add<TPanel>("panel");
  top.Color = clBlack;
  top.SetBounds(30, 30, 10, 10);
  form.Show();
  form.Update();
  const TCanvas& screen = form.Screen().Canvas();
  EXPECT_EQ(screen.Pixel(5, 5), clAqua);
  EXPECT_EQ(screen.Pixel(15, 15), clRed);
  EXPECT_EQ(screen.Pixel(35, 35), clBlack);
  top.SetVisible(false);
  form.Update();
  EXPECT_EQ(screen.Pixel(35, 35), clRed);
}

TColor WindowPixel(const TForm& form, int x, int y) {
  SDL_Surface* s = SDL_GetWindowSurface(SDL_GetWindowFromID(form.WindowId()));
  const Uint32 value = static_cast<const Uint32*>(s->pixels)[y * (s->pitch / 4) + x];
  TColor c;
  SDL_GetRGB(value, s->format, &c.r, &c.g, &c.b);
  return c;
}

TEST_F(ApplicationTest, AScaledWindowShowsBigPixelsAndItsPointerLandsOnTheLogicalPixel) {
  for (int scale : {1, 2, 3}) {
    SCOPED_TRACE("scale " + std::to_string(scale));
    app.WindowScale = scale;
    TestForm form(app);
    int clicks = 0;
    form.Find<TImage>("img").OnClick = [&] { ++clicks; };
    form.Show();
    ASSERT_EQ(form.WindowScale(), scale);
    int w = 0, h = 0;
    SDL_GetWindowSize(SDL_GetWindowFromID(form.WindowId()), &w, &h);
    EXPECT_EQ(w, 200 * scale);
    EXPECT_EQ(h, 100 * scale);
    // The image spans client pixels 10 to 59; a window pixel belongs to the
    // client pixel whose square it lies in.
    EXPECT_EQ(WindowPixel(form, 10 * scale, 10 * scale), clRed);
    EXPECT_EQ(WindowPixel(form, 10 * scale - 1, 10 * scale - 1), clBtnFace);
    EXPECT_EQ(WindowPixel(form, 60 * scale - 1, 60 * scale - 1), clRed);
    EXPECT_EQ(WindowPixel(form, 60 * scale, 60 * scale), clBtnFace);
    struct Press {
      int x, y;
      bool clicks;
    };
    const Press presses[] = {
        {10 * scale, 10 * scale, true},
        {10 * scale - 1, 30 * scale, false},
        {60 * scale - 1, 60 * scale - 1, true},
        {60 * scale, 30 * scale, false},
    };
    for (const Press& p : presses) {
      clicks = 0;
      PushClick(form.WindowId(), p.x, p.y);
      app.ProcessMessages();
      EXPECT_EQ(clicks, p.clicks ? 1 : 0) << "window point " << p.x << "," << p.y;
    }
  }
}

TEST_F(ApplicationTest, FullscreenCentresTheLargestWholeScaleOnTheFormColour) {
  app.WindowScale = 1;
  TestForm form(app);
  form.Color = clAqua;
  form.Show();
  form.SetFullscreen(true);
  app.ProcessMessages();
  form.Update();
  SDL_Surface* s = SDL_GetWindowSurface(SDL_GetWindowFromID(form.WindowId()));
  SDL_DisplayMode mode;
  ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &mode), 0);
  ASSERT_EQ(s->w, mode.w) << "the window covers the screen";
  const TPresentation& how = form.Presentation();
  EXPECT_EQ(how.scale, FitScale(200, 100, mode.w, mode.h));
  EXPECT_EQ(how.origin, (TPoint{(mode.w - 200 * how.scale) / 2, (mode.h - 100 * how.scale) / 2}));
  EXPECT_EQ(WindowPixel(form, 0, 0), clAqua);
  EXPECT_EQ(WindowPixel(form, how.origin.X + 10 * how.scale, how.origin.Y + 10 * how.scale), clRed);
  EXPECT_EQ(form.ClientFromWindow(how.origin.X + 10 * how.scale, how.origin.Y), (TPoint{10, 0}));

  form.SetFullscreen(false);
  app.ProcessMessages();
  form.Update();
  int w = 0, h = 0;
  SDL_GetWindowSize(SDL_GetWindowFromID(form.WindowId()), &w, &h);
  EXPECT_EQ(w, 200);
  EXPECT_EQ(h, 100);
  EXPECT_EQ(form.Presentation().scale, 1);
}

TEST_F(ApplicationTest, TheFormSeesKeysFirstAndCanKeepThemFromTheActiveControl) {
  TestForm form(app);
  auto& panel = form.Add<TPanel>("panel");
  std::vector<TKey> controlKeys;
  panel.OnKeyDown = [&](TKey& key, TShiftState) { controlKeys.push_back(key); };
  form.SetActiveControl(&panel);
  form.OnKeyDown = [](TKey& key, TShiftState) {
    if (key == VK_F11) key = 0;
  };
  form.KeyDown(VK_F11, 0);
  form.KeyDown(VK_RETURN, 0);
  EXPECT_EQ(controlKeys, std::vector<TKey>{VK_RETURN});
}

}  // namespace
