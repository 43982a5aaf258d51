#include "tests/e2e/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace e2e {

namespace {

std::atomic<Clock::rep> worst_lateness{0};

// What a game leaves behind when it dies (its box's process, re-parented) must come to the
// test rather than to init, so that GroupGone can see it end and reap it. The setting is the
// whole test process's: made once, before the first child.
void AdoptOrphans() {
  static std::once_flag once;
  std::call_once(once, [] { prctl(PR_SET_CHILD_SUBREAPER, 1); });
}

}  // namespace

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Ms WorstWakeUpLateness() {
  return std::chrono::duration_cast<Ms>(Clock::duration(worst_lateness.load()));
}

void ResetWakeUpLateness() { worst_lateness = 0; }

std::string TempPath(const std::string& name) {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string tag =
      test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "";
  for (char& c : tag) {
    if (c == '/') c = '_';
  }
  return ::testing::TempDir() + "glomper-" + std::to_string(getpid()) + "-" + tag + "-" + name;
}

bool WaitFor(const std::function<bool()>& ready, Ms timeout, Ms step) {
  const auto end = Clock::now() + timeout;
  for (;;) {
    if (ready()) return true;
    if (Clock::now() >= end) return false;
    const auto before = Clock::now();
    std::this_thread::sleep_for(step);
    const Clock::rep late = (Clock::now() - before - step).count();
    Clock::rep seen = worst_lateness.load();
    while (late > seen && !worst_lateness.compare_exchange_weak(seen, late)) {
    }
  }
}

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& env_set,
                 const std::vector<std::string>& env_unset, const std::string& stderr_path) {
  AdoptOrphans();
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ != 0) return;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  setpgid(0, 0);  // Ctrl-C in the test's terminal reaches the test only
  for (const std::string& kv : env_set) putenv(strdup(kv.c_str()));
  for (const std::string& k : env_unset) unsetenv(k.c_str());
  const int null_fd = open("/dev/null", O_RDWR);
  dup2(null_fd, STDIN_FILENO);
  dup2(null_fd, STDOUT_FILENO);
  if (!stderr_path.empty()) {
    const int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(err, STDERR_FILENO);
  } else {
    dup2(null_fd, STDERR_FILENO);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

Process::Process(Process&& other) noexcept
    : pid_(other.pid_), status_(other.status_), core_(other.core_) {
  other.pid_ = -1;
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Stop();
    pid_ = other.pid_;
    status_ = other.status_;
    core_ = other.core_;
    other.pid_ = -1;
  }
  return *this;
}

Process::~Process() { Stop(); }

bool Process::GroupGone() {
  if (pid_ <= 0) return true;
  Running();  // the child's own status is its own to keep
  int raw = 0;
  for (pid_t reaped; (reaped = waitpid(-pid_, &raw, WNOHANG)) > 0;) {
    if (reaped == pid_) Ended(raw);
  }
  return kill(-pid_, 0) != 0 && errno == ESRCH;
}

bool Process::Running() {
  if (pid_ <= 0 || status_) return false;
  int raw = 0;
  const pid_t reaped = waitpid(pid_, &raw, WNOHANG);
  if (reaped == 0) return true;
  if (reaped == pid_) {
    Ended(raw);
  } else {
    // Not ours to wait for any more: its number may be another program's soon, never to be
    // signalled.
    status_ = -1;
  }
  return false;
}

void Process::Ended(int raw) {
  if (WIFEXITED(raw)) {
    status_ = WEXITSTATUS(raw);
  } else {
    status_ = 128 + WTERMSIG(raw);
    core_ = WCOREDUMP(raw);
  }
}

std::optional<int> Process::WaitExit(Ms timeout) {
  WaitFor([this] { return !Running(); }, timeout, Ms(2));
  return status_;
}

void Process::Signal(int sig) {
  if (Running()) kill(pid_, sig);
}

void Process::Stop() {
  if (!Running()) return;
  kill(pid_, SIGTERM);
  if (!WaitExit(Ms(2000))) {
    kill(pid_, SIGKILL);
    WaitExit(Ms(2000));
  }
}

void Process::StopGroup() {
  if (pid_ <= 0) return;
  const int group = pid_;
  kill(-group, SIGTERM);
  Stop();
  kill(-group, SIGKILL);  // what lingers: a bus's services
  GroupGone();            // reaps those we adopted
}

}  // namespace e2e
