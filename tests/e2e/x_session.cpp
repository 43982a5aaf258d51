// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>
// clang-format off
#include "tests/e2e/x_session.h"
// clang-format on

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#ifndef GLOMPER_BINARY
#error "GLOMPER_BINARY must name the game binary"
#endif

namespace e2e {

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

namespace {
std::atomic<Clock::rep> worst_lateness{0};
}  // namespace

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

// ---- Process ----

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& env_set,
                 const std::vector<std::string>& env_unset, const std::string& stderr_path) {
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
  while (waitpid(-pid_, nullptr, WNOHANG) > 0) {
  }
  return kill(-pid_, 0) != 0 && errno == ESRCH;
}

bool Process::Running() {
  if (pid_ <= 0 || status_) return false;
  int raw = 0;
  if (waitpid(pid_, &raw, WNOHANG) != pid_) return true;
  if (WIFEXITED(raw)) {
    status_ = WEXITSTATUS(raw);
  } else {
    status_ = 128 + WTERMSIG(raw);
    core_ = WCOREDUMP(raw);
  }
  return false;
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

// ---- Screenshot ----

namespace {

void PutBe32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  PutBe32(png, static_cast<std::uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  png += body;
  PutBe32(png, static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

}  // namespace

bool Screenshot::SavePng(const std::string& path) const {
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = At(x, y);
      raw += static_cast<char>(p >> 16);
      raw += static_cast<char>(p >> 8);
      raw += static_cast<char>(p);
    }
  }
  uLongf size = compressBound(raw.size());
  std::string packed(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 9) != Z_OK) {
    return false;
  }
  packed.resize(size);
  std::string header;
  PutBe32(header, static_cast<std::uint32_t>(width));
  PutBe32(header, static_cast<std::uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);
  std::string png = "\x89PNG\r\n\x1a\n";
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", packed);
  Chunk(png, "IEND", "");
  std::ofstream out(path, std::ios::binary);
  out << png;
  return static_cast<bool>(out);
}

Screenshot Screenshot::Crop(int x, int y, int w, int h) const {
  Screenshot part;
  part.width = w;
  part.height = h;
  part.from = from;
  part.to = to;
  part.pixels.reserve(static_cast<std::size_t>(w) * h);
  for (int row = y; row < y + h; ++row) {
    for (int column = x; column < x + w; ++column) part.pixels.push_back(At(column, row));
  }
  return part;
}

// ---- XSession ----

namespace {

int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

std::string ReadLineFrom(int fd, Ms timeout) {
  std::string line;
  const auto end = Clock::now() + timeout;
  while (Clock::now() < end) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 50) <= 0) continue;
    char c;
    if (read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line += c;
  }
  return "";
}

std::string TextProperty(Display* d, Window w, Atom property, Atom type) {
  Atom actual;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string text;
  if (XGetWindowProperty(d, w, property, 0, 1024, False, type, &actual, &format, &count, &after,
                         &data) == Success &&
      data != nullptr) {
    if (actual != None && format == 8) text.assign(reinterpret_cast<char*>(data), count);
    XFree(data);
  }
  return text;
}

long CardinalProperty(Display* d, Window w, Atom property, Atom type = XA_CARDINAL) {
  Atom actual;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  long value = -1;
  if (XGetWindowProperty(d, w, property, 0, 1, False, type, &actual, &format, &count, &after,
                         &data) == Success &&
      data != nullptr) {
    if (count == 1 && format == 32) value = *reinterpret_cast<long*>(data);
    XFree(data);
  }
  return value;
}

}  // namespace

std::string DesktopName(Desktop desktop) {
  switch (desktop) {
    case Desktop::kNone:
      return "none";
    case Desktop::kOpenbox:
      return "openbox";
    case Desktop::kXfwm4:
      return "xfwm4";
    case Desktop::kI3:
      return "i3";
    case Desktop::kMutter:
      return "mutter";
    case Desktop::kKwin:
      return "kwin_x11";
    case Desktop::kFluxbox:
      return "fluxbox";
    case Desktop::kIcewm:
      return "icewm";
    case Desktop::kMetacity:
      return "metacity";
  }
  return "?";
}

