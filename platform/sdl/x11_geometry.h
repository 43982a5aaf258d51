#pragma once

#include <optional>

struct SDL_Window;

namespace platform {

struct WindowGeometry {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const WindowGeometry&) const = default;
};

// SDL reports a full-screen window's place as what it asked for, not what it got: without a
// window manager the window keeps its first size. These ask the X server itself; they answer
// nullopt / false for windows that are not on X11.
std::optional<WindowGeometry> X11Geometry(SDL_Window* window);
bool X11WindowManagerRunning(SDL_Window* window);
// Places the window; with no window manager to ask, the X server obeys at once.
void X11MoveResize(SDL_Window* window, const WindowGeometry& to);

}  // namespace platform
