// The health bar that times the game, and the blocks-left counter that decides victory.
#include <gtest/gtest.h>

#include <map>

#include "assets/sprite_set.h"
#include "platform/gif_decoder.h"
#include "tests/support/headless_game.h"

namespace glomper {
namespace {

using platform::Rgb;
using testing::HeadlessGame;

class HealthBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Parked on its start: the zorvel hovers there, nowhere near eating every block.
    game_.system.MovePointer(76, 124);
    game_.StartPlay();
  }
  HeadlessGame game_{1024, 768};
};

TEST_F(HealthBarTest, LosesOneTwipATickAndStepsColourOnlyAtItsSevenWidths) {
  const Form1& f = *game_.form;
  const std::map<int, Rgb> steps = {
      {815, {0, 255, 0}},   {1815, {40, 200, 0}}, {2815, {80, 160, 0}}, {3815, {120, 120, 0}},
      {4815, {160, 80, 0}}, {5815, {200, 40, 0}}, {6815, {255, 0, 0}}};
  Rgb colour{0, 192, 0};
  for (int tick = 1; tick <= 7800; ++tick) {
    ASSERT_TRUE(game_.Tick()) << tick;
    ASSERT_EQ(f.Picture2.Width(), 7815 - tick);
    if (auto step = steps.find(tick); step != steps.end()) colour = step->second;
    ASSERT_EQ(f.Picture2.FillColor(), colour) << "tick " << tick;
  }
  EXPECT_EQ(f.Picture2.Width(), 15) << "alive at one pixel";
  EXPECT_TRUE(f.Picture2.Visible());
  EXPECT_EQ(game_.Pixel(0, 0), 0xFF0000u);
}

TEST_F(HealthBarTest, TheFirstColourStepIsABrighterGreen) {
  for (int tick = 0; tick < 815; ++tick) game_.Tick();
  EXPECT_EQ(game_.Pixel(0, 0), 0x00FF00u);
}

TEST_F(HealthBarTest, AtTick7801TheBarIsGoneAndTheMissionFailsWithNothingAfter) {
  const Form1& f = *game_.form;
  bool clock_stopped_while_shown = false;
  std::uint32_t corner_while_shown = 0;
  int frame_tick_while_shown = -1;
  game_.system.on_message = [&](const platform::RecordedMessage&) {
    clock_stopped_while_shown = !f.Timer1.Enabled();
    corner_while_shown = game_.Pixel(0, 0);
    frame_tick_while_shown = f.FrameTick;
  };
  EXPECT_EQ(game_.TicksUntilEnd(8000), 7801);
  EXPECT_EQ(game_.system.Now(), (1 + 78010) * platform::kNsPerMs) << "78.01 s after play began";
  ASSERT_EQ(game_.system.Messages().size(), 2u);
  const platform::RecordedMessage& m = game_.system.Messages()[1];
  EXPECT_EQ(m.title, "MISSION FAILED");
  EXPECT_EQ(m.text, "MISSION FAILED!");
  EXPECT_EQ(m.icon, platform::MessageIcon::kCritical);
  EXPECT_FALSE(f.Picture2.Visible());
  EXPECT_EQ(f.Picture2.Width(), 14);
  EXPECT_TRUE(clock_stopped_while_shown);
  EXPECT_NE(corner_while_shown, 0xFF0000u) << "the bar is gone before the box shows";
  EXPECT_EQ(frame_tick_while_shown, 7801 % 61) << "the animation ran first in the losing tick";
  EXPECT_EQ(game_.system.ExitStatus(), 0);
  EXPECT_FALSE(game_.Tick());
}

TEST_F(HealthBarTest, DefeatInATickExcludesVictoryInIt) {
  Form1& f = *game_.form;
  for (int tick = 0; tick < 7800; ++tick) game_.Tick();
  // The next tick would eat the block under the zorvel, the last one counted.
  const double left = f.Picture1.Left(), top = f.Picture1.Top();
  game_.system.RunAsEvent([&] {
    f.BlocksEaten = static_cast<Integer>(f.BlockCount - 1);
    f.Image2(f.CellIndex).SetVisible(true);
  });
  const int eaten = f.BlocksEaten;
  EXPECT_FALSE(game_.Tick());
  EXPECT_EQ(game_.system.Messages().back().title, "MISSION FAILED");
  EXPECT_EQ(f.BlocksEaten, eaten);
  EXPECT_EQ(f.Picture1.Left(), left) << "the zorvel did not move in the losing tick";
  EXPECT_EQ(f.Picture1.Top(), top);
}

class BlocksLeftTest : public ::testing::Test {
 protected:
  void SetUp() override { game_.StartPlay(); }
  // The digit shown in each cell, found by the glyph's picture.
  std::string Shown() {
    std::string text;
    for (int k = 0; k < 4; ++k) {
      int digit = -1;
      for (int d = 0; d < 10; ++d) {
        if (game_.form->Image3(k).GetPicture() == game_.form->GetForm2().Image1(d).GetPicture()) {
          digit = d;
        }
      }
      text += digit < 0 ? '?' : static_cast<char>('0' + digit);
    }
    return text;
  }
  void ShowCount(int left) {
    game_.system.RunAsEvent([&] {
      game_.form->BlocksLeft = static_cast<Integer>(left);
      game_.form->ShowBlocksLeft();
    });
  }
  HeadlessGame game_{1024, 768};
};

