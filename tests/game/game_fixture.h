#pragma once
// The game window on tables made for the test, with every random draw
// scripted: each test says which numbers the draws answer, in order.

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "content/data_module.h"
#include "game/wrdcnst_form.h"
#include "media/image_library.h"
#include "tests/app/content_tables.h"
#include "toolkit/application.h"

namespace game::testing {

struct TScriptedGame {
  explicit TScriptedGame(const tamblo::testing::TWordLists& words = {})
      : content(std::make_unique<tamblo::testing::TContentDir>(words)) {
    media::TPictureLibrary::SetSearchDirectory(TAMBLO_RUNTIME_DIR);
    app.SetReporter([this](const std::string&, const std::string& text) { reports.push_back(text); });
    dm = &app.CreateForm<content::TDataModule1>();
    form = &app.CreateForm<TfWrdCnst>(TAMBLO_ASSET_DIR, *dm, content->ProgramFile());
    form->Reseed = [] {};
    form->Draw = [this](int n) {
      draws.push_back(n);
      if (script.empty()) {
        ADD_FAILURE() << "an unscripted draw of " << n;
        return 0;
      }
      const int value = script.front();
      script.pop_front();
      EXPECT_LT(value, n) << "scripted " << value << " for a draw of " << n;
      return value;
    };
  }

  // Starts a puzzle of the kind on the floor, with the draws given.
  void Puzzle(int mode, const std::vector<int>& values, int level = 1) {
    script.assign(values.begin(), values.end());
    draws.clear();
    form->FMode = mode;
    form->FLevel = level;
    form->NewPuzzle();
    EXPECT_TRUE(script.empty()) << script.size() << " scripted draws left over";
  }

  std::vector<std::string> Blocks() const {
    return {form->FBlockText.begin() + 1, form->FBlockText.begin() + 1 + form->FBlockCount};
  }

  std::unique_ptr<tamblo::testing::TContentDir> content;
  toolkit::Application app;
  std::vector<std::string> reports;
  content::TDataModule1* dm = nullptr;
  TfWrdCnst* form = nullptr;
  std::deque<int> script;
  std::vector<int> draws;  // the n of every draw made
};

}  // namespace game::testing
