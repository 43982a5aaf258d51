// The blocks-left counter, the bar's 78 seconds, and the two endings, on the real binary.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "tests/e2e/game_screen.h"

namespace e2e {
namespace {

class HudTest : public ::testing::Test {
 protected:
  // Starts the game and returns when its board is on the screen.
  void Start() {
    ASSERT_TRUE(x_.Ok());
    x_.MovePointer(76, 124);
    game_ = x_.StartGame();
    ASSERT_TRUE(x_.WaitForWindow("HOW TO PLAY", Ms(10000)));
    x_.PressKey(XK_Return);
    const Point probe = samples_.Of(22 * kColumns + 30);
    ASSERT_TRUE(WaitFor([&] { return x_.PixelAt(probe.x, probe.y) != 0; }, Ms(5000), Ms(1)));
    board_shown_ = Clock::now();
  }

  XSession x_{1024, 768};
  Process game_;
  BlockSamples samples_;
  Clock::time_point board_shown_;
};

TEST_F(HudTest, TheCounterShowsFourZerosThenTheBlocksLeftAsTheyAreEaten) {
  Start();
  EXPECT_EQ(ReadDigits(x_.Shoot()), "0000");
  for (const Point p : {Point{300, 400}, Point{700, 300}, Point{850, 600}}) {
    x_.MovePointer(p.x, p.y);
    std::this_thread::sleep_for(Ms(1000));
  }
  const Screenshot s = x_.Shoot();
  const auto digits = ReadDigits(s);
  ASSERT_TRUE(digits) << "the counter shows no digits";
  const int left = std::atoi(digits->c_str());
  const auto creature = FindCreature(s);
  ASSERT_TRUE(creature);
  int eaten = 0, hidden_by_creature = 0;
  for (int block = 0; block < kBlocks; ++block) {
    if (samples_.Shown(s, block)) continue;
    const Point at = samples_.Of(block);
    const bool under_box = std::abs(at.x - creature->x) < 45 && std::abs(at.y - creature->y) < 45;
    ++(under_box ? hidden_by_creature : eaten);
  }
  EXPECT_GT(eaten, 20);
  EXPECT_GE(kBlocks - left, eaten) << "counter " << *digits;
  EXPECT_LE(kBlocks - left, eaten + hidden_by_creature) << "counter " << *digits;

  const char* keep = std::getenv("GLOMPER_SCREENSHOT");
  EXPECT_TRUE(s.SavePng(keep != nullptr ? keep : ::testing::TempDir() + "glomper-in-play.png"));
  x_.PressKey(XK_Escape);
  EXPECT_EQ(game_.WaitExit(Ms(1000)), 0);
}

TEST_F(HudTest, TheDefeatBoxAppears78SecondsAfterTheBoardAndReturnEndsTheGame) {
  Start();
  std::this_thread::sleep_for(Ms(77500));
  ASSERT_TRUE(game_.Running());
  EXPECT_EQ(x_.PixelAt(0, 0), 0xFF0000u) << "the bar's last colour, still there";
  std::optional<WindowInfo> box;
  WaitFor(
      [&] {
        box = x_.FindWindow([](const WindowInfo& w) { return w.title == "MISSION FAILED"; });
        return box.has_value();
      },
      Ms(3000), Ms(2));
  const double seconds = std::chrono::duration<double>(Clock::now() - board_shown_).count();
  std::printf("board on screen -> defeat box mapped: %.3f s\n", seconds);
  ASSERT_TRUE(box) << "no defeat box";
  EXPECT_NEAR(seconds, 78.01, 0.25);
  EXPECT_NE(x_.PixelAt(0, 0), 0xFF0000u) << "the bar is gone";
  x_.PressKey(XK_Return);
  EXPECT_EQ(game_.WaitExit(Ms(2000)), 0);
}

// Plays like a person watching the screen: sweeps the lookup cells row by row, aiming at the
// first whose block is still drawn. Under the zorvel's own box a block cannot be seen; there
// the one its centre looks up is taken as eaten, and any other keeps its last seen state.
TEST_F(HudTest, EatingEveryBlockWithThePointerEndsInVictory) {
  Start();
  std::vector<bool> eaten(kBlocks, false);
  std::optional<WindowInfo> box;
  const auto deadline = board_shown_ + Ms(78000);
  for (int round = 0; Clock::now() < deadline; ++round) {
    const Screenshot s = x_.Shoot();
    const auto creature = FindCreature(s);
    for (int block = 0; block < kBlocks; ++block) {
      const Point at = samples_.Of(block);
      const bool covered = creature && at.x > creature->x - 24 && at.x < creature->x + 24 &&
                           at.y > creature->y - 24 && at.y < creature->y + 24;
      if (!covered) eaten[block] = !samples_.Shown(s, block);
    }
    if (creature) eaten[creature->y / 32 * kColumns + creature->x / 32] = true;
    int target = -1;
    for (int k = 0; k < kBlocks && target < 0; ++k) {
      const int row = k / kColumns, column = k % kColumns;
      const int cell = row * kColumns + (row % 2 == 0 ? column : kColumns - 1 - column);
      if (!eaten[cell]) target = cell;
    }
    if (target >= 0) x_.MovePointer(target % kColumns * 32 + 16, target / kColumns * 32 + 16);
    if (round % 10 == 0 &&
        (box = x_.FindWindow([](const WindowInfo& w) { return w.title == "ZORVELS WIN!"; }))) {
      break;
    }
    std::this_thread::sleep_for(Ms(5));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - board_shown_).count();
  std::printf("victory box after %.1f s of play\n", seconds);
  ASSERT_TRUE(box) << "no victory before the bar ran out";
  EXPECT_EQ(ReadDigits(x_.Shoot()), "0000");
  x_.PressKey(XK_Return);
  EXPECT_EQ(game_.WaitExit(Ms(2000)), 0);
}

}  // namespace
}  // namespace e2e
