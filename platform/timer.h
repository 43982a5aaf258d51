#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>

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
// so lateness of one tick never shifts the next.
class Timer {
 public:
  Timer(TimerSchedule& schedule, int interval_ms, bool enabled, std::function<void()> on_tick);
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  bool Enabled() const { return enabled_; }
  // Enabling (re)starts the schedule from now.
  void SetEnabled(bool enabled);
  int Interval() const { return static_cast<int>(interval_ / kNsPerMs); }
  Nanoseconds Due() const { return enabled_ ? start_ + (ticks_ + 1) * interval_ : kNever; }

 private:
  friend class TimerSchedule;

  TimerSchedule& schedule_;
  Nanoseconds interval_;
  Nanoseconds start_ = 0;
  Nanoseconds ticks_ = 0;
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

  Timer& Add(int interval_ms, bool enabled, std::function<void()> on_tick);
  // Earliest due time of any enabled timer, or kNever.
  Nanoseconds NextDue() const;
  // Fires the earliest timer due at or before `now`, if any; returns whether one fired.
  // A callback is never re-entered.
  bool FireOneDue(Nanoseconds now);
  const Clock& GetClock() const { return clock_; }

 private:
  const Clock& clock_;
  std::deque<Timer> timers_;
};

}  // namespace platform
