#pragma once

#include <cstdint>
#include <span>

namespace platform {

// Our own art for message boxes, so they need no icon theme on the player's machine.
struct DialogArt {
  std::span<const std::uint8_t> information_rgba;  // 48 × 48, straight alpha
  std::span<const std::uint8_t> critical_rgba;
  std::span<const std::uint8_t> window_icon_bmp;  // 32 × 32, 24-bit
};

}  // namespace platform
