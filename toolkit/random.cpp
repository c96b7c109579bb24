#include "toolkit/random.h"

#include <chrono>
#include <optional>
#include <random>
#include <string>

#include "toolkit/test_hooks.h"

namespace toolkit {
namespace {

std::mt19937& Generator() {
  static std::mt19937 generator;
  return generator;
}

// A seed from the test hooks fixes every seeding, so a run can be replayed; read once.
std::optional<unsigned> FixedSeed() {
  static const std::optional<unsigned> seed = []() -> std::optional<unsigned> {
    const std::optional<std::string> text = HookSetting(THook::Seed);
    return text ? ParseSeed(*text) : std::nullopt;
  }();
  return seed;
}

}  // namespace

void Randomize() {
  if (const auto seed = FixedSeed()) return RandSeed(*seed);
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
