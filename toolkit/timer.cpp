#include "toolkit/timer.h"

#include <SDL.h>

#include <algorithm>
#include <vector>

namespace toolkit {
namespace {

std::vector<TTimer*>& Running() {
  static std::vector<TTimer*> timers;
  return timers;
}

}  // namespace

std::uint32_t GetTickCount() { return SDL_GetTicks(); }

TTimer::TTimer(std::string name) : name_(std::move(name)) {}

TTimer::~TTimer() { SetEnabled(false); }

void TTimer::SetInterval(unsigned ms) {
  interval_ = ms;
  if (enabled_) started_ = GetTickCount();
}

void TTimer::SetEnabled(bool on) {
  auto& timers = Running();
  if (on && !enabled_) timers.push_back(this);
  if (!on && enabled_) timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
  enabled_ = on;
  if (on) started_ = GetTickCount();
}

std::uint32_t TTimer::MillisecondsToNext(std::uint32_t now) {
  std::uint32_t next = UINT32_MAX;
  for (TTimer* t : Running()) {
    if (t->interval_ == 0) continue;
    std::uint32_t elapsed = now - t->started_;
    next = std::min(next, elapsed >= t->interval_ ? 0u : t->interval_ - elapsed);
  }
  return next;
}

void TTimer::FireDue(std::uint32_t now, const std::function<void(TTimer&)>& deliver) {
  // A handler may start or stop timers (itself included), so work on a snapshot.
  std::vector<TTimer*> snapshot = Running();
  for (TTimer* t : snapshot) {
    auto& timers = Running();
    if (std::find(timers.begin(), timers.end(), t) == timers.end()) continue;
    if (t->interval_ == 0 || now - t->started_ < t->interval_) continue;
    t->started_ = now;
    if (t->OnTimer) deliver(*t);
  }
}

}  // namespace toolkit
