#include "toolkit/application.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "toolkit/form.h"

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

void PushButton(Uint32 window, Uint32 type, int x, int y) {
  SDL_Event ev{};
  ev.type = type;
  ev.button.windowID = window;
  ev.button.button = SDL_BUTTON_LEFT;
  ev.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
  ev.button.x = x;
  ev.button.y = y;
  SDL_PushEvent(&ev);
}

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    app.Title = "Tamblo";
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
    PushButton(form.WindowId(), SDL_MOUSEBUTTONDOWN, 20, 20);
    PushButton(form.WindowId(), SDL_MOUSEBUTTONUP, 20, 20);
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

}  // namespace
