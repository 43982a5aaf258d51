#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <X11/Xlib.h>

// Drives the real game on a private X server: starts Xvfb (and a window manager), runs the
// binary, sends pointer and key events through XTest, reads the screen back. Everything it
// starts is stopped when it goes away, also when a test fails.
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

// A child process that dies with the test.
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
  // Exit status, or 128 + signal; nullopt if it did not end in time.
  std::optional<int> WaitExit(Ms timeout);
  bool DumpedCore() const { return core_; }
  void Signal(int sig);
  void Stop();  // SIGTERM, then SIGKILL if it lingers
  // Whether every process the child started, however re-parented, has ended (they share
  // its process group; the test process adopts orphans).
  bool GroupGone();

 private:
  int pid_ = -1;
  std::optional<int> status_;
  bool core_ = false;
};

struct Screenshot {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;  // 0xRRGGBB
  Clock::time_point from, to;         // the screen was read at some moment in between
  std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  bool SavePng(const std::string& path) const;
  // The part of the screen one monitor shows.
  Screenshot Crop(int x, int y, int w, int h) const;
};

struct WindowInfo {
  Window id = 0;
  int x = 0, y = 0, width = 0, height = 0;
  std::string title;
  bool viewable = false;
};

// Which message box the game can show: GTK's, or its own where GTK is missing (hidden by a
// preloaded library) or cannot start (too little memory for its threads).
enum class Box { kGtk, kNoGtk, kGtkStarved };

// The desktops a player may run the game on. All but mutter run on Xvfb; mutter is GNOME's
// compositor, headless with one virtual monitor, and the game is an X11 client of its
// Xwayland, as it is by default under GNOME. The tests install the first five; KDE's
// kwin_x11, fluxbox, icewm and metacity are for the desktop benchmark, which installs them.
enum class Desktop { kNone, kOpenbox, kXfwm4, kI3, kMutter, kKwin, kFluxbox, kIcewm, kMetacity };
inline constexpr Desktop kAllDesktops[] = {
    Desktop::kNone, Desktop::kOpenbox, Desktop::kXfwm4, Desktop::kI3,      Desktop::kMutter,
    Desktop::kKwin, Desktop::kFluxbox, Desktop::kIcewm, Desktop::kMetacity};
std::string DesktopName(Desktop desktop);

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

class XSession {
 public:
  // Starts an X server of the given size on a free display, with the desktop's window
  // manager; Xvfb's screen has the given colour depth. Mutter gets one virtual monitor of that
  // size, or one of each size in `monitors`, which it lays side by side from the left.
  XSession(int width, int height, Desktop desktop = Desktop::kOpenbox, int depth = 24,
           const std::vector<std::pair<int, int>>& monitors = {});
  ~XSession();
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  bool Ok() const { return display_ != nullptr; }
  const std::string& DisplayName() const { return name_; }
  Display* Dpy() const { return display_; }
  // The X server's process (with mutter: its session, which started it).
  int ServerPid() const { return server_.Pid(); }
  int Width() const { return width_; }
  int Height() const { return height_; }

  // Starts the game binary (GLOMPER_BINARY in the environment overrides the built one),
  // optionally under a tool such as valgrind or strace.
  Process StartGame(const std::string& stderr_path = "", const std::vector<std::string>& under = {},
                    const std::vector<std::string>& env = {});
  Process StartGame(Box box, const std::string& stderr_path = "",
                    const std::vector<std::string>& env = {});
  static std::string GameBinary();

  // Startup notification (freedesktop) as a launcher sees it: from the call to Watch on, the
  // messages sent to the root window ("remove: ID=…"), whole, in the order they came.
  void WatchStartupMessages();
  std::vector<std::string> StartupMessages();
  // The launch a window says it belongs to: its _NET_STARTUP_ID, or its client leader's.
  std::string StartupIdOf(Window window);

  // Every viewable client window, with its title (_NET_WM_NAME, else WM_NAME).
  std::vector<WindowInfo> Windows();
  std::optional<WindowInfo> FindWindow(const std::function<bool(const WindowInfo&)>& match);
  std::optional<WindowInfo> WaitForWindow(const std::string& title, Ms timeout);
  // The viewable window of a process (by _NET_WM_PID) that has no title.
  std::optional<WindowInfo> FindWindowOfPid(int pid);
  bool WaitUntilGone(const std::string& title, Ms timeout);
  // Presses Return until the window titled `title` is gone, as a player does when a box has
  // not taken the keyboard yet; `first_press` gets when the first press went out.
  bool Dismiss(const std::string& title, Ms timeout, Clock::time_point* first_press = nullptr);

  void MovePointer(int x, int y, bool flush = true);
  void PressKey(unsigned long keysym);
  // Asks the window manager to close a window, as its close button would.
  void RequestClose(Window window);
  // The screen as 0xRRGGBB, whatever the depth (15 and 16 bits scaled up to 8 a channel).
  Screenshot Shoot();
  // One pixel of the screen as the server holds it, cheaper than a whole screenshot when
  // timing matters.
  std::uint32_t PixelAt(int x, int y);
  void Sync();
  // Kills the X server as a crash would; the session's own connection is closed first.
  void KillServer();
  // How long the game's and the X server's threads have waited for a processor, in all: what
  // a loaded machine may have taken from the game's clock (a tick that is run late, or drawn
  // late). Compare two readings.
  Clock::duration WaitedToRun(int game_pid) const;
  // Ends the window manager, as a player's logout or crash of it would; true once gone.
  bool StopWindowManager();
  // Starts the desktop's window manager (again) and waits until it manages the screen.
  bool StartWindowManager();
  // Changes the size of Xvfb's screen with RandR, as a player's display settings would.
  bool ResizeScreen(int width, int height);
  // Runs an X client such as xrandr on this display; true if it exits with status 0.
  bool RunClient(const std::vector<std::string>& argv);
  // What the window manager or compositor has written to its standard error so far.
  std::string WindowManagerLog() const { return ReadTextFile(dir_ + "/wm.log"); }
  // Resident and peak memory of a process, in kB, from /proc.
  static long MemoryKb(int pid, const char* field = "VmRSS:");
  // Creates and maps an ordinary top-level window of another program.
  Window OpenOtherWindow(int width, int height);
  // Asks the window manager to activate a window, as a click in a task bar would.
  void Activate(Window window);
  Window ActiveWindow();

 private:
  bool WaitForWindowManager();
  std::vector<std::uint32_t> ReadArea(int x, int y, int w, int h);
  std::vector<std::string> ClientEnvironment() const;

  std::string name_;
  Display* display_ = nullptr;
  std::map<Window, std::string> startup_pieces_;  // messages not yet whole, by sender
  std::vector<std::string> startup_messages_;
  int width_, height_;
  Desktop desktop_;
  std::string dir_;        // the session's own files: logs, configuration, runtime directory
  std::string authority_;  // the X server's cookie file, when it asks for one
  Process server_;
  Process window_manager_;
};

}  // namespace e2e