XSession::XSession(int width, int height, Desktop desktop, int depth,
                   const std::vector<std::pair<int, int>>& monitors)
    : width_(width), height_(height), desktop_(desktop) {
  XSetErrorHandler(IgnoreXErrors);
  // What the game leaves behind when it dies comes to us, to be seen and reaped.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  char dir[] = "/tmp/glomper-session.XXXXXX";
  if (mkdtemp(dir) == nullptr) return;
  dir_ = dir;
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (desktop == Desktop::kMutter) {
    // Mutter starts Xwayland on a display of its choosing, with a cookie; the command it runs
    // once ready tells both.
    std::vector<std::string> argv = {"dbus-run-session", "--", "mutter", "--headless", "--wayland"};
    for (const auto& [w, h] : monitors) {
      argv.insert(argv.end(), {"--virtual-monitor", std::to_string(w) + "x" + std::to_string(h)});
    }
    if (monitors.empty()) argv.insert(argv.end(), {"--virtual-monitor", size});
    argv.insert(argv.end(), {"--", "sh", "-c",
                             "cd \"$XDG_RUNTIME_DIR\" && echo \"$XAUTHORITY\" > xauth && "
                             "echo \"${DISPLAY#:}\" > display.new && mv display.new display && "
                             "exec sleep 100000"});
    server_ = Process(argv, {"XDG_RUNTIME_DIR=" + dir_, "NO_AT_BRIDGE=1"},
                      {"DISPLAY", "WAYLAND_DISPLAY"}, dir_ + "/wm.log");
    std::string number;
    WaitFor([&] { return !(number = ReadTextFile(dir_ + "/display")).empty(); }, Ms(20000));
    if (number.empty()) return;
    number.erase(number.find_last_not_of('\n') + 1);
    name_ = ":" + number;
    authority_ = ReadTextFile(dir_ + "/xauth");
    authority_.erase(authority_.find_last_not_of('\n') + 1);
    if (!authority_.empty()) setenv("XAUTHORITY", authority_.c_str(), 1);
  } else {
    int fds[2];
    if (pipe(fds) != 0) return;
    server_ = Process({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                       size + "x" + std::to_string(depth), "-nolisten", "tcp", "-noreset"},
                      {}, {});
    close(fds[1]);
    const std::string number = ReadLineFrom(fds[0], Ms(10000));
    close(fds[0]);
    if (number.empty()) return;
    name_ = ":" + number;
  }
  display_ = XOpenDisplay(name_.c_str());
  if (display_ == nullptr) return;
  if (desktop == Desktop::kMutter) {
    if (!WaitForWindowManager()) {
      XCloseDisplay(display_);
      display_ = nullptr;
    }
  } else if (desktop != Desktop::kNone && !StartWindowManager()) {
    XCloseDisplay(display_);
    display_ = nullptr;
  }
}

bool XSession::WaitForWindowManager() {
  const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
  const Atom selection = XInternAtom(display_, "WM_S0", False);
  const bool named = WaitFor(
      [&] {
        Atom actual;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        XGetWindowProperty(display_, DefaultRootWindow(display_), check, 0, 1, False, XA_WINDOW,
                           &actual, &format, &count, &after, &data);
        const bool has_check = data != nullptr && count == 1;
        if (data) XFree(data);
        // Fluxbox names itself but never takes the selection.
        return has_check &&
               (desktop_ == Desktop::kFluxbox || XGetSelectionOwner(display_, selection) != None);
      },
      Ms(20000));
  // It names itself before it manages windows, and a window mapped in between can stay
  // unmapped for good: it is ready once a window of ours gets framed.
  return named && WaitFor(
                      [&] {
                        const Window probe = XCreateSimpleWindow(
                            display_, DefaultRootWindow(display_), 0, 0, 10, 10, 0, 0, 0);
                        XMapWindow(display_, probe);
                        XSync(display_, False);
                        const bool framed = WaitFor(
                            [&] {
                              Window root, parent, *children = nullptr;
                              unsigned int n = 0;
                              if (!XQueryTree(display_, probe, &root, &parent, &children, &n)) {
                                return false;
                              }
                              if (children) XFree(children);
                              return parent != root;
                            },
                            Ms(200), Ms(5));
                        XDestroyWindow(display_, probe);
                        XSync(display_, False);
                        return framed;
                      },
                      Ms(20000), Ms(1));
}

