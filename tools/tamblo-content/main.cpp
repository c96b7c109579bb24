#include <iostream>

#include "tools/tamblo-content/commands.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  return tamblo::content_tool::RunContentTool(args, std::cout, std::cerr);
}
