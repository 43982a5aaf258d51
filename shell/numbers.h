#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

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
// so that no intermediate step can overflow. A value out of range is a fault in the game,
// checked in every build: it stops the game rather than wrap around.
inline Integer ToInteger(long value) {
  if (!FitsInteger(value)) {
    throw std::range_error(std::to_string(value) + " does not fit in a 16-bit Integer");
  }
  return static_cast<Integer>(value);
}

// Sprite geometry is in twips; the game steers in pixels held as floats.
inline Single Pixels(double twips) { return static_cast<Single>(twips / kTwipsPerPixel); }
inline double Twips(double pixels) { return pixels * kTwipsPerPixel; }

// Half a sprite's side in whole pixels, as the game finds the creature's centre.
inline Single HalfSidePixels(double twips) {
  return static_cast<Single>(Div(Round(Pixels(twips)), 2));
}

}  // namespace glomper
