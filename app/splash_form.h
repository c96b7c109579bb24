#pragma once
// The splash window shown while the program starts. No behaviour of its own.

#include <filesystem>

#include "toolkit/form.h"

namespace app {

class TfSplash : public toolkit::TForm {
 public:
  TfSplash(toolkit::Application& app, const std::filesystem::path& assetDir);
};

}  // namespace app
