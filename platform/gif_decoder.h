#pragma once

#include <cstdint>
#include <span>

#include "platform/picture.h"

namespace platform {

// Larger sides are refused before anything is allocated: the game's pictures are a few dozen
// pixels across, and a forged header must not ask for gigabytes.
inline constexpr int kGifMaxSide = 4096;

// Decodes a GIF held in memory into the window's pixel format: opaque pixels are
// 0xFF000000 | rgb, the transparent index is 0. Reads the first image, which must cover the
// whole logical screen (the game's pictures are single frames); further frames are not read.
// Anything else, and anything malformed or cut short, gives null; nothing is read past the
// bytes given.
PictureRef DecodeGif(std::span<const std::uint8_t> gif);

}  // namespace platform
