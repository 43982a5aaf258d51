#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/box/box_protocol.h"
#include "platform/system.h"

union SDL_Event;
struct SDL_Window;
struct _XDisplay;  // NOLINT(bugprone-reserved-identifier): Xlib's own name for Display

namespace platform {

// How the game's window is put on the screen and drawn, one per window system, picked once
// when SDL has started. SDL keeps the window's input; the backend places the window, tells
// when it covers the screen and draws only what changed.
class WindowBackend {
 public:
  virtual ~WindowBackend() = default;

  // Makes the window on the monitor the player is on and shows it, asking to cover that
  // monitor. `user_time` is the window system's time of the player's last answer to a box
  // (0 if unknown): the window was asked for then. Ends the program if it cannot.
  virtual void Create(const WindowSpec& spec, std::uint32_t user_time) = 0;
  // The window system has confirmed the window covers the screen.
  virtual bool Covered() const = 0;
  // The window's size in pixels, as the window system last told it; `spec`'s until created.
  virtual std::pair<int, int> Size() const = 0;
  // Draws what changed in `scene` and pushes just those rectangles. `now`: the last picture
  // before a box, not left for the compositor's next frame.
  virtual void Present(Scene& scene, bool now) = 0;

  // What SDL says of the window (its own events, the close request aside).
  virtual void OnSdlEvent(const SDL_Event& event) = 0;
  // Reads what the window system said on the backend's own connection (`scene`, the window's
  // sprites, if it is made): the desktop changing
  // under the window, parts of it to paint again. Cheap when nothing happened. Returns whether
  // the window's size changed.
  virtual bool Follow(Scene* scene) = 0;
  // Connections to wake up for while a box is open.
  virtual std::vector<int> WatchFds() const = 0;
  // The connection to the display went away (SDL may report it as a close request). Cheap: it
  // knows only what has been read.
  virtual bool ConnectionLost() const = 0;
  // Asks the display whether it is still there: a round trip, for when a box's process has
  // ended without an answer, or a connection woke the game while a box is open.
  virtual bool Reaches() = 0;
  // What a box needs to belong to the window and come in front of it.
  virtual void Describe(BoxRequest& request) = 0;
};

// On X11: `display` is the game's own connection to the server SDL uses, taken over.
std::unique_ptr<WindowBackend> MakeX11Backend(_XDisplay* display);
// On a Wayland compositor; null if the compositor lacks what the window needs.
std::unique_ptr<WindowBackend> MakeWaylandBackend(int width, int height);
// Anywhere else SDL runs: SDL's own full-screen window and window surface.
std::unique_ptr<WindowBackend> MakeSurfaceBackend();

// Makes SDL's window for a backend, with the game's icon; ends the program with one line
// when SDL cannot.
SDL_Window* MakeSdlWindow(const WindowSpec& spec, int x, int y, int width, int height,
                          unsigned flags);

// Ends the program with the one line the game says when the display goes away.
[[noreturn]] void LostTheDisplay();

}  // namespace platform