bool XSession::StartWindowManager() {
  if (display_ == nullptr || window_manager_.Running()) return false;
  const std::vector<std::string> env = ClientEnvironment();
  switch (desktop_) {
    case Desktop::kOpenbox:
      window_manager_ = Process({"openbox", "--sm-disable"}, env, {}, dir_ + "/wm.log");
      break;
    case Desktop::kXfwm4:
      // Its settings come from xfconfd, which it reaches on a session bus.
      window_manager_ = Process({"dbus-run-session", "--", "xfwm4", "--compositor=off"}, env, {},
                                dir_ + "/wm.log");
      break;
    case Desktop::kI3: {
      const std::string config = dir_ + "/i3.config";
      std::ofstream(config) << "# i3 config file (v4)\nfont fixed\n";
      window_manager_ = Process({"i3", "-c", config}, env, {}, dir_ + "/wm.log");
      break;
    }
    // KDE's and GNOME's older window manager read their settings over a session bus.
    case Desktop::kKwin:
      window_manager_ = Process({"dbus-run-session", "--", "kwin_x11"}, env, {}, dir_ + "/wm.log");
      break;
    case Desktop::kMetacity:
      window_manager_ = Process({"dbus-run-session", "--", "metacity"}, env, {}, dir_ + "/wm.log");
      break;
    case Desktop::kFluxbox:
      window_manager_ = Process({"fluxbox"}, env, {}, dir_ + "/wm.log");
      break;
    case Desktop::kIcewm:
      window_manager_ = Process({"icewm"}, env, {}, dir_ + "/wm.log");
      break;
    case Desktop::kNone:
    case Desktop::kMutter:
      return false;
  }
  return WaitForWindowManager();
}

bool XSession::StopWindowManager() {
  if (!window_manager_.Running()) return false;
  // Its whole process group: xfwm4, kwin_x11 and metacity run under a bus of their own.
  const int group = window_manager_.Pid();
  kill(-group, SIGTERM);
  window_manager_.Stop();
  kill(-group, SIGKILL);  // what its bus started: xfconfd
  if (display_ == nullptr) return true;
  return WaitFor(
      [&] { return XGetSelectionOwner(display_, XInternAtom(display_, "WM_S0", False)) == None; },
      Ms(10000));
}

std::vector<std::string> XSession::ClientEnvironment() const {
  // No accessibility bus: it would outlive the session.
  std::vector<std::string> env = {"DISPLAY=" + name_, "NO_AT_BRIDGE=1"};
  if (!authority_.empty()) env.push_back("XAUTHORITY=" + authority_);
  return env;
}

bool XSession::RunClient(const std::vector<std::string>& argv) {
  Process client(argv, ClientEnvironment(), {"WAYLAND_DISPLAY"}, dir_ + "/client.log");
  return client.WaitExit(Ms(20000)) == 0;
}

bool XSession::ResizeScreen(int width, int height) {
  const std::string w = std::to_string(width), h = std::to_string(height);
  const std::string mode = "glomper" + w + "x" + h;
  if (!RunClient({"xrandr", "--newmode", mode, "60", w, w, w, w, h, h, h, h}) ||
      !RunClient({"xrandr", "--addmode", "screen", mode}) ||
      !RunClient({"xrandr", "--output", "screen", "--mode", mode, "--fb", w + "x" + h})) {
    return false;
  }
  width_ = width;
  height_ = height;
  return true;
}

