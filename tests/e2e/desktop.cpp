#include "tests/e2e/desktop.h"

#include <X11/Xauth.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/x11/x11_client.h"

namespace e2e {

namespace {

// Where X servers put their sockets. Every real system makes it at boot (systemd-tmpfiles)
// writable by all, sticky; on a bare root without it Xvfb makes it 1755, and a compositor
// run later, not as root, cannot start its Xwayland there ("not writable").
void MakeSocketFolder() {
  const char* folder = "/tmp/.X11-unix";
  mkdir(folder, 01777);
  struct stat seen = {};
  if (stat(folder, &seen) == 0 && (seen.st_mode & 07777) != 01777 && seen.st_uid == geteuid()) {
    chmod(folder, 01777);  // mkdir's mode went through the umask
  }
}

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

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// xfwm4 takes its settings from xfconfd, which it reaches on a session bus.
std::vector<std::string> Xfwm4Command(const std::string&) {
  return {"dbus-run-session", "--", "xfwm4", "--compositor=off"};
}

WindowManager WindowManagerOf(Desktop desktop) {
  switch (desktop) {
    case Desktop::kOpenbox:
      return {"openbox", [](const std::string&) {
                return std::vector<std::string>{"openbox", "--sm-disable"};
              }};
    case Desktop::kXfwm4:
      return {"xfwm4", Xfwm4Command};
    case Desktop::kI3:
      return {"i3", [](const std::string& folder) {
                const std::string config = folder + "/i3.config";
                std::ofstream(config) << "# i3 config file (v4)\nfont fixed\n";
                return std::vector<std::string>{"i3", "-c", config};
              }};
    case Desktop::kNone:
    case Desktop::kMutter:
    case Desktop::kKde:
      break;
  }
  return {};
}

// Xlib takes the cookie from $XAUTHORITY, which is the whole test process's: hand it over for
// this one connection instead.
Display* OpenWithCookie(const std::string& display, const std::string& authority) {
  if (authority.empty()) return XOpenDisplay(display.c_str());
  std::FILE* file = std::fopen(authority.c_str(), "rb");
  if (file == nullptr) return nullptr;
  Display* opened = nullptr;
  while (Xauth* entry = XauReadAuth(file)) {
    if (opened == nullptr) {
      XSetAuthorization(entry->name, entry->name_length, entry->data, entry->data_length);
      opened = XOpenDisplay(display.c_str());
      XSetAuthorization(nullptr, 0, nullptr, 0);
    }
    XauDisposeAuth(entry);
  }
  std::fclose(file);
  return opened;
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
    case Desktop::kKde:
      return "kde";
  }
  return "?";
}

std::vector<Desktop> DesktopsAskedFor() {
  const char* names = std::getenv("GLOMPER_E2E_DESKTOPS");
  std::vector<Desktop> asked;
  std::istringstream list(names != nullptr ? names : "");
  for (std::string name; std::getline(list, name, ',');) {
    for (const Desktop d : {Desktop::kNone, Desktop::kOpenbox, Desktop::kXfwm4, Desktop::kI3,
                            Desktop::kMutter, Desktop::kKde}) {
      if (DesktopName(d) == name) asked.push_back(d);
    }
  }
  return asked;
}

DesktopSession::DesktopSession(int width, int height, Desktop desktop, int depth,
                               const std::vector<std::pair<int, int>>& monitors)
    : width_(width),
      height_(height),
      desktop_(desktop),
      compositor_(desktop == Desktop::kMutter || desktop == Desktop::kKde),
      window_manager_(WindowManagerOf(desktop)) {
  if (!MakeFolder()) return;
  if (compositor_
          ? !StartCompositor(monitors) || !Connect() || !WaitForWindowManager()
          : !StartXvfb(depth) || !Connect() || (window_manager_.command && !StartWindowManager())) {
    if (display_ != nullptr) XCloseDisplay(display_);
    display_ = nullptr;
  }
}

DesktopSession::DesktopSession(int width, int height, WindowManager window_manager)
    : width_(width),
      height_(height),
      desktop_(Desktop::kNone),
      window_manager_(std::move(window_manager)) {
  if (!MakeFolder()) return;
  if (!StartXvfb(24) || !Connect() || !StartWindowManager()) {
    if (display_ != nullptr) XCloseDisplay(display_);
    display_ = nullptr;
  }
}

DesktopSession::~DesktopSession() {
  StopWindowManager();
  if (display_ != nullptr) XCloseDisplay(display_);
  // A compositor's session is a family: the bus, the compositor, Xwayland and the command
  // it runs.
  server_.StopGroup();
  if (!folder_.empty()) std::filesystem::remove_all(folder_);
}

bool DesktopSession::MakeFolder() {
  MakeSocketFolder();
  char folder[] = "/tmp/glomper-session.XXXXXX";
  if (mkdtemp(folder) == nullptr) return false;
  folder_ = folder;
  return true;
}

bool DesktopSession::StartXvfb(int depth) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const std::string screen =
      std::to_string(width_) + "x" + std::to_string(height_) + "x" + std::to_string(depth);
  server_ = Process({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen,
                     "-nolisten", "tcp", "-noreset"},
                    {}, {});
  close(fds[1]);
  const std::string number = ReadLineFrom(fds[0], Ms(10000));
  close(fds[0]);
  name_ = ":" + number;
  return !number.empty();
}

