#pragma once

namespace platform {

// A window's place and size on the screen, in pixels.
struct WindowGeometry {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const WindowGeometry&) const = default;
};

}  // namespace platform