XSession::~XSession() {
  StopWindowManager();
  if (display_ != nullptr) XCloseDisplay(display_);
  // A compositor's session is a family: the bus, mutter, Xwayland and the command it runs.
  const int group = server_.Pid();
  if (group > 0 && desktop_ == Desktop::kMutter) kill(-group, SIGTERM);
  server_.Stop();
  if (group > 0 && desktop_ == Desktop::kMutter) kill(-group, SIGKILL);
  if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

std::string XSession::GameBinary() {
  const char* override = std::getenv("GLOMPER_BINARY");
  return override != nullptr && *override ? override : GLOMPER_BINARY;
}

Process XSession::StartGame(const std::string& stderr_path, const std::vector<std::string>& under,
                            const std::vector<std::string>& env) {
  std::vector<std::string> argv = under;
  argv.push_back(GameBinary());
  std::vector<std::string> set = ClientEnvironment();
  set.insert(set.end(), env.begin(), env.end());
  return Process(argv, set, {"WAYLAND_DISPLAY"}, stderr_path);
}

Process XSession::StartGame(Box box, const std::string& stderr_path,
                            const std::vector<std::string>& env) {
  switch (box) {
    case Box::kGtk:
      break;
    case Box::kNoGtk: {
      std::vector<std::string> hidden = env;
      hidden.emplace_back("LD_PRELOAD=" GLOMPER_HIDE_GTK);
      return StartGame(stderr_path, {}, hidden);
    }
    case Box::kGtkStarved:
      return StartGame(stderr_path, {"sh", "-c", "ulimit -v 100000 && exec \"$0\""}, env);
  }
  return StartGame(stderr_path, {}, env);
}

void XSession::WatchStartupMessages() {
  XSelectInput(display_, DefaultRootWindow(display_), PropertyChangeMask);
  XSync(display_, False);
}

std::vector<std::string> XSession::StartupMessages() {
  const Atom begin = XInternAtom(display_, "_NET_STARTUP_INFO_BEGIN", False);
  const Atom more = XInternAtom(display_, "_NET_STARTUP_INFO", False);
  XEvent e;
  while (XCheckTypedEvent(display_, ClientMessage, &e)) {
    if (e.xclient.format != 8 ||
        (e.xclient.message_type != begin && e.xclient.message_type != more)) {
      continue;
    }
    std::string& piece = startup_pieces_[e.xclient.window];
    if (e.xclient.message_type == begin) piece.clear();
    const char* bytes = e.xclient.data.b;
    const std::size_t length = std::find(bytes, bytes + 20, '\0') - bytes;
    piece.append(bytes, length);
    if (length < 20) {
      startup_messages_.push_back(piece);
      startup_pieces_.erase(e.xclient.window);
    }
  }
  return startup_messages_;
}

std::string XSession::StartupIdOf(Window window) {
  const Atom id = XInternAtom(display_, "_NET_STARTUP_ID", False);
  const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
  if (std::string own = TextProperty(display_, window, id, utf8); !own.empty()) return own;
  const long leader = CardinalProperty(display_, window,
                                       XInternAtom(display_, "WM_CLIENT_LEADER", False), XA_WINDOW);
  return leader > 0 ? TextProperty(display_, static_cast<Window>(leader), id, utf8) : "";
}

std::vector<WindowInfo> XSession::Windows() {
  std::vector<WindowInfo> found;
  const Atom net_name = XInternAtom(display_, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
  const Atom wm_state = XInternAtom(display_, "WM_STATE", False);
  std::function<void(Window)> walk = [&](Window w) {
    Window root, parent, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(display_, w, &root, &parent, &children, &n)) return;
    for (unsigned int i = 0; i < n; ++i) {
      const Window child = children[i];
      XWindowAttributes attributes;
      if (!XGetWindowAttributes(display_, child, &attributes)) continue;
      Atom actual;
      int format;
      unsigned long count, after;
      unsigned char* data = nullptr;
      XGetWindowProperty(display_, child, wm_state, 0, 2, False, wm_state, &actual, &format, &count,
                         &after, &data);
      const bool client = data != nullptr;
      if (data) XFree(data);
      const bool named = !TextProperty(display_, child, net_name, utf8).empty() ||
                         !TextProperty(display_, child, XA_WM_NAME, XA_STRING).empty();
      const bool has_pid =
          CardinalProperty(display_, child, XInternAtom(display_, "_NET_WM_PID", False)) > 0;
      if (client || named || has_pid || attributes.override_redirect) {
        WindowInfo info;
        info.id = child;
        info.title = TextProperty(display_, child, net_name, utf8);
        if (info.title.empty()) info.title = TextProperty(display_, child, XA_WM_NAME, XA_STRING);
        Window ignored;
        XTranslateCoordinates(display_, child, DefaultRootWindow(display_), 0, 0, &info.x, &info.y,
                              &ignored);
        info.width = attributes.width;
        info.height = attributes.height;
        info.viewable = attributes.map_state == IsViewable;
        found.push_back(info);
      }
      walk(child);
    }
    if (children) XFree(children);
  };
  walk(DefaultRootWindow(display_));
  return found;
}

std::optional<WindowInfo> XSession::FindWindow(
    const std::function<bool(const WindowInfo&)>& match) {
  for (const WindowInfo& w : Windows()) {
    if (w.viewable && match(w)) return w;
  }
  return std::nullopt;
}

std::optional<WindowInfo> XSession::WaitForWindow(const std::string& title, Ms timeout) {
  std::optional<WindowInfo> found;
  WaitFor(
      [&] {
        return (found = FindWindow([&](const WindowInfo& w) { return w.title == title; }))
            .has_value();
      },
      timeout, Ms(5));
  return found;
}

std::optional<WindowInfo> XSession::FindWindowOfPid(int pid) {
  const Atom net_pid = XInternAtom(display_, "_NET_WM_PID", False);
  return FindWindow(
      [&](const WindowInfo& w) { return CardinalProperty(display_, w.id, net_pid) == pid; });
}

bool XSession::WaitUntilGone(const std::string& title, Ms timeout) {
  return WaitFor([&] { return !FindWindow([&](const WindowInfo& w) { return w.title == title; }); },
                 timeout, Ms(5));
}

bool XSession::Dismiss(const std::string& title, Ms timeout, Clock::time_point* first_press) {
  bool pressed = false;
  return WaitFor(
      [&] {
        if (!pressed && first_press != nullptr) *first_press = Clock::now();
        pressed = true;
        PressKey(XK_Return);
        return WaitUntilGone(title, Ms(500));
      },
      timeout, Ms(0));
}

void XSession::MovePointer(int x, int y, bool flush) {
  XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
  if (flush) XFlush(display_);
}

void XSession::PressKey(unsigned long keysym) {
  const KeyCode code = XKeysymToKeycode(display_, keysym);
  XTestFakeKeyEvent(display_, code, True, CurrentTime);
  XTestFakeKeyEvent(display_, code, False, CurrentTime);
  XFlush(display_);
}

// A request to the window manager about `window`, as a pager or task bar sends one.
static void SendToWindowManager(Display* display, Window window, const char* message, long data0,
                                long data1) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, message, False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = data0;
  event.xclient.data.l[1] = data1;
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(display);
}

