#pragma once

#include <algorithm>
#include <cmath>

namespace platform {

// Sprite geometry is kept in twips so that a one-twip change survives; the screen is in pixels.
inline constexpr int kTwipsPerPixel = 15;

// A fractional pixel edge is drawn at the nearest pixel.
inline int PixelEdge(double twips) {
  return static_cast<int>(std::floor(twips / kTwipsPerPixel + 0.5));
}

// Half-open rectangle in window pixels.
struct PixelRect {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;

  bool Empty() const { return x1 <= x0 || y1 <= y0; }
  int Width() const { return x1 - x0; }
  int Height() const { return y1 - y0; }
  long Area() const { return Empty() ? 0 : static_cast<long>(Width()) * Height(); }
  bool operator==(const PixelRect&) const = default;

  PixelRect Intersect(const PixelRect& o) const {
    PixelRect r{std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    return r.Empty() ? PixelRect{} : r;
  }
  PixelRect Union(const PixelRect& o) const {
    if (Empty()) return o;
    if (o.Empty()) return *this;
    return {std::min(x0, o.x0), std::min(y0, o.y0), std::max(x1, o.x1), std::max(y1, o.y1)};
  }
  bool Overlaps(const PixelRect& o) const { return !Intersect(o).Empty(); }
};

}  // namespace platform
