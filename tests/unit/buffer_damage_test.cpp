// Frames drawn into buffers that the compositor holds in turn: each buffer handed to the
// compositor shows the whole newest picture, though only changed rectangles are drawn.
#include "platform/buffer_damage.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace platform {
namespace {

constexpr int kW = 40, kH = 24;
using Image = std::vector<int>;

void Paint(Image& image, const PixelRect& r, int value) {
  for (int y = r.y0; y < r.y1; ++y)
    for (int x = r.x0; x < r.x1; ++x)
      image[static_cast<std::size_t>(y) * kW + static_cast<std::size_t>(x)] = value;
}

// How long the compositor keeps a buffer after it was committed: released at once, until the
// next commit, for a random few frames, or long (while a buffer misses many rectangles).
enum class Holding { kReleasedAtOnce, kUntilNextCommit, kRandomly, kForLong };

class BufferDamageTest : public ::testing::TestWithParam<Holding> {
 protected:
  static constexpr int kBuffers = 2;
  BufferDamage damage_{kBuffers};
  std::array<Image, kBuffers> buffers_{Image(kW * kH, -1), Image(kW* kH, -1)};
  std::array<int, kBuffers> held_for_{0, 0};  // frames until released; 0 = released
  Image screen_ = Image(kW * kH, -1);         // what the scene holds as the newest frame
  std::mt19937 random_{12};
  long copied_ = 0;

  PixelRect RandomRect() {
    std::uniform_int_distribution<int> x(0, kW - 1), y(0, kH - 1), side(1, 9);
    const int x0 = x(random_), y0 = y(random_);
    return PixelRect{x0, y0, std::min(kW, x0 + side(random_)), std::min(kH, y0 + side(random_))};
  }

  // One frame: pick a free buffer, bring it up to date, draw `rects`, commit it. False when no
  // buffer is free.
  bool Frame(const std::vector<PixelRect>& rects, int value) {
    std::array<bool, kBuffers> released{};
    for (int i = 0; i < kBuffers; ++i) released[i] = held_for_[i] == 0;
    const int index = damage_.Pick(released);
    if (index < 0) return false;
    EXPECT_TRUE(released[index]) << "drew into a buffer the compositor still holds";
    Image& target = buffers_[index];
    for (const PixelRect& r : damage_.Missed(index, {0, 0, kW, kH})) {
      for (int y = r.y0; y < r.y1; ++y)
        for (int x = r.x0; x < r.x1; ++x) {
          target[y * kW + x] = buffers_[damage_.Newest()][y * kW + x];
          ++copied_;
        }
    }
    for (const PixelRect& r : rects) {
      Paint(target, r, value);
      Paint(screen_, r, value);
    }
    damage_.Drawn(index, rects);
    // The commit: the compositor now holds it, and lets go of the others as it chooses.
    for (int i = 0; i < kBuffers; ++i) {
      if (i == index) continue;
      if (GetParam() == Holding::kUntilNextCommit) held_for_[i] = 0;
      if (GetParam() >= Holding::kRandomly && held_for_[i] > 0) --held_for_[i];
    }
    held_for_[index] = GetParam() == Holding::kReleasedAtOnce    ? 0
                       : GetParam() == Holding::kUntilNextCommit ? 1
                       : GetParam() == Holding::kRandomly        ? static_cast<int>(random_() % 3)
                                                                 : (random_() % 2 != 0 ? 0 : 25);
    return true;
  }
};

TEST_P(BufferDamageTest, EveryCommittedBufferShowsTheWholeNewestPicture) {
  // The first frame paints the whole window, as the scene does for a new buffer.
  ASSERT_TRUE(Frame({{0, 0, kW, kH}}, 0));
  for (int frame = 1; frame < 400; ++frame) {
    std::vector<PixelRect> rects;
    for (int k = static_cast<int>(random_() % 4); k > 0; --k) rects.push_back(RandomRect());
    if (!Frame(rects, frame)) {
      for (int& held : held_for_) held = 0;  // the compositor lets go in the end
      ASSERT_TRUE(Frame(rects, frame));
    }
    ASSERT_EQ(buffers_[damage_.Newest()], screen_) << "frame " << frame;
  }
  // Reusing the newest buffer whenever it is free copies nothing.
  if (GetParam() == Holding::kReleasedAtOnce) {
    EXPECT_EQ(copied_, 0);
  }
}

TEST_P(BufferDamageTest, AfterResetANewBufferIsFilledWholeFromTheNewest) {
  ASSERT_TRUE(Frame({{0, 0, kW, kH}}, 0));
  held_for_[damage_.Newest()] = 5;
  ASSERT_TRUE(Frame({{1, 1, 2, 2}}, 1));
  EXPECT_EQ(buffers_[damage_.Newest()], screen_);
  // Both free again: the newest lacks nothing, so it is drawn in again.
  EXPECT_EQ(damage_.Pick(std::array<bool, 2>{true, true}), damage_.Newest());
  damage_.Reset();
  EXPECT_EQ(damage_.Newest(), -1);
  EXPECT_TRUE(damage_.Missed(0, {0, 0, kW, kH}).empty()) << "nothing to copy from";
  held_for_ = {0, 0};
  EXPECT_EQ(damage_.Pick(std::array<bool, 2>{false, false}), -1);
}

INSTANTIATE_TEST_SUITE_P(Compositors, BufferDamageTest,
                         ::testing::Values(Holding::kReleasedAtOnce, Holding::kUntilNextCommit,
                                           Holding::kRandomly, Holding::kForLong));

}  // namespace
}  // namespace platform
