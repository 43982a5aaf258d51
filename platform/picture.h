#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// A decoded picture in the window's pixel format (0xAARRGGBB); alpha is 0 (transparent) or 0xFF.
class Picture {
 public:
  Picture(int width, int height, std::vector<std::uint32_t> pixels);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool HasTransparency() const { return has_transparency_; }
  const std::uint32_t* Row(int y) const { return pixels_.data() + static_cast<long>(y) * width_; }
  std::uint32_t At(int x, int y) const { return Row(y)[x]; }

  // A nearest-neighbour copy at another size, made on first use and kept: drawing never scales.
  const Picture& ScaledTo(int width, int height) const;

  static bool Opaque(std::uint32_t pixel) { return (pixel >> 24) != 0; }

 private:
  int width_;
  int height_;
  std::vector<std::uint32_t> pixels_;
  bool has_transparency_;
  mutable std::vector<std::unique_ptr<Picture>> scaled_;
};

using PictureRef = std::shared_ptr<const Picture>;

}  // namespace platform
