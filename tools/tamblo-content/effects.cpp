#include "tools/tamblo-content/effects.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace tamblo::content_tool {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Seeded so every build makes the same bytes.
class TNoise {
 public:
  explicit TNoise(std::uint32_t seed) : state_(seed ? seed : 1) {}
  double Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_ / 2147483648.0 - 1.0;
  }

 private:
  std::uint32_t state_;
};

// Biquad filters after the audio cookbook formulas.
class TFilter {
 public:
  static TFilter LowPass(double hz, double q) { return Make(hz, q, 0); }
  static TFilter BandPass(double hz, double q) { return Make(hz, q, 1); }
  static TFilter HighPass(double hz, double q) { return Make(hz, q, 2); }
  double Step(double x) {
    const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
    x2_ = x1_;
    x1_ = x;
    y2_ = y1_;
    y1_ = y;
    return y;
  }

 private:
  static TFilter Make(double hz, double q, int kind) {
    const double w = kTwoPi * hz / kTableRate;
    const double alpha = std::sin(w) / (2.0 * q);
    const double c = std::cos(w);
    TFilter f;
    const double a0 = 1.0 + alpha;
    if (kind == 0) {
      f.b0_ = (1.0 - c) / 2.0 / a0;
      f.b1_ = (1.0 - c) / a0;
      f.b2_ = f.b0_;
    } else if (kind == 1) {
      f.b0_ = alpha / a0;
      f.b1_ = 0.0;
      f.b2_ = -alpha / a0;
    } else {
      f.b0_ = (1.0 + c) / 2.0 / a0;
      f.b1_ = -(1.0 + c) / a0;
      f.b2_ = f.b0_;
    }
    f.a1_ = -2.0 * c / a0;
    f.a2_ = (1.0 - alpha) / a0;
    return f;
  }
  double b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
  double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

class TMix {
 public:
  explicit TMix(double seconds) : samples_(static_cast<std::size_t>(seconds * kTableRate), 0.0) {}
  std::size_t Size() const { return samples_.size(); }
  double& At(std::size_t i) { return samples_[i]; }
  std::size_t Index(double seconds) const {
    return std::min(samples_.size(), static_cast<std::size_t>(std::max(0.0, seconds) * kTableRate));
  }

  // One mode of a struck body: a sine dying away exponentially, with a
  // millisecond's rise so the strike itself does not click.
  void Mode(double start, double hz, double amplitude, double decay, double attack = 0.001) {
    for (std::size_t i = Index(start); i < samples_.size(); ++i) {
      const double t = static_cast<double>(i) / kTableRate - start;
      const double envelope = std::exp(-t / decay) * (t < attack ? t / attack : 1.0);
      if (envelope < 1e-5 && t > attack) break;
      samples_[i] += amplitude * envelope * std::sin(kTwoPi * hz * t);
    }
  }

  // The contact of a strike: filtered noise, gone in a few milliseconds.
  void Burst(double start, double length, double amplitude, double hz, double q, std::uint32_t seed) {
    TNoise noise(seed);
    TFilter band = TFilter::BandPass(hz, q);
    const std::size_t from = Index(start), to = Index(start + length * 6.0);
    for (std::size_t i = from; i < to; ++i) {
      const double t = static_cast<double>(i - from) / kTableRate;
      const double envelope = std::exp(-t / length) * std::min(1.0, t / 0.0005);
      samples_[i] += amplitude * band.Step(noise.Next() * envelope);
    }
  }

  // An electric motor: a harmonic series on a shaft that spins up, runs and
  // spins down, its level following its speed.
  struct TMotor {
    double start, length, hz, amplitude;
    double spinUp = 0.3, spinDown = 0.3;
    int harmonics = 10;
    double rolloff = 1.3;   // harmonic k has 1 / k^rolloff
    double wobbleHz = 4.0;  // slow unevenness of the load
    double wobbleDepth = 0.004;
  };
  void Motor(const TMotor& m) {
    double phase = 0;
    const std::size_t from = Index(m.start), to = Index(m.start + m.length);
    for (std::size_t i = from; i < to; ++i) {
      const double t = static_cast<double>(i - from) / kTableRate;
      double speed = 1.0;
      if (t < m.spinUp) speed = Smooth(t / m.spinUp);
      if (t > m.length - m.spinDown) speed = std::min(speed, Smooth((m.length - t) / m.spinDown));
      const double hz =
          m.hz * (0.55 + 0.45 * speed) * (1.0 + m.wobbleDepth * std::sin(kTwoPi * m.wobbleHz * t));
      phase += kTwoPi * hz / kTableRate;
      double v = 0;
      for (int k = 1; k <= m.harmonics; ++k) v += std::sin(k * phase) / std::pow(k, m.rolloff);
      samples_[i] += m.amplitude * speed * speed * v;
    }
  }

