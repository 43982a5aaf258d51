#pragma once

#include <cstdint>
#include <span>

#include "platform/picture.h"

namespace platform {

// Decodes a GIF held in memory with SDL_image, once, into the window's pixel format.
// Returns null when the bytes are not a picture.
PictureRef DecodeGif(std::span<const std::uint8_t> gif);

}  // namespace platform
