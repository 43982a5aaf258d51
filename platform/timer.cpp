#include "platform/timer.h"

namespace platform {

Timer::Timer(TimerSchedule& schedule, int interval_ms, bool enabled, std::function<void()> on_tick)
    : schedule_(schedule), interval_(interval_ms * kNsPerMs), on_tick_(std::move(on_tick)) {
  SetEnabled(enabled);
}

void Timer::SetEnabled(bool enabled) {
  if (enabled && !enabled_) {
    start_ = schedule_.GetClock().Now();
    ticks_ = 0;
  }
  enabled_ = enabled;
}

Timer& TimerSchedule::Add(int interval_ms, bool enabled, std::function<void()> on_tick) {
  return timers_.emplace_back(*this, interval_ms, enabled, std::move(on_tick));
}

Nanoseconds TimerSchedule::NextDue() const {
  Nanoseconds due = kNever;
  for (const Timer& timer : timers_) {
    if (!timer.running_ && timer.Due() < due) due = timer.Due();
  }
  return due;
}

bool TimerSchedule::FireOneDue(Nanoseconds now) {
  Timer* next = nullptr;
  for (Timer& timer : timers_) {
    if (!timer.running_ && timer.Due() <= now && (next == nullptr || timer.Due() < next->Due())) {
      next = &timer;
    }
  }
  if (next == nullptr) return false;
  if (now - next->Due() > kStallIntervals * next->interval_) {
    next->start_ = now - next->interval_;
    next->ticks_ = 0;
  }
  ++next->ticks_;
  next->running_ = true;
  struct Release {
    Timer& timer;
    ~Release() { timer.running_ = false; }
  } release{*next};
  next->on_tick_();
  return true;
}

}  // namespace platform
