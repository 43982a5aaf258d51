#pragma once

#include <optional>

#include "tests/e2e/x_session.h"

// Reading the game's picture from a screenshot.
namespace e2e {

inline constexpr int kBlockPx = 33;
inline constexpr std::uint32_t kBarGreen = 0x00C000;

// Whether block (column, row) is still drawn: the tile is never black at its centre.
inline bool BlockShown(const Screenshot& s, int column, int row) {
  return s.At(column * kBlockPx + 16, row * kBlockPx + 16) != 0;
}

struct Point {
  int x, y;
};

// The centre of the zorvel, found by its orange body.
inline std::optional<Point> FindCreature(const Screenshot& s) {
  long sx = 0, sy = 0, n = 0;
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      const std::uint32_t p = s.At(x, y);
      const int r = p >> 16, g = (p >> 8) & 0xFF, b = p & 0xFF;
      if (r > 200 && g > 90 && g < 200 && b < 90) {
        sx += x;
        sy += y;
        ++n;
      }
    }
  }
  if (n < 50) return std::nullopt;
  return Point{static_cast<int>(sx / n), static_cast<int>(sy / n)};
}

}  // namespace e2e
