#pragma once
// Holds the content tables and their data sources; created before the main window
// and released after it.

#include "toolkit/component.h"

namespace toolkit {
class Application;
}

namespace content {

class TDataModule1 : public toolkit::TDataModule {
 public:
  explicit TDataModule1(toolkit::Application&) : TDataModule("DataModule1") {}
};

}  // namespace content
