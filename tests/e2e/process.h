#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The programs a test starts and the waiting it does for them.
namespace e2e {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

std::string ReadTextFile(const std::string& path);

// A file name in the temporary folder that no other test, and no other run of the tests on
// this machine, uses at the same time.
std::string TempPath(const std::string& name);

// Waits until `ready` holds or `timeout` passes; returns whether it held.
bool WaitFor(const std::function<bool()>& ready, Ms timeout, Ms step = Ms(10));

// The most any of WaitFor's sleeps overran since the last reset: how late this machine wakes
// a process up now, the allowance a timing check must give the game as well as the test.
Ms WorstWakeUpLateness();
void ResetWakeUpLateness();

// A child process that dies with the test, in a process group of its own.
class Process {
 public:
  Process() = default;
  Process(const std::vector<std::string>& argv, const std::vector<std::string>& env_set,
          const std::vector<std::string>& env_unset, const std::string& stderr_path = "");
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  ~Process();

  int Pid() const { return pid_; }
  bool Running();
  // Exit status, or 128 + signal (-1 if someone else collected it); nullopt if it did not
  // end in time.
  std::optional<int> WaitExit(Ms timeout);
  bool DumpedCore() const { return core_; }
  void Signal(int sig);
  void Stop();  // SIGTERM, then SIGKILL if it lingers
  // Ends the child and everything in its process group: a bus, a compositor and what they
  // started.
  void StopGroup();
  // Whether every process the child started, however re-parented, has ended (they share
  // its process group; the test process adopts orphans).
  bool GroupGone();

 private:
  void Ended(int raw);

  int pid_ = -1;
  std::optional<int> status_;
  bool core_ = false;
};

}  // namespace e2e