  // Low rumble of wheels or a drum: noise through two low passes, swelling
  // with an envelope given as level per second.
  template <class Envelope>
  void Rumble(double start, double length, double hz, double amplitude, std::uint32_t seed,
              Envelope envelope) {
    TNoise noise(seed);
    TFilter first = TFilter::LowPass(hz, 0.7), second = TFilter::LowPass(hz, 0.7);
    const std::size_t from = Index(start), to = Index(start + length);
    for (std::size_t i = from; i < to; ++i) {
      const double t = static_cast<double>(i - from) / kTableRate;
      samples_[i] += amplitude * envelope(t) * second.Step(first.Step(noise.Next()));
    }
  }

  // Takes the edge off everything above `hz`.
  void Soften(double hz) {
    TFilter first = TFilter::LowPass(hz, 0.7071), second = TFilter::LowPass(hz, 0.7071);
    for (double& s : samples_) s = second.Step(first.Step(s));
  }
  // Removes what a speaker cannot play and would only waste headroom.
  void DropSubsonic(double hz) {
    TFilter high = TFilter::HighPass(hz, 0.7071);
    for (double& s : samples_) s = high.Step(s);
  }

  TSound Sound() const {
    TSound sound;
    sound.rate = kTableRate;
    sound.samples.assign(samples_.begin(), samples_.end());
    return sound;
  }

  static double Smooth(double x) {
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3.0 - 2.0 * x);
  }

 private:
  std::vector<double> samples_;
};

// The trolley runs along the jib for as long as the longest sideways travel
// (about five seconds); the game stops it when the hook arrives.
TSound Trolley() {
  TMix mix(5.0);
  mix.Motor({.start = 0.0,
             .length = 5.0,
             .hz = 110.0,
             .amplitude = 0.30,
             .spinUp = 0.35,
             .spinDown = 0.45,
             .harmonics = 16,
             .rolloff = 1.1,
             .wobbleHz = 3.1,
             .wobbleDepth = 0.006});
  // Gear mesh: a quiet tone well above the motor, kept low enough not to whine.
  mix.Motor({.start = 0.0,
             .length = 5.0,
             .hz = 110.0 * 5.5,
             .amplitude = 0.035,
             .spinUp = 0.35,
             .spinDown = 0.45,
             .harmonics = 2,
             .rolloff = 2.0,
             .wobbleHz = 3.1,
             .wobbleDepth = 0.006});
  // Wheels on the rail: rumble, and a soft bump at each rail joint.
  mix.Rumble(0.0, 5.0, 260.0, 0.9, 11,
             [](double t) { return TMix::Smooth(t / 0.4) * TMix::Smooth((5.0 - t) / 0.45); });
  for (double t = 0.55; t < 4.5; t += 0.62) {
    mix.Mode(t, 180.0, 0.10, 0.030, 0.003);
    mix.Mode(t + 0.09, 175.0, 0.07, 0.030, 0.003);
  }
  mix.Soften(2600.0);
  mix.DropSubsonic(45.0);
  return mix.Sound();
}

// The winch drum turns under load while the cable winds on or off. A lift
// or a lowering takes 1.6 to 2.1 seconds and the game then stops the sound
// into silence, so the winch runs down by itself at about two seconds
// instead of being cut off.
TSound Winch() {
  const double length = 2.0;
  TMix mix(length);
  mix.Motor({.start = 0.0,
             .length = length,
             .hz = 80.0,
             .amplitude = 0.32,
             .spinUp = 0.25,
             .spinDown = 0.5,
             .harmonics = 18,
             .rolloff = 1.05,
             .wobbleHz = 5.3,
             .wobbleDepth = 0.008});
  // Each turn of the cable over the drum: a small, dull tick.
  for (double t = 0.18; t < length - 0.4; t += 0.085) {
    const double level = 0.05 * TMix::Smooth((t - 0.1) / 0.3) * TMix::Smooth((length - 0.4 - t) / 0.3);
    mix.Burst(t, 0.003, level * 6.0, 1400.0, 2.0, static_cast<std::uint32_t>(t * 1000) + 7);
  }
  mix.Rumble(0.0, length, 180.0, 0.8, 23,
             [length](double t) { return TMix::Smooth(t / 0.25) * TMix::Smooth((length - t) / 0.5); });
  mix.Soften(2400.0);
  mix.DropSubsonic(45.0);
  return mix.Sound();
}

