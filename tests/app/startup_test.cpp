#include "app/startup.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <optional>

#include "media/image_library.h"
#include "tests/app/content_tables.h"
#include "toolkit/form.h"

namespace {

using namespace toolkit;

// Starts just short of the tick counter's wrap, so the wait must use differences.
class FakeClock : public app::TStartupClock {
 public:
  std::uint32_t now = 0xFFFFF000u;
  std::uint32_t slept = 0;
  std::uint32_t Ticks() override { return now; }
  void Sleep(std::uint32_t ms) override {
    now += ms;
    slept += ms;
  }
};

bool HasColour(const TBitmap& b, TColor c) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.Canvas().Pixel(x, y) == c) return true;
  return false;
}

void Click(TForm& form, int x, int y) {
  for (Uint32 type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) {
    SDL_Event ev{};
    ev.type = type;
    ev.button.windowID = form.WindowId();
    ev.button.button = SDL_BUTTON_LEFT;
    ev.button.x = x;
    ev.button.y = y;
    SDL_PushEvent(&ev);
  }
}

// The desktop sleeps inside Run; a browser calls Step once a frame and
// sleeps nowhere. Both must keep the same order and times.
enum class TDriver { Run, Steps };

TEST(Startup, SplashCoversCreationForSixSecondsAndExitEndsTheLoop) {
  struct Case {
    std::uint32_t creationMs;
    std::uint32_t expectedElapsed;  // when the message loop starts
  };
  const tamblo::testing::TContentDir content;
  media::TPictureLibrary::SetSearchDirectory(TAMBLO_RUNTIME_DIR);
  for (TDriver driver : {TDriver::Run, TDriver::Steps}) {
    for (Case c : {Case{100, 5999}, Case{5998, 5999}, Case{7000, 7000}}) {
      SCOPED_TRACE(std::string(driver == TDriver::Run ? "run " : "steps ") + std::to_string(c.creationMs));
      SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
      Application application;
      std::vector<std::string> reports;
      application.SetReporter([&](const std::string&, const std::string& t) { reports.push_back(t); });
      FakeClock clock;
      const std::uint32_t start = clock.now;
      app::TStartup startup(application, clock, TAMBLO_ASSET_DIR);

      bool splashShownBeforeCreation = false, splashHasName = false;
      std::optional<std::uint32_t> elapsedAtLoop;
      bool splashGoneAtLoop = false, exitMissed = false;
      const auto createForms = [&] {
        const app::TfSplash* splash = startup.Splash();
        splashShownBeforeCreation = splash && splash->Visible() && splash->PaintCount() > 0;
        splashHasName = splash && HasColour(splash->Screen(), clMaroon);
        EXPECT_EQ(application.Title, "Tamblo");
        clock.now += c.creationMs;
        app::CreateProgramForms(application, TAMBLO_ASSET_DIR, content.ProgramFile());
        application.Post([&] {
          elapsedAtLoop = clock.now - start;
          splashGoneAtLoop = startup.Splash() == nullptr;
          TForm* main = application.MainForm();
          Click(*main, 528 + 48, 352 + 24);  // the EXIT sign
          application.Post([&, main] {
            exitMissed = true;
            main->Close();
          });
        });
      };
      if (driver == TDriver::Run) {
        startup.Run(createForms);
      } else {
        startup.Begin(createForms);
        // A frame every millisecond; the splash must hold the main window back
        // until its time is up, and the loop must not start before.
        bool mainShownEarly = false;
        while (startup.Step()) {
          if (startup.Splash() && application.MainForm() && application.MainForm()->Visible()) mainShownEarly = true;
          clock.now += 1;
        }
        EXPECT_FALSE(mainShownEarly);
        EXPECT_EQ(clock.slept, 0u) << "a step slept";
      }

      EXPECT_TRUE(splashShownBeforeCreation);
      EXPECT_TRUE(splashHasName) << "the splash shows the product's name in maroon";
      ASSERT_TRUE(elapsedAtLoop.has_value());
      EXPECT_EQ(*elapsedAtLoop, c.expectedElapsed);
      EXPECT_TRUE(splashGoneAtLoop);
      EXPECT_FALSE(exitMissed) << "clicking EXIT did not end the loop";
      ASSERT_NE(application.MainForm(), nullptr);
      EXPECT_EQ(application.MainForm()->Name(), "fWrdCnst");
      EXPECT_TRUE(reports.empty()) << reports.front();
    }
  }
}

}  // namespace
