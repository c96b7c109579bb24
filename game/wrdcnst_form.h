#pragma once
// The game's window and the program's main window.

#include <filesystem>

#include "toolkit/form.h"

namespace game {

class TfWrdCnst : public toolkit::TForm {
 public:
  TfWrdCnst(toolkit::Application& app, const std::filesystem::path& assetDir);

  void imgExitClick();

  // Components of the layout the game works with; owned by the form.
  toolkit::TImage* imgBack = nullptr;
  toolkit::TImage* imgWork = nullptr;
  toolkit::TImage* imgExit = nullptr;
  toolkit::TImage* imgNext = nullptr;
  toolkit::TTimer* Timer1 = nullptr;
};

}  // namespace game