// A hollow wooden block: a strong low body mode and a few quickly dying
// upper ones, struck once.
TSound Knock() {
  TMix mix(0.40);
  mix.Burst(0.005, 0.0015, 0.5, 1800.0, 1.2, 31);
  mix.Mode(0.005, 310.0, 0.55, 0.070);
  mix.Mode(0.005, 520.0, 0.45, 0.050);
  mix.Mode(0.005, 1190.0, 0.22, 0.028);
  mix.Mode(0.005, 2050.0, 0.10, 0.015);
  mix.Soften(4500.0);
  mix.DropSubsonic(60.0);
  return mix.Sound();
}

// The grip's two jaws closing on a block, a hair apart: inharmonic metal
// modes, damped by the block, with a dull thud under them.
TSound Grip() {
  TMix mix(0.35);
  const double hits[] = {0.005, 0.040};
  const double levels[] = {0.8, 1.0};
  for (int h = 0; h < 2; ++h) {
    const double t = hits[h], a = levels[h];
    mix.Burst(t, 0.0012, 0.5 * a, 3000.0, 1.0, 41 + static_cast<std::uint32_t>(h));
    mix.Mode(t, 180.0, 0.30 * a, 0.040);
    mix.Mode(t, 1230.0 + 40.0 * h, 0.22 * a, 0.060);
    mix.Mode(t, 1870.0 + 55.0 * h, 0.16 * a, 0.050);
    mix.Mode(t, 2760.0, 0.09 * a, 0.040);
    mix.Mode(t, 3980.0, 0.04 * a, 0.030);
  }
  mix.Soften(5000.0);
  mix.DropSubsonic(60.0);
  return mix.Sound();
}

// A block seating in the word: a light snap, then a short wooden "tock".
TSound Snap() {
  TMix mix(0.28);
  mix.Burst(0.004, 0.0010, 0.6, 2400.0, 1.5, 53);
  mix.Mode(0.004, 1650.0, 0.12, 0.012);
  mix.Burst(0.030, 0.0015, 0.4, 1500.0, 1.2, 59);
  mix.Mode(0.030, 640.0, 0.45, 0.050);
  mix.Mode(0.030, 1010.0, 0.25, 0.035);
  mix.Mode(0.030, 230.0, 0.30, 0.060);
  mix.Soften(5000.0);
  mix.DropSubsonic(60.0);
  return mix.Sound();
}

// A floor going up takes 2.3 seconds: hammer blows on wood and steel over a
// small machine, all settled before the game stops it.
TSound Building() {
  const double length = 2.3;
  TMix mix(length);
  mix.Motor({.start = 0.15,
             .length = 1.85,
             .hz = 118.0,
             .amplitude = 0.10,
             .spinUp = 0.3,
             .spinDown = 0.4,
             .harmonics = 16,
             .rolloff = 1.0,
             .wobbleHz = 9.0,
             .wobbleDepth = 0.02});
  struct THit {
    double at, level;
    bool steel;
  };
  const THit hits[] = {{0.02, 0.9, false}, {0.38, 1.0, false}, {0.74, 0.85, true},
                       {1.12, 1.0, false}, {1.44, 0.9, false}, {1.75, 0.8, true}};
  std::uint32_t seed = 71;
  for (const THit& h : hits) {
    mix.Burst(h.at, 0.002, 0.5 * h.level, 2000.0, 1.0, seed++);
    mix.Mode(h.at, 140.0, 0.40 * h.level, 0.045);
    if (h.steel) {
      mix.Mode(h.at, 1480.0, 0.16 * h.level, 0.080);
      mix.Mode(h.at, 2330.0, 0.08 * h.level, 0.050);
    } else {
      mix.Mode(h.at, 420.0, 0.35 * h.level, 0.050);
      mix.Mode(h.at, 980.0, 0.16 * h.level, 0.030);
    }
  }
  mix.Soften(4000.0);
  mix.DropSubsonic(50.0);
  return mix.Sound();
}

struct TRecipe {
  const char* name;
  TSound (*make)();
};
constexpr TRecipe kRecipes[] = {{"trolley", Trolley}, {"winch", Winch}, {"knock", Knock},
                                {"grip", Grip},       {"snap", Snap},   {"building", Building}};

}  // namespace

bool IsRecipe(const std::string& name) {
  for (const TRecipe& r : kRecipes)
    if (name == r.name) return true;
  return false;
}

std::string RecipeNames() {
  std::string names;
  for (const TRecipe& r : kRecipes) names += (names.empty() ? "" : ", ") + std::string(r.name);
  return names;
}

TSound SynthesizeEffect(const std::string& recipe) {
  for (const TRecipe& r : kRecipes)
    if (recipe == r.name) return r.make();
  return {};
}

}  // namespace tamblo::content_tool
