#include <iostream>

#include "tools/ledger/commands.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  return ledger::tool::RunLedger(args, std::cin, std::cout, std::cerr);
}
