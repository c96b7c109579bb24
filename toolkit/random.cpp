#include "toolkit/random.h"

#include <chrono>
#include <random>

namespace toolkit {
namespace {

std::mt19937& Generator() {
  static std::mt19937 generator;
  return generator;
}

}  // namespace

void Randomize() {
  using namespace std::chrono;
  auto now = system_clock::now().time_since_epoch();
  auto msOfDay = duration_cast<milliseconds>(now).count() % (24LL * 60 * 60 * 1000);
  RandSeed(static_cast<unsigned>(msOfDay));
}

void RandSeed(unsigned seed) { Generator().seed(seed); }

int Random(int n) {
  if (n <= 0) return 0;
  return std::uniform_int_distribution<int>(0, n - 1)(Generator());
}

}  // namespace toolkit
