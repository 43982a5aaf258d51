#pragma once

#include <cstdint>
#include <span>

#include "platform/dialog_art.h"

namespace glomper::assets {

inline constexpr int kCreatureFrames = 3;
inline constexpr int kDigits = 10;

// The pictures travel inside the program; each accessor returns the file's bytes.
std::span<const std::uint8_t> CreatureFrameGif(int frame);  // 38 × 35, GIF89a, 16 colours
std::span<const std::uint8_t> BlockTileGif();               // 16 × 16, GIF87a, 8 colours
std::span<const std::uint8_t> DigitGlyphGif(int digit);     // 36 × 48, GIF89a, 16 colours
std::span<const std::uint8_t> IconBmp();                    // 32 × 32, 24-bit
platform::DialogArt DialogArt();

}  // namespace glomper::assets