TEST_F(BlocksLeftTest, ShowsFourZerosFromTheStartWhichAreNoVictory) {
  EXPECT_EQ(Shown(), "0000");
  EXPECT_EQ(game_.form->BlocksLeft, 0);
  game_.system.MovePointer(76, 124);
  for (int tick = 0; tick < 100; ++tick) ASSERT_TRUE(game_.Tick());
  EXPECT_EQ(game_.system.Messages().size(), 1u);
}

TEST_F(BlocksLeftTest, TheFirstBlockEatenShows0767OnTheScreen) {
  ASSERT_TRUE(game_.Tick());
  EXPECT_EQ(game_.form->BlocksEaten, 1);
  EXPECT_EQ(Shown(), "0767");
  const auto seven = platform::DecodeGif(assets::DigitGlyphGif(7));
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 36; ++x) {
      if (platform::Picture::Opaque(seven->At(x, y))) {
        ASSERT_EQ(game_.Pixel(916 + x, y), seven->At(x, y) & 0xFFFFFF);
      }
    }
  }
}

class CounterTextTest : public BlocksLeftTest,
                        public ::testing::WithParamInterface<std::pair<int, std::string>> {};

TEST_P(CounterTextTest, ShowsTheLastFourDigitsOfTheCount) {
  ShowCount(GetParam().first);
  EXPECT_EQ(Shown(), GetParam().second);
  EXPECT_FALSE(game_.system.Ended());
}

INSTANTIATE_TEST_SUITE_P(Counts, CounterTextTest,
                         ::testing::Values(std::pair<int, std::string>{767, "0767"},
                                           std::pair<int, std::string>{5, "0005"},
                                           std::pair<int, std::string>{1000, "1000"},
                                           std::pair<int, std::string>{9999, "9999"},
                                           std::pair<int, std::string>{12345, "2345"},
                                           std::pair<int, std::string>{30888, "0888"}));

// The screen changes size during play: the board stays as it was laid, and the count stands
// against the new right edge, where the player can read it.
class ScreenResizeTest : public BlocksLeftTest,
                         public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(ScreenResizeTest, TheBoardStaysAndTheDigitsFollowTheRightEdge) {
  const int w = GetParam().first, h = GetParam().second;  // a lambda cannot capture a binding
  Form1& f = *game_.form;
  const int blocks = f.Image2.Size();
  const Integer count = f.BlockCount;
  game_.system.RunAsEvent([&] { game_.Window().SetSize(w, h, true); });
  ASSERT_TRUE(game_.Tick());
  EXPECT_EQ(f.Image2.Size(), blocks) << "the board was laid again";
  EXPECT_EQ(f.BlockCount, count);
  EXPECT_EQ(Shown(), "0767");
  EXPECT_EQ(f.Image3(3).Left() + f.Image3(3).Width(), w * 15);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(f.Image3(k).Left() + f.Image3(k).Width(), f.Image3(k + 1).Left()) << "cell " << k;
  }
  // The units digit, a 7, shows whole at the new right edge.
  const auto seven = platform::DecodeGif(assets::DigitGlyphGif(7));
  const int left = w - seven->Width();
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 36; ++x) {
      if (platform::Picture::Opaque(seven->At(x, y))) {
        ASSERT_EQ(game_.Pixel(left + x, y), seven->At(x, y) & 0xFFFFFF) << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScreenResizeTest,
                         ::testing::Values(std::pair{800, 600}, std::pair{1280, 1024}));

TEST_F(BlocksLeftTest, ZeroLeftShowsZerosThenVictoryWithTheClockStopped) {
  bool clock_stopped_while_shown = false;
  game_.system.on_message = [&](const platform::RecordedMessage&) {
    clock_stopped_while_shown = !game_.form->Timer1.Enabled();
  };
  ShowCount(1);
  ShowCount(0);
  EXPECT_EQ(Shown(), "0000");
  ASSERT_TRUE(game_.system.Ended());
  EXPECT_TRUE(clock_stopped_while_shown);
  EXPECT_EQ(game_.system.Messages().back().title, "ZORVELS WIN!");
  EXPECT_EQ(game_.system.ExitStatus(), 0);
  EXPECT_FALSE(game_.Tick()) << "no tick after the end message";
}

TEST_F(BlocksLeftTest, EatingTheLastCountedBlockWins) {
  Form1& f = *game_.form;
  game_.system.RunAsEvent([&] { f.BlocksEaten = static_cast<Integer>(f.BlockCount - 1); });
  EXPECT_FALSE(game_.Tick()) << "the first tick eats the block under the zorvel";
  EXPECT_EQ(f.BlocksLeft, 0);
  EXPECT_EQ(f.FrameTick, 1) << "the animation ran before the winning move";
  EXPECT_EQ(game_.system.Messages().back().title, "ZORVELS WIN!");
}

}  // namespace
}  // namespace glomper
