#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/geometry.h"
#include "tests/e2e/launch.h"
#include "tests/e2e/process.h"

struct _GDBusConnection;  // NOLINT(bugprone-reserved-identifier): GIO's own names
struct _GVariant;         // NOLINT(bugprone-reserved-identifier)

// The real game natively on a Wayland compositor: GNOME's mutter, headless, without Xwayland,
// in a D-Bus session of its own. Keys go in through mutter's remote-desktop interface, as a
// remote-desktop client's would; what the game did shows in its own protocol trace.
namespace e2e {

class WaylandSession {
 public:
  WaylandSession(int width, int height);
  ~WaylandSession();
  WaylandSession(const WaylandSession&) = delete;
  WaylandSession& operator=(const WaylandSession&) = delete;

  bool Ok() const { return bus_ != nullptr; }
  // The game with no X display at all, tracing what it says to the compositor on its
  // standard error (WAYLAND_DEBUG), with the box it can show.
  Process StartGame(Box box, const std::string& stderr_path);
  // Presses and releases a key (an X keysym), wherever the compositor sends keys now.
  bool PressKey(unsigned keysym);
  // Kills the compositor as a crash would.
  void KillCompositor();

 private:
  bool Call(const std::string& path, const char* interface, const char* method,
            _GVariant* arguments, std::string* object_path = nullptr);

  std::string dir_;
  std::string display_;
  Process compositor_;
  _GDBusConnection* bus_ = nullptr;
  std::string remote_session_;
};

// What the game said to the compositor about its window, read from its protocol trace.
struct WaylandTrace {
  struct Frame {
    int buffer_width = 0, buffer_height = 0;
    // The surface's size as its viewport sets it, where it has one.
    std::optional<std::pair<int, int>> viewport;
    // What the game damaged with the buffer, and what was damaged before it was attached
    // (SDL 2 damages its whole surface before each frame it is called back for).
    std::vector<platform::PixelRect> damage, damaged_before;
  };
  bool found = false;                           // the window's surface was given its role
  bool full_screen_asked_first = false;         // before the role's first commit
  std::vector<std::pair<int, int>> configures;  // sizes the compositor proposed
  // The configure acknowledged last before each frame.
  std::vector<std::pair<int, int>> configured_before_frame;
  std::vector<Frame> frames;  // commits that attached a buffer
  int viewports = 0;          // objects made for the window's surface
  int scales = 0;
  // Frame callbacks asked for on the surface before it had its role: not the game's.
  int early_frame_requests = 0;
  std::vector<std::string> said;  // what the game wrote to standard error besides the trace
};
WaylandTrace ReadWaylandTrace(const std::string& path);

}  // namespace e2e