void XSession::RequestClose(Window window) {
  // Source 2: a pager or panel, as a user's click.
  SendToWindowManager(display_, window, "_NET_CLOSE_WINDOW", CurrentTime, 2);
}

namespace {

// Copies `image` (of the window area at ax, ay) into `out`, a w × h area at x, y.
// A channel of a pixel, scaled to 8 bits: 15- and 16-bit screens hold 5 or 6.
std::uint32_t Channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctzl(mask);
  return static_cast<std::uint32_t>(((pixel & mask) >> shift) * 255 / (mask >> shift));
}

void CopyImage(XImage* image, int ax, int ay, int x, int y, int w, std::vector<std::uint32_t>& out,
               int h) {
  // A 4K screen has 8 million pixels: read 32-bit rows directly, not pixel by pixel.
  const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                      image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 &&
                      image->blue_mask == 0xFF;
  for (int row = 0; row < image->height; ++row) {
    const int oy = ay + row - y;
    if (oy < 0 || oy >= h) continue;
    std::uint32_t* to = &out[static_cast<std::size_t>(oy) * w + (ax - x)];
    if (direct) {
      std::memcpy(to, image->data + static_cast<std::ptrdiff_t>(row) * image->bytes_per_line,
                  static_cast<std::size_t>(image->width) * 4);
      for (int column = 0; column < image->width; ++column) to[column] &= 0xFFFFFF;
    } else {
      for (int column = 0; column < image->width; ++column) {
        const unsigned long p = XGetPixel(image, column, row);
        to[column] = Channel(p, image->red_mask) << 16 | Channel(p, image->green_mask) << 8 |
                     Channel(p, image->blue_mask);
      }
    }
  }
}

}  // namespace

