#pragma once

#include <cassert>
#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/geometry.h"

namespace glomper {

// The game's counts, cells and indices are 16-bit signed; its speeds and targets are floats.
using Integer = std::int16_t;
using Single = float;

inline constexpr long kIntegerMax = std::numeric_limits<Integer>::max();
inline constexpr long kIntegerMin = std::numeric_limits<Integer>::min();
inline constexpr double kTwipsPerPixel = platform::kTwipsPerPixel;

// Nearest whole number, a tie going to the even one (the default rounding mode does that).
inline long Round(double x) { return std::lrint(x); }

// Integer division truncating toward zero.
inline long Div(long a, long b) { return a / b; }

inline bool FitsInteger(long value) { return value >= kIntegerMin && value <= kIntegerMax; }

// Stores a result that the game keeps in range; arithmetic itself is done in wider types
// so that no intermediate step can overflow.
inline Integer ToInteger(long value) {
  assert(FitsInteger(value));
  return static_cast<Integer>(value);
}

// Sprite geometry is in twips; the game steers in pixels held as floats.
inline Single Pixels(double twips) { return static_cast<Single>(twips / kTwipsPerPixel); }
inline double Twips(double pixels) { return pixels * kTwipsPerPixel; }

}  // namespace glomper
