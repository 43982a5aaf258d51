#include "tests/e2e/machine_load.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace e2e {

Clock::duration WaitedToRun(int pid) {
  // The second field of each thread's schedstat, in ns.
  std::int64_t ns = 0;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task/";
  if (DIR* dir = opendir(tasks.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream in(tasks + entry->d_name + "/schedstat");
      std::int64_t on_cpu = 0, waited = 0;
      if (in >> on_cpu >> waited) ns += waited;
    }
    closedir(dir);
  }
  return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns));
}

Clock::duration CpuTime(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.empty()) return {};
  // After the command's name (which may hold spaces): state … cmajflt, then utime and stime.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;
  long utime = 0, stime = 0;
  fields >> utime >> stime;
  const double seconds =
      static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

long MemoryKb(int pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

void StallMeter::Sample() {
  const Clock::time_point now = Clock::now();
  const Clock::duration waited = waited_();
  if (at_) {
    const Clock::duration window = now - *at_, in_window = waited - last_;
    if (in_window * 2 > window) {
      run_ += in_window;  // mostly waiting: a stall goes on
    } else {
      lost_ += Excess(run_);
      run_ = {};
    }
  }
  at_ = now;
  last_ = waited;
}

Clock::duration StallMeter::Excess(Clock::duration run) {
  constexpr Clock::duration kLetGoAfter = Ms(100);
  return run > kLetGoAfter ? run - kLetGoAfter : Clock::duration{};
}

}  // namespace e2e