bool DesktopSession::StartCompositor(const std::vector<std::pair<int, int>>& monitors) {
  // The compositor starts Xwayland on a display of its choosing, perhaps with a cookie, and
  // then runs our session command, which tells both.
  const std::string session = folder_ + "/session";
  // Mutter's lasts as long as the desktop: mutter ends with it.
  const bool lasts = desktop_ == Desktop::kMutter;
  std::ofstream(session) << "#!/bin/sh\ncd \"$XDG_RUNTIME_DIR\" && echo \"$XAUTHORITY\" > xauth &&"
                            " echo \"${DISPLAY#:}\" > display.new && mv display.new display"
                         << (lasts ? " && exec sleep 100000\n" : "\n");
  std::filesystem::permissions(session, std::filesystem::perms::owner_all);
  std::vector<std::string> argv = {"dbus-run-session", "--"};
  if (desktop_ == Desktop::kMutter) {
    argv.insert(argv.end(), {"mutter", "--headless", "--wayland"});
    std::vector<std::pair<int, int>> sizes = monitors;
    if (sizes.empty()) sizes.emplace_back(width_, height_);
    for (const auto& [w, h] : sizes) {
      argv.insert(argv.end(), {"--virtual-monitor", std::to_string(w) + "x" + std::to_string(h)});
    }
    argv.insert(argv.end(), {"--", session});
  } else {
    // An application of KWin's rather than its session (--exit-with-session), which KWin
    // starts in a session of its own: the desktop lasts until we end it, and the command
    // ends once it has told us.
    argv.insert(argv.end(),
                {"kwin_wayland", "--virtual", "--xwayland", "--no-lockscreen", "--width",
                 std::to_string(width_), "--height", std::to_string(height_), session});
  }
  server_ = Process(argv, {"XDG_RUNTIME_DIR=" + folder_, "NO_AT_BRIDGE=1"},
                    {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY"}, folder_ + "/wm.log");
  std::string number;
  WaitFor([&] { return !(number = FirstLine(ReadTextFile(folder_ + "/display"))).empty(); },
          Ms(20000));
  if (number.empty()) return false;
  name_ = ":" + number;
  authority_ = FirstLine(ReadTextFile(folder_ + "/xauth"));
  return true;
}

bool DesktopSession::Connect() {
  display_ = OpenWithCookie(name_, authority_);
  return display_ != nullptr;
}

bool DesktopSession::WaitForWindowManager() {
  if (!WaitFor([&] { return x11::WindowManagerRunning(display_); }, Ms(20000))) return false;
  // It names itself before it manages windows, and a window mapped in between can stay
  // unmapped for good: it is ready once it takes a window of ours in hand (frames it, or
  // marks it with WM_STATE, which some do without a frame).
  const Window root = DefaultRootWindow(display_);
  return WaitFor(
      [&] {
        const Window probe = XCreateSimpleWindow(display_, root, 0, 0, 10, 10, 0, 0, 0);
        XMapWindow(display_, probe);
        XSync(display_, False);
        const bool managed = WaitFor(
            [&] {
              Window parent_root, parent, *children = nullptr;
              unsigned int n = 0;
              if (!XQueryTree(display_, probe, &parent_root, &parent, &children, &n)) return false;
              if (children) XFree(children);
              return parent != root || x11::Has(display_, probe, "WM_STATE");
            },
            Ms(200), Ms(5));
        XDestroyWindow(display_, probe);
        XSync(display_, False);
        return managed;
      },
      Ms(20000), Ms(1));
}

bool DesktopSession::StartWindowManager() {
  if (display_ == nullptr || !window_manager_.command || window_manager_process_.Running()) {
    return false;
  }
  window_manager_process_ =
      Process(window_manager_.command(folder_), ClientEnvironment(), {}, folder_ + "/wm.log");
  return WaitForWindowManager();
}

bool DesktopSession::StopWindowManager() {
  if (!window_manager_process_.Running()) return false;
  // Its whole process group: xfwm4 runs under a bus of its own, which started xfconfd.
  window_manager_process_.StopGroup();
  return display_ == nullptr ||
         WaitFor([&] { return !x11::WindowManagerRunning(display_); }, Ms(10000));
}

std::vector<std::string> DesktopSession::ClientEnvironment() const {
  // No accessibility bus: it would outlive the session.
  std::vector<std::string> env = {"DISPLAY=" + name_, "NO_AT_BRIDGE=1"};
  if (!authority_.empty()) env.push_back("XAUTHORITY=" + authority_);
  return env;
}

bool DesktopSession::RunClient(const std::vector<std::string>& argv) {
  Process client(argv, ClientEnvironment(), {"WAYLAND_DISPLAY"}, folder_ + "/client.log");
  return client.WaitExit(Ms(20000)) == 0;
}

bool DesktopSession::ResizeScreen(int width, int height) {
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

void DesktopSession::KillServer() {
  if (display_ != nullptr) XCloseDisplay(display_);
  display_ = nullptr;
  server_.Signal(SIGKILL);
  server_.WaitExit(Ms(5000));
}

}  // namespace e2e
