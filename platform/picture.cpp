#include "platform/picture.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace platform {

Picture::Picture(int width, int height, std::vector<std::uint32_t> pixels)
    : width_(width), height_(height), pixels_(std::move(pixels)) {
  // Checked in every build: a wrong count would read or write past the pixels.
  if (width_ < 0 || height_ < 0 ||
      static_cast<long>(width_) * height_ != static_cast<long>(pixels_.size())) {
    throw std::invalid_argument("a " + std::to_string(width_) + " x " + std::to_string(height_) +
                                " picture cannot hold " + std::to_string(pixels_.size()) +
                                " pixels");
  }
  has_transparency_ =
      std::any_of(pixels_.begin(), pixels_.end(), [](std::uint32_t p) { return !Opaque(p); });
}

const Picture& Picture::ScaledTo(int width, int height) const {
  if (width == width_ && height == height_) return *this;
  for (const auto& s : scaled_) {
    if (s->width_ == width && s->height_ == height) return *s;
  }
  std::vector<std::uint32_t> out(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* src = Row(static_cast<int>(static_cast<long>(y) * height_ / height));
    for (int x = 0; x < width; ++x) {
      out[static_cast<std::size_t>(y) * width + x] = src[static_cast<long>(x) * width_ / width];
    }
  }
  scaled_.push_back(std::make_unique<Picture>(width, height, std::move(out)));
  return *scaled_.back();
}

}  // namespace platform