std::vector<std::uint32_t> XSession::ReadArea(int x, int y, int w, int h) {
  std::vector<std::uint32_t> out;
  const Window root = DefaultRootWindow(display_);
  if (desktop_ != Desktop::kMutter) {
    XImage* image = XGetImage(display_, root, x, y, w, h, AllPlanes, ZPixmap);
    if (image == nullptr) return out;
    out.resize(static_cast<std::size_t>(w) * h);
    CopyImage(image, x, y, x, y, w, out, h);
    XDestroyImage(image);
    return out;
  }
  // Xwayland has no picture of its root: the screen is each top-level window's own, from
  // the bottom of the stack up.
  out.assign(static_cast<std::size_t>(w) * h, 0);
  Window parent, *children = nullptr;
  unsigned int n = 0;
  Window ignored;
  if (!XQueryTree(display_, root, &ignored, &parent, &children, &n)) return out;
  for (unsigned int i = 0; i < n; ++i) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(display_, children[i], &a) || a.map_state != IsViewable ||
        a.c_class != InputOutput) {
      continue;
    }
    const int x0 = std::max(x, a.x), y0 = std::max(y, a.y);
    const int x1 = std::min(x + w, a.x + a.width), y1 = std::min(y + h, a.y + a.height);
    if (x0 >= x1 || y0 >= y1) continue;
    XImage* image =
        XGetImage(display_, children[i], x0 - a.x, y0 - a.y, x1 - x0, y1 - y0, AllPlanes, ZPixmap);
    if (image == nullptr) continue;
    CopyImage(image, x0, y0, x, y, w, out, h);
    XDestroyImage(image);
  }
  if (children) XFree(children);
  return out;
}

Screenshot XSession::Shoot() {
  Screenshot shot;
  shot.from = Clock::now();
  shot.pixels = ReadArea(0, 0, width_, height_);
  shot.to = Clock::now();
  if (shot.pixels.empty()) return shot;
  shot.width = width_;
  shot.height = height_;
  return shot;
}

std::uint32_t XSession::PixelAt(int x, int y) {
  const std::vector<std::uint32_t> pixel = ReadArea(x, y, 1, 1);
  return pixel.empty() ? 0 : pixel[0];
}

void XSession::Sync() { XSync(display_, False); }

void XSession::KillServer() {
  if (display_ != nullptr) XCloseDisplay(display_);
  display_ = nullptr;
  server_.Signal(SIGKILL);
  server_.WaitExit(Ms(5000));
}

namespace {

// The run-queue wait of every thread of a process (the second field of schedstat, in ns).
Clock::duration WaitedToRunOf(int pid) {
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

}  // namespace

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

Clock::duration XSession::WaitedToRun(int game_pid) const {
  return WaitedToRunOf(game_pid) + WaitedToRunOf(server_.Pid());
}

long XSession::MemoryKb(int pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

Window XSession::OpenOtherWindow(int width, int height) {
  const Window window =
      XCreateSimpleWindow(display_, DefaultRootWindow(display_), 100, 100, width, height, 0, 0,
                          WhitePixel(display_, DefaultScreen(display_)));
  XStoreName(display_, window, "another program");
  XMapRaised(display_, window);
  XSync(display_, False);
  return window;
}

void XSession::Activate(Window window) {
  SendToWindowManager(display_, window, "_NET_ACTIVE_WINDOW", 2, CurrentTime);
}

Window XSession::ActiveWindow() {
  Atom actual;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  Window active = 0;
  if (XGetWindowProperty(display_, DefaultRootWindow(display_),
                         XInternAtom(display_, "_NET_ACTIVE_WINDOW", False), 0, 1, False, XA_WINDOW,
                         &actual, &format, &count, &after, &data) == Success &&
      data != nullptr) {
    if (count == 1) active = *reinterpret_cast<Window*>(data);
    XFree(data);
  }
  return active;
}

}  // namespace e2e
