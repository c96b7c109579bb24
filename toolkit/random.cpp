#include "toolkit/random.h"

#include <chrono>
#include <cstdint>
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

// The generator's output is the same everywhere, but the standard
// distributions are not: each C++ library maps it to a range its own way, so
// a seed dealt different puzzles on the desktop and in the browser. The
// mapping is ours: unbiased, by rejecting the top partial bucket.
int Random(int n) {
  if (n <= 0) return 0;
  constexpr std::uint64_t kOutputs = std::uint64_t{1} << 32;
  static_assert(std::mt19937::max() == kOutputs - 1 && std::mt19937::min() == 0);
  const std::uint64_t bucket = kOutputs / static_cast<std::uint64_t>(n);
  const std::uint64_t limit = bucket * static_cast<std::uint64_t>(n);
  std::uint64_t x;
  do x = Generator()(); while (x >= limit);
  return static_cast<int>(x / bucket);
}

}  // namespace toolkit
