#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace platform {

using Nanoseconds = std::int64_t;
inline constexpr Nanoseconds kNever = std::numeric_limits<Nanoseconds>::max();
inline constexpr Nanoseconds kNsPerMs = 1'000'000;

// A monotonic clock: real on the screen, moved by hand in tests.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual Nanoseconds Now() const = 0;
};

class TimerSchedule;

// A periodic callback on the window's thread. Its n-th tick is due at start + n × interval,
// so lateness of one tick never shifts the next. The timer belongs to whoever holds it (the
// window whose handler it calls): destroying it takes it off the schedule, so no tick can
// reach a handler whose owner is gone.
class Timer {
 public:
  Timer(TimerSchedule& schedule, int interval_ms, bool enabled, std::function<void()> on_tick);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  bool Enabled() const { return enabled_; }
  // Enabling a disabled timer starts its schedule from now; enabling an enabled one changes
  // nothing.
  void SetEnabled(bool enabled);
  int Interval() const { return static_cast<int>(interval_ / kNsPerMs); }
  Nanoseconds Due() const { return enabled_ ? start_ + (ticks_ + 1) * interval_ : kNever; }

 private:
  friend class TimerSchedule;

  TimerSchedule& schedule_;
  Nanoseconds interval_;
  Nanoseconds start_ = 0;
  std::int64_t ticks_ = 0;  // fired since start_
  bool enabled_ = false;
  bool running_ = false;
  std::function<void()> on_tick_;
};

class TimerSchedule {
 public:
  // A timer further behind than this many intervals (a suspended machine, a debugger)
  // resumes from now instead of firing the missed ticks in a burst.
  static constexpr int kStallIntervals = 10;

  explicit TimerSchedule(const Clock& clock) : clock_(clock) {}
  TimerSchedule(const TimerSchedule&) = delete;
  TimerSchedule& operator=(const TimerSchedule&) = delete;

  // A timer on this schedule, owned by the caller: it ticks until it is destroyed.
  [[nodiscard]] Timer Add(int interval_ms, bool enabled, std::function<void()> on_tick) {
    return Timer(*this, interval_ms, enabled, std::move(on_tick));
  }
  // Earliest due time of any enabled timer, or kNever.
  Nanoseconds NextDue() const;
  // Fires the earliest timer due at or before `now`, if any; returns whether one fired.
  // A callback is never re-entered.
  bool FireOneDue(Nanoseconds now);
  const Clock& GetClock() const { return clock_; }

 private:
  friend class Timer;

  const Clock& clock_;
  std::vector<Timer*> timers_;  // in the order they were made
};

}  // namespace platform
