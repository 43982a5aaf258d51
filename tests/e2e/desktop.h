#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/process.h"

// The desktops the game runs on in the tests: an X server and the window manager of it.
namespace e2e {

// All but mutter and KDE run on Xvfb. Mutter (GNOME's compositor) and kwin_wayland (KDE
// Plasma's) run headless on virtual monitors, and the game is an X11 client of their
// Xwayland, as it is by default under GNOME and Plasma.
enum class Desktop { kNone, kOpenbox, kXfwm4, kI3, kMutter, kKde };
std::string DesktopName(Desktop desktop);
// Desktops to test beyond the usual ones, named in $GLOMPER_E2E_DESKTOPS (commas between
// names): to try one by hand where it is installed, such as "kde" from Debian 13 on.
std::vector<Desktop> DesktopsAskedFor();

// A window manager on Xvfb: its name and its command line, given the session's own folder
// (where it may keep a configuration file).
struct WindowManager {
  std::string name;
  std::function<std::vector<std::string>(const std::string& folder)> command;
};

// An X server of the desktop's, with its window manager, on a display of its own. Everything
// it starts is stopped when it goes away, also when a test fails.
class DesktopSession {
 public:
  // Xvfb's screen has the given colour depth. Mutter gets one virtual monitor of the given
  // size, or one of each size in `monitors`, which it lays side by side from the left.
  DesktopSession(int width, int height, Desktop desktop = Desktop::kOpenbox, int depth = 24,
                 const std::vector<std::pair<int, int>>& monitors = {});
  // Xvfb with a window manager the tests do not use (the desktop benchmark's).
  DesktopSession(int width, int height, WindowManager window_manager);
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  bool Ok() const { return display_ != nullptr; }
  const std::string& DisplayName() const { return name_; }
  Display* Dpy() const { return display_; }
  // The X server's process (with a compositor: its session, which started it).
  int ServerPid() const { return server_.Pid(); }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // Whether the root window holds the picture of the screen. Xwayland keeps none: there
  // each window holds its own.
  bool RootShowsScreen() const { return !compositor_; }
  // What an X client of this display needs in its environment.
  std::vector<std::string> ClientEnvironment() const;

  // Ends the window manager, as a player's logout or crash of it would; true once gone.
  bool StopWindowManager();
  // Starts the window manager (again) and waits until it manages the screen.
  bool StartWindowManager();
  // Changes the size of Xvfb's screen with RandR, as a player's display settings would.
  bool ResizeScreen(int width, int height);
  // Runs an X client such as xrandr on this display; true if it exits with status 0.
  bool RunClient(const std::vector<std::string>& argv);
  // Kills the X server as a crash would; the session's own connection is closed first.
  void KillServer();
  // What the window manager or compositor has written to its standard error so far.
  std::string WindowManagerLog() const { return ReadTextFile(folder_ + "/wm.log"); }

 private:
  bool MakeFolder();
  bool StartXvfb(int depth);
  bool StartCompositor(const std::vector<std::pair<int, int>>& monitors);
  bool Connect();
  bool WaitForWindowManager();

  std::string name_;
  Display* display_ = nullptr;
  int width_, height_;
  Desktop desktop_;
  bool compositor_ = false;       // mutter or kwin_wayland, with Xwayland
  std::string folder_;            // the session's own files: logs, configuration, runtime folder
  std::string authority_;         // the X server's cookie file, when it asks for one
  WindowManager window_manager_;  // on Xvfb; none when its command is empty
  Process server_;
  Process window_manager_process_;
};

}  // namespace e2e
