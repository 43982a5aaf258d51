// The menu icons: the game's own 32×32 icon, and larger sizes scaled from it pixel for pixel
// so the pixel art stays crisp.
#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct Pixels {
  int width = 0, height = 0;
  std::vector<std::uint32_t> argb;
  std::uint32_t At(int x, int y) const { return argb[static_cast<std::size_t>(y) * width + x]; }
};

Pixels Load(const std::string& path) {
  Pixels p;
  SDL_Surface* loaded = IMG_Load(path.c_str());
  if (loaded == nullptr) {
    ADD_FAILURE() << path << ": " << IMG_GetError();
    return p;
  }
  SDL_Surface* argb = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(loaded);
  if (argb == nullptr) {
    ADD_FAILURE() << path << ": " << SDL_GetError();
    return p;
  }
  p.width = argb->w;
  p.height = argb->h;
  for (int y = 0; y < argb->h; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(
        static_cast<const std::uint8_t*>(argb->pixels) + y * argb->pitch);
    p.argb.insert(p.argb.end(), row, row + argb->w);
  }
  SDL_FreeSurface(argb);
  return p;
}

std::string Icon(int size) {
  const std::string s = std::to_string(size);
  return GLOMPER_ASSETS "/icons/hicolor/" + s + "x" + s + "/apps/glomper.png";
}

TEST(IconsTest, TheSmallestIsTheGamesOwnIcon) {
  const Pixels icon = Load(Icon(32));
  const Pixels window_icon = Load(GLOMPER_ASSETS "/pictures/icon.bmp");
  ASSERT_EQ(icon.width, 32);
  ASSERT_EQ(icon.height, 32);
  ASSERT_EQ(window_icon.width, 32);
  ASSERT_EQ(window_icon.height, 32);
  EXPECT_EQ(icon.argb, window_icon.argb);
}

class LargerIconTest : public ::testing::TestWithParam<int> {};

// Each pixel takes the colour of the 32×32 pixel under its centre: no blending.
TEST_P(LargerIconTest, IsTheSmallestScaledNearestNeighbour) {
  const int size = GetParam();
  const Pixels small = Load(Icon(32));
  const Pixels large = Load(Icon(size));
  ASSERT_EQ(small.width, 32);
  ASSERT_EQ(large.width, size);
  ASSERT_EQ(large.height, size);
  int wrong = 0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const int sx = (2 * x + 1) * 32 / (2 * size), sy = (2 * y + 1) * 32 / (2 * size);
      if (large.At(x, y) != small.At(sx, sy) && ++wrong <= 5) {
        ADD_FAILURE() << size << "x" << size << " pixel (" << x << ", " << y << ") is " << std::hex
                      << large.At(x, y) << ", the 32x32 one under it " << small.At(sx, sy);
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LargerIconTest, ::testing::Values(48, 64, 128, 256));

}  // namespace
