#pragma once
// The game's window and the program's main window.

#include <filesystem>
#include <string>

#include "toolkit/form.h"

namespace content {
class TDataModule1;
}

namespace game {

class TfWrdCnst : public toolkit::TForm {
 public:
  // programFile: where the content tables are looked for, beside it; the
  // running program unless a test says otherwise.
  TfWrdCnst(toolkit::Application& app, const std::filesystem::path& assetDir,
            content::TDataModule1& dataModule, std::filesystem::path programFile = {});

  // Points every table at the program's directory and opens them.
  void FormCreate();
  void imgExitClick();

  content::TDataModule1& DataModule1;

  // Components of the layout the game works with; owned by the form.
  toolkit::TImage* imgBack = nullptr;
  toolkit::TImage* imgWork = nullptr;
  toolkit::TImage* imgExit = nullptr;
  toolkit::TImage* imgNext = nullptr;
  toolkit::TTimer* Timer1 = nullptr;

  // Directory of the table files.
  std::string FDataDir;

 private:
  std::filesystem::path programFile_;
};

}  // namespace game
