// Playing the real binary: the board, the zorvel following the pointer, blocks vanishing.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cmath>

#include "tests/e2e/game_screen.h"

namespace e2e {
namespace {

class PlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x_.Ok());
    ASSERT_TRUE(
        StartPlaying(x_, started_,
                     {.pointer_at = Point{76, 124},  // where the zorvel starts: it waits there
                      .board_shown = [&] { return samples_.Shown(x_.Shoot(), 22 * kColumns + 30); },
                      .box_within = Ms(10000),
                      .board_within = Ms(5000),
                      .board_every = Ms(10)}));
  }
  void TearDown() override {
    x_.PressKey(XK_Escape);
    EXPECT_EQ(game_.WaitExit(Ms(1000)), 0);
  }

  XSession x_{1024, 768};
  Game started_;
  Process& game_ = started_.process;
  BlockSamples samples_;
};

TEST_F(PlayTest, TheBoardCoversTheScreenWithOneTileRepeated) {
  const Screenshot s = x_.Shoot();
  int checked = 0;
  for (int y = 48; y < 768; y += 3) {
    for (int x = 0; x < 1024; x += 3) {
      if (x >= 40 && x < 110 && y >= 90 && y < 160) continue;  // the zorvel
      ASSERT_EQ(s.At(x, y), s.At(x % kBlockPx, kBlockPx + y % kBlockPx)) << x << "," << y;
      ++checked;
    }
  }
  EXPECT_GT(checked, 70000);
  EXPECT_NE(s.At(1023, 400), 0u) << "the one-pixel sliver of the last column";
}

TEST_F(PlayTest, TheZorvelFollowsThePointerAndEatsBlocksAlongItsWay) {
  EXPECT_LT(ChaseDistance(x_, {800, 600}, Ms(6000)), 40)
      << "the zorvel never came near the pointer";

  const Screenshot s = x_.Shoot();
  int eaten = 0;
  for (int block = 0; block < kBlocks; ++block) {
    if (samples_.Shown(s, block)) continue;
    ++eaten;
    // Its way ran from (76, 124) to around (800, 600): nothing far off it is eaten.
    const Point at = samples_.Of(block);
    EXPECT_TRUE(at.x < 950 && at.y > 60 && at.y < 720) << "far from the path: block " << block;
  }
  EXPECT_GT(eaten, 15);
}

}  // namespace
}  // namespace e2e
