#pragma once

#include <functional>
#include <optional>
#include <utility>

#include "tests/e2e/process.h"

// What this machine's load costs a process: time spent waiting for a processor, CPU time and
// memory, read from /proc.
namespace e2e {

// How long all threads of a process have waited for a processor (run-queue waits, in all).
Clock::duration WaitedToRun(int pid);
// User plus system CPU time of a process.
Clock::duration CpuTime(int pid);
// A memory figure of a process from /proc/PID/status, in kB (resident, or VmHWM: the peak);
// -1 if there is none.
long MemoryKb(int pid, const char* field = "VmRSS:");

// What a loaded machine can take from the game's clock. The clock catches up on ticks that
// run late, but lets go of a stall longer than ten ticks: only while the game (or the X
// server it waits on) sat waiting for a processor for more than 100 ms on end is time lost.
// Sampled every few tens of milliseconds, runs of samples spent mostly waiting make a stall.
class StallMeter {
 public:
  explicit StallMeter(std::function<Clock::duration()> waited) : waited_(std::move(waited)) {}
  void Sample();
  // At most how much time stalls cost the game's clock so far.
  Clock::duration Lost() const { return lost_ + Excess(run_); }

 private:
  static Clock::duration Excess(Clock::duration run);
  std::function<Clock::duration()> waited_;
  std::optional<Clock::time_point> at_;
  Clock::duration last_{}, run_{}, lost_{};
};

}  // namespace e2e
