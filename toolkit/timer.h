#pragma once
// A tick event at a fixed interval, delivered by the application's message loop on
// the GUI thread. A late loop fires a timer once, never a burst of missed ticks.

#include <cstdint>
#include <functional>
#include <string>

namespace toolkit {

class TTimer {
 public:
  explicit TTimer(std::string name = {});
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  const std::string& Name() const { return name_; }
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);
  std::function<void()> OnTimer;

  // Milliseconds until the next due timer (UINT32_MAX when none runs).
  static std::uint32_t MillisecondsToNext(std::uint32_t now);
  // Fires every due timer through `deliver`, which runs the handler guarded.
  static void FireDue(std::uint32_t now, const std::function<void(TTimer&)>& deliver);

 private:
  std::string name_;
  unsigned interval_ = 1000;
  bool enabled_ = false;
  std::uint32_t started_ = 0;
};

// The millisecond tick counter; wraps after about 49 days, so compare differences.
std::uint32_t GetTickCount();

}  // namespace toolkit
