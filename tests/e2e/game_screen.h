#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/launch.h"
#include "tests/e2e/x_session.h"

// Reading the game's picture from a screenshot of a 1024 × 768 screen.
namespace e2e {

inline constexpr int kBlockPx = 33;
inline constexpr int kColumns = 32;  // blocks per row, and lookup cells per row
inline constexpr int kBlocks = 768;  // blocks on the screen and counted
inline constexpr std::uint32_t kBarGreen = 0x00C000;

// The bar starts 7815 twips wide and loses one twip a tick, 100 ticks a second.
inline constexpr int kBarStartTwips = 7815;
inline constexpr Ms kTick{10};

// The bar's width in pixels, read along its middle row.
int BarWidth(const Screenshot& s);
// The widths the bar can have after `ticks` ticks at most: [at least, at most] pixels.
std::pair<int, int> BarWidthsWithin(long ticks);
// The most ticks the game can have run in `elapsed`.
long TicksWithin(Clock::duration elapsed);

// The centre of the zorvel's box, found from its orange body.
std::optional<Point> FindCreature(const Screenshot& s);

// Moves the pointer to `target` and watches the zorvel, which swings around it; returns the
// nearest it came (pixels) before reaching 40 px of it or `timeout`.
double ChaseDistance(XSession& x, Point target, Ms timeout);

// The four digits at the top right (of a screenshot of any width), each matched against the game's
// own glyphs; nullopt when a cell shows no glyph whole.
std::optional<std::string> ReadDigits(const Screenshot& s);

// Where each block can be seen: a pixel of it that neither the health bar nor any digit
// glyph ever covers.
class BlockSamples {
 public:
  BlockSamples();
  const Point& Of(int block) const { return points_[static_cast<std::size_t>(block)]; }
  bool Shown(const Screenshot& s, int block) const { return s.At(Of(block).x, Of(block).y) != 0; }

 private:
  std::vector<Point> points_;
};

}  // namespace e2e
