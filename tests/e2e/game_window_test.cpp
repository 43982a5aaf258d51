// The real binary on a real X server: instructions, the full-screen window, ending it.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/game_screen.h"

namespace e2e {
namespace {

// The bar, 17 pixels high and never wider than at the start (however late this machine took
// the screenshot: it shrinks a pixel every 0.15 s), and a tile below it.
bool BarAndTileShown(const Screenshot& s) {
  const int width = BarWidth(s);
  return s.At(0, 0) == kBarGreen && width > 0 && width <= BarWidthsWithin(0).second &&
         s.At(width - 1, 16) == kBarGreen && s.At(0, 17) != kBarGreen && s.At(5, 20) != 0 &&
         s.At(28, 30) != 0;
}

class GameWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(x_.Ok()) << "cannot start Xvfb with openbox"; }

  // Starts the game and dismisses its instructions with Return.
  void StartAndDismissInstructions() {
    ASSERT_TRUE(StartPlaying(x_, started_,
                             {.board_shown = [&] { return BarAndTileShown(x_.Shoot()); },
                              .box_within = Ms(10000),
                              .board_within = Ms(5000),
                              .board_every = Ms(10)}))
        << "the game window did not appear";
  }

  XSession x_{1024, 768};
  Game started_;
  Process& game_ = started_.process;
};

class InstructionsTest : public GameWindowTest, public ::testing::WithParamInterface<Box> {};

// GTK's box or the game's own: the same title and icon, and Return dismisses it. Launched
// from a menu, the box is the window the launcher waits for.
TEST_P(InstructionsTest, ShowFirstWithTheirIconThenTheWindowCoversTheScreen) {
  const std::string launch = "glomper-e2e-" + std::to_string(getpid());
  x_.WatchStartupMessages();
  game_ = LaunchGame(x_, {.box = GetParam(), .launch_id = launch});
  const auto box = x_.WaitForWindow("HOW TO PLAY", Ms(10000));
  ASSERT_TRUE(box) << "no instructions box";
  EXPECT_FALSE(x_.FindWindowOfPid(game_.Pid())) << "no game window before the instructions";
  EXPECT_EQ(x_.StartupIdOf(box->id), launch);
  const std::string done = "remove: ID=\"" + launch + "\"";
  EXPECT_TRUE(WaitFor(
      [&] {
        const std::vector<std::string> m = x_.StartupMessages();
        return std::find(m.begin(), m.end(), done) != m.end();
      },
      Ms(5000)))
      << "the launcher is never told the game is up";
  // The information icon: a blue disc at the left of the box.
  bool blue = false;
  WaitFor(
      [&] {
        const Screenshot shot = x_.Shoot();
        for (int y = box->y; y < box->y + box->height && !blue; ++y) {
          for (int x = box->x; x < box->x + 80 && !blue; ++x) {
            const std::uint32_t p = shot.At(x, y);
            blue = (p & 0xFF) > 0xB0 && (p >> 16) < 0x60;
          }
        }
        return blue;
      },
      Ms(3000));
  EXPECT_TRUE(blue) << "no information icon in the box";

  ASSERT_TRUE(x_.Dismiss("HOW TO PLAY", Ms(20000)));
  ASSERT_TRUE(WaitFor([&] { return BarAndTileShown(x_.Shoot()); }, Ms(5000)));
  const auto window = x_.FindWindowOfPid(game_.Pid());
  ASSERT_TRUE(window);
  EXPECT_EQ(window->x, 0);
  EXPECT_EQ(window->y, 0);
  EXPECT_EQ(window->width, 1024);
  EXPECT_EQ(window->height, 768);
  EXPECT_TRUE(game_.Running());
}

INSTANTIATE_TEST_SUITE_P(Boxes, InstructionsTest,
                         ::testing::Values(Box::kGtk, Box::kNoGtk, Box::kGtkStarved));

TEST_F(GameWindowTest, EscEndsTheGameWithinOneSecondWithStatusZero) {
  StartAndDismissInstructions();
  x_.PressKey(XK_Escape);
  EXPECT_EQ(game_.WaitExit(Ms(1000)), 0);
}

TEST_F(GameWindowTest, OtherKeysDoNothing) {
  StartAndDismissInstructions();
  for (unsigned long key : {XK_a, XK_space, XK_Return, XK_q, XK_F4}) x_.PressKey(key);
  EXPECT_FALSE(game_.WaitExit(Ms(500)));
  x_.PressKey(XK_Escape);
  EXPECT_EQ(game_.WaitExit(Ms(1000)), 0);
}

TEST_F(GameWindowTest, TheWindowManagersCloseRequestEndsTheGame) {
  StartAndDismissInstructions();
  const auto window = x_.FindWindowOfPid(game_.Pid());
  ASSERT_TRUE(window);
  x_.RequestClose(window->id);
  EXPECT_EQ(game_.WaitExit(Ms(1000)), 0);
}

TEST(NoDisplayTest, ExitsWithStatusOneAndOneClearLine) {
  const std::string err = TempPath("stderr");
  Process game({GameBinary()}, {}, {"DISPLAY", "WAYLAND_DISPLAY"}, err);
  EXPECT_EQ(game.WaitExit(Ms(5000)), 1);
  EXPECT_FALSE(game.DumpedCore());
  const std::string text = ReadTextFile(err);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_NE(text.find("glomper: cannot open the display"), std::string::npos) << text;
}

}  // namespace
}  // namespace e2e
