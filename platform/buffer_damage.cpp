#include "platform/buffer_damage.h"

#include <limits>

namespace platform {

void BufferDamage::Reset() {
  for (Missing& m : missed_) m = Missing{};
  newest_ = -1;
}

long BufferDamage::Cost(const Missing& m) const {
  if (m.blank) return std::numeric_limits<long>::max() / 2;
  long area = 0;
  for (const PixelRect& r : m.rects) area += r.Area();
  return area;
}

int BufferDamage::Pick(std::span<const bool> released) const {
  const int count = static_cast<int>(std::min(released.size(), missed_.size()));
  if (newest_ >= 0 && newest_ < count && released[static_cast<std::size_t>(newest_)]) {
    return newest_;
  }
  int best = -1;
  long best_cost = 0;
  for (int i = 0; i < count; ++i) {
    if (!released[static_cast<std::size_t>(i)]) continue;
    const long cost = Cost(missed_[static_cast<std::size_t>(i)]);
    if (best < 0 || cost < best_cost) {
      best = i;
      best_cost = cost;
    }
  }
  return best;
}

std::vector<PixelRect> BufferDamage::Missed(int index, const PixelRect& bounds) const {
  if (newest_ < 0 || index == newest_) return {};
  const Missing& m = missed_.at(static_cast<std::size_t>(index));
  if (m.blank) return {bounds};
  std::vector<PixelRect> out;
  for (const PixelRect& r : m.rects) {
    const PixelRect clipped = r.Intersect(bounds);
    if (!clipped.Empty()) out.push_back(clipped);
  }
  return out;
}

void BufferDamage::Drawn(int index, std::span<const PixelRect> rects) {
  for (int i = 0; i < static_cast<int>(missed_.size()); ++i) {
    Missing& m = missed_[static_cast<std::size_t>(i)];
    if (i == index) {
      m = Missing{.blank = false, .rects = {}};
      continue;
    }
    if (m.blank) continue;
    for (const PixelRect& r : rects) {
      if (!r.Empty()) m.rects.push_back(r);
    }
    if (m.rects.size() > kMaxRects) {
      PixelRect all;
      for (const PixelRect& r : m.rects) all = all.Union(r);
      m.rects.assign(1, all);
    }
  }
  newest_ = index;
}

}  // namespace platform
