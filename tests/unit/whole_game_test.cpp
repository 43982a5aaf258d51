// Whole games played through the real game window on the headless platform.
#include <gtest/gtest.h>

#include "tests/support/headless_game.h"
#include "tests/support/player.h"

namespace glomper {
namespace {

using testing::HeadlessGame;
using testing::SweepingPlayer;

// Plays until the game ends or `limit` ticks; returns the ticks played.
int Play(HeadlessGame& game, int limit) {
  SweepingPlayer player(*game.form);
  int ticks = 0;
  while (ticks < limit && !game.system.Ended()) {
    float x, y;
    if (player.Aim(x, y)) game.system.MovePointer(x, y);
    game.Tick();
    ++ticks;
  }
  return ticks;
}

TEST(WholeGameTest, EatingEveryBlockOn1024By768EndsInVictory) {
  HeadlessGame game(1024, 768);
  game.StartPlay();
  const int ticks = Play(game, 8000);
  std::printf("victory after %d ticks\n", ticks);
  ASSERT_TRUE(game.system.Ended());
  EXPECT_EQ(game.system.ExitStatus(), 0);
  EXPECT_LT(ticks, 7801);
  ASSERT_EQ(game.system.Messages().size(), 2u);
  EXPECT_EQ(game.system.Messages()[1].title, "ZORVELS WIN!");
  EXPECT_EQ(game.system.Messages()[1].text, "THE MISSION WAS A SUCCESS!");
  EXPECT_EQ(game.system.Messages()[1].icon, platform::MessageIcon::kInformation);
  EXPECT_EQ(game.form->BlocksEaten, 768);
  EXPECT_EQ(game.form->BlocksLeft, 0);
  EXPECT_TRUE(game.form->Image2(768).Visible()) << "the block below the screen is not counted";
}

TEST(WholeGameTest, On1280By1024VictoryCannotBeReachedAndTheBarEndsTheGameAtTick7801) {
  HeadlessGame game(1280, 1024);
  game.StartPlay();
  const int ticks = Play(game, 8000);
  ASSERT_TRUE(game.system.Ended());
  EXPECT_EQ(ticks, 7801);
  EXPECT_EQ(game.system.Messages().back().title, "MISSION FAILED");
  EXPECT_LE(game.form->BlocksEaten, 832) << "the lookup reaches at most 832 indices";
  EXPECT_GT(game.form->BlocksLeft, 0);
}

}  // namespace
}  // namespace glomper
