#pragma once

#include <span>
#include <vector>

#include "platform/geometry.h"

namespace platform {

// Bookkeeping for a window drawn into a few buffers that the compositor holds in turn. The
// scene draws each frame into one buffer; a buffer reused later must first take from the
// newest one the rectangles it missed, so that only changed rectangles are ever drawn,
// copied or damaged.
class BufferDamage {
 public:
  explicit BufferDamage(int buffers) : missed_(static_cast<std::size_t>(buffers)) { Reset(); }

  // Every buffer holds nothing yet (new buffers, a new size).
  void Reset();
  // The buffer for the next frame among those the compositor has released: the newest if it
  // is free (it lacks nothing), else the free one that missed the least; -1 if none is free.
  int Pick(std::span<const bool> released) const;
  // What buffer `index` lacks of the newest frame, to copy from the newest buffer before
  // drawing on top: nothing if it is the newest or no frame exists, the whole of `bounds` if it
  // never held a frame.
  std::vector<PixelRect> Missed(int index, const PixelRect& bounds) const;
  // Buffer `index` now holds the newest frame, which changed `rects`; the others missed them.
  void Drawn(int index, std::span<const PixelRect> rects);
  int Newest() const { return newest_; }

 private:
  // Past this many rectangles a buffer's losses are kept as their bounding box.
  static constexpr std::size_t kMaxRects = 16;

  struct Missing {
    bool blank = true;
    std::vector<PixelRect> rects;
  };
  long Cost(const Missing& m) const;

  std::vector<Missing> missed_;
  int newest_ = -1;
};

}  // namespace platform
