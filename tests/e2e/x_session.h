#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/desktop.h"
#include "tests/e2e/machine_load.h"
#include "tests/e2e/process.h"
#include "tests/e2e/screenshot.h"
#include "tests/e2e/x_client.h"

// A desktop session as a test drives it: what a player sees of it and does to it, on the
// session's own connection.
namespace e2e {

class XSession : public DesktopSession {
 public:
  using DesktopSession::DesktopSession;

  std::vector<WindowInfo> Windows() { return e2e::Windows(Dpy()); }
  std::optional<WindowInfo> FindWindow(const std::function<bool(const WindowInfo&)>& match) {
    return e2e::FindWindow(Dpy(), match);
  }
  std::optional<WindowInfo> FindWindowTitled(const std::string& title) {
    return e2e::FindWindowTitled(Dpy(), title);
  }
  std::optional<WindowInfo> WaitForWindow(const std::string& title, Ms timeout) {
    return e2e::WaitForWindow(Dpy(), title, timeout);
  }
  std::optional<WindowInfo> FindWindowOfPid(int pid) { return e2e::FindWindowOfPid(Dpy(), pid); }
  bool WaitUntilGone(const std::string& title, Ms timeout) {
    return e2e::WaitUntilGone(Dpy(), title, timeout);
  }
  bool Dismiss(const std::string& title, Ms timeout, Clock::time_point* first_press = nullptr) {
    return e2e::Dismiss(Dpy(), title, timeout, first_press);
  }

  void MovePointer(int x, int y, bool flush = true) { e2e::MovePointer(Dpy(), x, y, flush); }
  void MovePointer(Point p) { MovePointer(p.x, p.y); }
  void PressKey(unsigned long keysym) { e2e::PressKey(Dpy(), keysym); }
  void RequestClose(Window window) { e2e::RequestClose(Dpy(), window); }
  void Activate(Window window) { e2e::Activate(Dpy(), window); }
  Window ActiveWindow() { return e2e::ActiveWindow(Dpy()); }
  bool AnswersPing(Window window, Ms timeout) { return e2e::AnswersPing(Dpy(), window, timeout); }
  void MoveWindow(Window window, int x, int y) { e2e::MoveWindow(Dpy(), window, x, y); }
  Window OpenOtherWindow(int width, int height) {
    return e2e::OpenOtherWindow(Dpy(), width, height);
  }
  void Sync() { XSync(Dpy(), False); }

  void WatchStartupMessages() { startup_.Watch(Dpy()); }
  std::vector<std::string> StartupMessages() { return startup_.Read(Dpy()); }
  std::string StartupIdOf(Window window) { return e2e::StartupIdOf(Dpy(), window); }

  // The whole screen.
  Screenshot Shoot() {
    Screenshot shot;
    shot.from = Clock::now();
    shot.pixels = ReadScreen(Dpy(), {0, 0, Width(), Height()}, RootShowsScreen());
    shot.to = Clock::now();
    if (!shot.pixels.empty()) {
      shot.width = Width();
      shot.height = Height();
    }
    return shot;
  }
  // One pixel of the screen as the server holds it, cheaper than a whole screenshot when
  // timing matters.
  std::uint32_t PixelAt(int x, int y) {
    const std::vector<std::uint32_t> pixel = ReadScreen(Dpy(), {x, y, 1, 1}, RootShowsScreen());
    return pixel.empty() ? 0 : pixel[0];
  }

  // How long the game's and the X server's threads have waited for a processor, in all: what
  // a loaded machine may have taken from the game's clock (a tick that is run late, or drawn
  // late). Compare two readings.
  Clock::duration WaitedToRun(int game_pid) const {
    return e2e::WaitedToRun(game_pid) + e2e::WaitedToRun(ServerPid());
  }

 private:
  StartupWatch startup_;
};

}  // namespace e2e
