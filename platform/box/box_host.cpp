#include "platform/box/box_host.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

extern char** environ;

namespace platform {

namespace {

// A file descriptor closed when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  void Close() { Reset(); }

 private:
  int fd_;
};

// The box's process: killed and reaped however the wait ends, a thrown ProgramEnd included.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    Reap();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  void Reap() {
    while (pid_ > 0 && waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

 private:
  pid_t pid_;
};

bool Pipe(Fd& read_end, Fd& write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  read_end.Reset(fds[0]);
  write_end.Reset(fds[1]);
  return true;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The most a box may say: an answer is a few dozen bytes.
constexpr std::size_t kLongestAnswer = 4096;

}  // namespace

constexpr std::string_view kBoxRole = "glomper-box";

bool IsBoxRole(std::string_view argv0) {
  const std::size_t slash = argv0.rfind('/');
  return argv0.substr(slash == std::string_view::npos ? 0 : slash + 1) == kBoxRole;
}

BoxHost BoxHost::OfThisProgram() {
  int program = open("/proc/self/exe", O_PATH | O_CLOEXEC);
  if (program < 0) program = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  return BoxHost(program, std::string(kBoxRole));
}

BoxHost::BoxHost(int program, std::string role) : program_(program), role_(std::move(role)) {}

BoxHost::~BoxHost() {
  if (program_ >= 0) close(program_);
}

BoxHost::BoxHost(BoxHost&& other) noexcept
    : program_(std::exchange(other.program_, -1)), role_(std::move(other.role_)) {}

BoxResult BoxHost::Show(const BoxRequest& request, const BoxWatch& watch, BoxAnswer& answer) {
  if (program_ < 0) return BoxResult::kUnavailable;
  Fd request_read, request_write, answer_read, answer_write;
  const Fd null(open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (!Pipe(request_read, request_write) || !Pipe(answer_read, answer_write) || null.Get() < 0) {
    return BoxResult::kUnavailable;
  }
  // Everything the child needs is made before the fork: after it, only system calls.
  char* const argv[] = {role_.data(), nullptr};
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // a box must not outlive the game
    if (getppid() != parent) _exit(127);
    // What the toolkits print is theirs, not the game's: the box writes nowhere.
    if (dup2(request_read.Get(), STDIN_FILENO) < 0 || dup2(answer_write.Get(), STDOUT_FILENO) < 0 ||
        dup2(null.Get(), STDERR_FILENO) < 0) {
      _exit(127);
    }
    // Nothing else of the game's goes with it, whatever a library forgot to mark.
    syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
    fexecve(program_, argv, environ);
    _exit(127);
  }
  if (pid < 0) return BoxResult::kUnavailable;
  Child child(pid);
  request_read.Close();
  answer_write.Close();
  // A box that dies before reading its request makes the write fail, not the game.
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  const bool sent = WriteAll(request_write.Get(), Encode(request));
  sigaction(SIGPIPE, &previous, nullptr);
  request_write.Close();
  if (!sent) return BoxResult::kUnavailable;

  std::string said;
  std::vector<pollfd> fds = {{answer_read.Get(), POLLIN, 0}};
  for (int fd : watch.fds) fds.push_back({fd, POLLIN, 0});
  for (;;) {
    if (watch.quit) return BoxResult::kInterrupted;
    // A signal wakes the poll; the timeout covers one that lands just before it.
    const int ready = poll(fds.data(), fds.size(), 100);
    if (ready < 0 && errno != EINTR) return BoxResult::kUnavailable;
    bool spoke = false;
    for (std::size_t i = 1; ready > 0 && i < fds.size(); ++i) spoke = spoke || fds[i].revents != 0;
    if (watch.pump) watch.pump(spoke);
    if (ready <= 0 || fds[0].revents == 0) continue;
    char buffer[256];
    const ssize_t got = read(answer_read.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    said.append(buffer, static_cast<std::size_t>(got));
    if (said.size() > kLongestAnswer) return BoxResult::kUnavailable;
  }
  child.Reap();
  const std::optional<BoxAnswer> decoded = DecodeAnswer(said);
  if (!decoded) return BoxResult::kUnavailable;
  answer = *decoded;
  return BoxResult::kDismissed;
}

}  // namespace platform
