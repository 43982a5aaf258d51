#include "platform/timer.h"

#include <algorithm>

namespace platform {

Timer::Timer(TimerSchedule& schedule, int interval_ms, bool enabled, std::function<void()> on_tick)
    : schedule_(schedule), interval_(interval_ms * kNsPerMs), on_tick_(std::move(on_tick)) {
  SetEnabled(enabled);
  schedule_.timers_.push_back(this);
}

Timer::~Timer() { std::erase(schedule_.timers_, this); }

void Timer::SetEnabled(bool enabled) {
  if (enabled && !enabled_) {
    start_ = schedule_.GetClock().Now();
    ticks_ = 0;
  }
  enabled_ = enabled;
}

Nanoseconds TimerSchedule::NextDue() const {
  Nanoseconds due = kNever;
  for (const Timer* timer : timers_) {
    if (!timer->running_ && timer->Due() < due) due = timer->Due();
  }
  return due;
}

bool TimerSchedule::FireOneDue(Nanoseconds now) {
  Timer* next = nullptr;
  for (Timer* timer : timers_) {
    if (!timer->running_ && timer->Due() <= now &&
        (next == nullptr || timer->Due() < next->Due())) {
      next = timer;
    }
  }
  if (next == nullptr) return false;
  if (now - next->Due() > kStallIntervals * next->interval_) {
    next->start_ = now - next->interval_;
    next->ticks_ = 0;
  }
  ++next->ticks_;
  next->running_ = true;
  // The handler may end the program by throwing; the timer is free to fire again afterwards.
  struct Release {
    Timer& timer;
    ~Release() { timer.running_ = false; }
  } release{*next};
  next->on_tick_();
  return true;
}

}  // namespace platform
