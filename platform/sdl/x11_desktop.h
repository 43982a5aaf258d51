#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/sdl/x11_geometry.h"

struct SDL_Window;
struct _XDisplay;  // NOLINT(bugprone-reserved-identifier): Xlib's own name for Display

namespace platform {

// X errors end the program, as Xlib's default handler does, except while it is ending.
void X11HandleErrors();
void X11Ending();

// The game window's place on an X11 desktop. SDL's full-screen mode knows the X screen and
// its outputs, not the RandR monitors a player sees, nor a window manager that comes or goes:
// this asks the X server itself, on a connection of its own so that SDL's events are untouched.
class X11Desktop {
 public:
  // Picks the monitor that holds the pointer; null when SDL is not on X11. `display` is the
  // game's own connection to the server SDL opened (not SDL's), kept open by its owner.
  static std::unique_ptr<X11Desktop> Open(_XDisplay* display);
  ~X11Desktop() = default;
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  // The monitor the window covers: "the screen" for the game.
  const WindowGeometry& Monitor() const { return monitor_; }

  // Before SDL maps `window`: asks to have it full-screen on the monitor from the start, and
  // says when the player asked for it (`user_time`, the X time of the key or click that
  // dismissed the instructions; 0 if unknown), so focus-stealing prevention lets it in.
  void Prepare(SDL_Window* window, std::uint32_t user_time);
  // Once mapped: asks the window manager to activate the window, as the player asked.
  void Activate();
  // Whether the window now lies exactly over its monitor.
  bool Covered() const;
  // Follows the desktop: a monitor resized, the window manager gone or replaced. Cheap when
  // nothing happened: it only looks at events that have already arrived.
  void Follow();

 private:
  X11Desktop(_XDisplay* display, int randr_event_base);
  void ChooseMonitor(bool from_pointer);
  bool WindowManagerRunning() const;
  void AskForMonitor();
  std::optional<WindowGeometry> Placed() const;
  void AdoptMonitorOfWindow();

  _XDisplay* display_;
  int randr_event_base_;
  unsigned long root_ = 0;
  unsigned long window_ = 0;
  unsigned long monitor_name_ = 0;  // RandR's name of the monitor, to find it again
  int monitor_index_ = 0;
  WindowGeometry monitor_;
  std::uint32_t user_time_ = 0;
  bool had_window_manager_ = false;
};

}  // namespace platform
