#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/process.h"

// What a test does as an X client of the session: finds the windows a player would see,
// moves the pointer and presses keys through XTest, and asks the window manager for what a
// task bar or a launcher would.
namespace e2e {

struct Point {
  int x, y;
};

// A part of the screen: a window, a RandR monitor, or the whole of it.
struct Area {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Area&) const = default;
};

struct WindowInfo {
  Window id = 0;
  int x = 0, y = 0, width = 0, height = 0;
  std::string title;
  bool viewable = false;
  Area Where() const { return {x, y, width, height}; }
};

// The client window of every top-level window that holds one, from the bottom of the stack
// up. The window manager marks client windows with WM_STATE, and a frame (its own, or the
// one mutter's frames client makes, which carries the client's title) has none; a frame is
// made and titled before its client is marked, and holds no client until then. Windows that
// no window manager takes in hand are their own clients: override-redirect ones, and every
// window while no window manager runs.
std::vector<Window> ClientsBottomUp(Display* display);

// Every client window, with its place on the screen and its title (_NET_WM_NAME, else
// WM_NAME).
std::vector<WindowInfo> Windows(Display* display);
std::optional<WindowInfo> FindWindow(Display* display,
                                     const std::function<bool(const WindowInfo&)>& match);
std::optional<WindowInfo> FindWindowTitled(Display* display, const std::string& title);
std::optional<WindowInfo> WaitForWindow(Display* display, const std::string& title, Ms timeout);
// The viewable window of a process (by _NET_WM_PID) that has no title.
std::optional<WindowInfo> FindWindowOfPid(Display* display, int pid);
bool WaitUntilGone(Display* display, const std::string& title, Ms timeout);
// Presses Return until the window titled `title` is gone, as a player does when a box has
// not taken the keyboard yet; `first_press` gets when the first press went out.
bool Dismiss(Display* display, const std::string& title, Ms timeout,
             Clock::time_point* first_press = nullptr);

void MovePointer(Display* display, int x, int y, bool flush = true);
void PressKey(Display* display, unsigned long keysym);

// Asks the window manager to close a window, as its close button would.
void RequestClose(Display* display, Window window);
// Asks the window manager to activate a window, as a click in a task bar would.
void Activate(Display* display, Window window);
Window ActiveWindow(Display* display);
// Pings a window as the window manager does (_NET_WM_PING) and waits for its answer on the
// root window: a window that does not answer is marked as not responding.
bool AnswersPing(Display* display, Window window, Ms timeout);
// Moves a window, through its window manager where there is one.
void MoveWindow(Display* display, Window window, int x, int y);
// Creates and maps an ordinary top-level window of another program.
Window OpenOtherWindow(Display* display, int width, int height);

// The launch a window says it belongs to: its _NET_STARTUP_ID, or its client leader's.
std::string StartupIdOf(Display* display, Window window);

// Startup notification (freedesktop) as a launcher sees it: from Watch on, the messages sent
// to the root window ("remove: ID=…"), whole, in the order they came.
class StartupWatch {
 public:
  void Watch(Display* display);
  std::vector<std::string> Read(Display* display);

 private:
  std::map<Window, std::string> pieces_;  // messages not yet whole, by sender
  std::vector<std::string> whole_;
};

}  // namespace e2e
