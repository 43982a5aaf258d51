#include "assets/sprite_set.h"

#include <stdexcept>
#include <string>
#include <string_view>

#include "assets/embedded_file.h"

namespace glomper::assets {

namespace {

std::span<const std::uint8_t> Embedded(std::string_view name) {
  for (std::size_t i = 0; i < kEmbeddedFileCount; ++i) {
    if (kEmbeddedFiles[i].name == name) return kEmbeddedFiles[i].bytes;
  }
  throw std::logic_error("picture not built into the program: " + std::string(name));
}

}  // namespace

std::span<const std::uint8_t> CreatureFrameGif(int frame) {
  return Embedded("creature" + std::to_string(frame) + ".gif");
}

std::span<const std::uint8_t> BlockTileGif() { return Embedded("block.gif"); }

std::span<const std::uint8_t> DigitGlyphGif(int digit) {
  return Embedded("digit" + std::to_string(digit) + ".gif");
}

std::span<const std::uint8_t> IconBmp() { return Embedded("icon.bmp"); }

platform::DialogArt DialogArt() {
  return {Embedded("dialog-information.rgba"), Embedded("dialog-critical.rgba"), IconBmp()};
}

}  // namespace glomper::assets
