// What a player's desktop does to a game: other screen sizes, no window manager, close
// requests and signals, a dying X server, pointer storms, other windows on top.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <tuple>
#include <vector>

#include "tests/e2e/game_screen.h"

namespace e2e {
namespace {

// Starts the game on `x` and returns once its board is on the screen; `dismissed` is when
// the instructions were dismissed, before which the bar cannot have started.
::testing::AssertionResult StartGame(XSession& x, Process& game,
                                     Clock::time_point* dismissed = nullptr, Box kind = Box::kGtk,
                                     const std::string& stderr_path = "") {
  if (!x.Ok()) return ::testing::AssertionFailure() << "no X server";
  ResetWakeUpLateness();
  x.MovePointer(x.Width() / 2, x.Height() / 2);
  game = x.StartGame(kind, stderr_path);
  const auto box = x.WaitForWindow("HOW TO PLAY", Ms(20000));
  if (!box) return ::testing::AssertionFailure() << "no instructions box";
  x.MovePointer(box->x + box->width / 2, box->y + box->height / 2);  // keys follow the pointer
  if (!x.Dismiss("HOW TO PLAY", Ms(20000), dismissed)) {
    return ::testing::AssertionFailure() << "the instructions box did not go";
  }
  // The bottom-right block, whatever the size, once the board is drawn.
  if (!WaitFor([&] { return x.PixelAt(x.Width() - 1, x.Height() - 1) != 0; }, Ms(20000))) {
    return ::testing::AssertionFailure() << "no board";
  }
  return ::testing::AssertionSuccess();
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class ScreenSizeTest : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(ScreenSizeTest, TheGameCoversTheScreenFollowsThePointerAndEndsOnEsc) {
  const auto [w, h] = GetParam();
  XSession x(w, h);
  Process game;
  Clock::time_point dismissed;
  ASSERT_TRUE(StartGame(x, game, &dismissed));
  const auto window = x.FindWindowOfPid(game.Pid());
  ASSERT_TRUE(window);
  EXPECT_EQ(window->x, 0);
  EXPECT_EQ(window->y, 0);
  EXPECT_EQ(window->width, w);
  EXPECT_EQ(window->height, h);
  // However long this machine took to find the window and read the screen, the bar is as
  // wide as that much play allows, and never wider than at the start.
  const Screenshot shot = x.Shoot();
  const auto [narrowest, widest] = BarWidthsWithin(TicksWithin(shot.to - dismissed));
  EXPECT_GE(BarWidth(shot), narrowest) << Seconds(shot.to - dismissed) << " s after Return";
  EXPECT_LE(BarWidth(shot), widest);
  EXPECT_EQ(shot.At(0, 8), kBarGreen);

  EXPECT_LT(ChaseDistance(x, {w * 3 / 4, h * 3 / 4}, Ms(10000)), 40)
      << "the zorvel never reached the pointer";
  x.PressKey(XK_Escape);
  EXPECT_EQ(game.WaitExit(Ms(1000)), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScreenSizeTest,
                         ::testing::Values(std::pair{640, 480}, std::pair{800, 600},
                                           std::pair{1280, 1024}, std::pair{1920, 1080},
                                           std::pair{3840, 2160}),
                         [](const auto& info) {
                           return std::to_string(info.param.first) + "x" +
                                  std::to_string(info.param.second);
                         });

class DepthTest : public ::testing::TestWithParam<int> {};

// 15 and 16 bits a pixel draw the board in its colours, as near as the screen has them; fewer
// cannot, and the game says so before play rather than show a black screen.
TEST_P(DepthTest, TheBoardIsDrawnInItsColoursOrTheGameRefusesBeforePlay) {
  const int depth = GetParam();
  XSession x(1024, 768, /*window_manager=*/true, depth);
  Process game;
  const std::string err = TempPath("stderr");
  if (depth < 15) {
    ASSERT_TRUE(x.Ok());
    game = x.StartGame(err);
    EXPECT_EQ(game.WaitExit(Ms(10000)), 1);
    EXPECT_EQ(ReadTextFile(err), "glomper: the screen shows " + std::to_string(depth) +
                                     "-bit colour; the game needs 15-bit colour or more\n");
    EXPECT_FALSE(x.FindWindow([](const WindowInfo& w) { return w.title == "HOW TO PLAY"; }));
    return;
  }
  ASSERT_TRUE(StartGame(x, game));
  const Screenshot s = x.Shoot();
  auto near = [](std::uint32_t seen, std::uint32_t wanted) {
    for (int shift : {0, 8, 16}) {
      if (std::abs(static_cast<int>((seen >> shift) & 0xFF) -
                   static_cast<int>((wanted >> shift) & 0xFF)) > 8) {
        return false;
      }
    }
    return true;
  };
  EXPECT_TRUE(near(s.At(0, 8), kBarGreen)) << std::hex << s.At(0, 8);
  // The tile repeats block after block, in the colours of the 24-bit screen.
  XSession full(1024, 768);
  Process reference;
  ASSERT_TRUE(StartGame(full, reference));
  const Screenshot r = full.Shoot();
  // A block far from the zorvel's way to the pointer at the middle.
  int compared = 0;
  for (int y = 20 * kBlockPx; y < 21 * kBlockPx; ++y) {
    for (int x0 = kBlockPx; x0 < 2 * kBlockPx; ++x0) {
      EXPECT_TRUE(near(s.At(x0, y), r.At(x0, y)))
          << x0 << "," << y << std::hex << " " << s.At(x0, y) << " vs " << r.At(x0, y);
      ++compared;
    }
  }
  EXPECT_GT(compared, 500);
  x.PressKey(XK_Escape);
  EXPECT_EQ(game.WaitExit(Ms(1000)), 0);
}

INSTANTIATE_TEST_SUITE_P(Depths, DepthTest, ::testing::Values(8, 15, 16));

TEST(WindowManagerTest, WithoutAWindowManagerTheGameStillStartsAndEscEndsIt) {
  XSession x(1024, 768, /*window_manager=*/false);
  Process game;
  Clock::time_point dismissed;
  ASSERT_TRUE(StartGame(x, game, &dismissed));
  const double seconds = Seconds(Clock::now() - dismissed);
  std::printf("instructions dismissed -> board, no window manager: %.2f s\n", seconds);
  const auto window = x.FindWindowOfPid(game.Pid());
  ASSERT_TRUE(window);
  EXPECT_EQ(window->x, 0) << "the game places its window over the screen itself";
  EXPECT_EQ(window->y, 0);
  EXPECT_EQ(window->width, 1024);
  EXPECT_EQ(window->height, 768);
  // Nobody maximises the window: play starts after the game's own two-second wait at most.
  EXPECT_LT(seconds, 2.0 + 1.0 + Seconds(WorstWakeUpLateness()));
  x.MovePointer(window->x + window->width / 2, window->y + window->height / 2);
  x.PressKey(XK_Escape);
  EXPECT_EQ(game.WaitExit(Ms(1000)), 0);
}

enum class Ending {
  kCloseRequest,
  kSigterm,
  kSigint,
  kSigtermDuringInstructions,
  kSigintDuringInstructions,
  kSigkillDuringInstructions,
  kServerDeathDuringInstructions,
};

class EndingTest : public ::testing::TestWithParam<std::tuple<Ending, Box>> {};

// However the game ends, with whichever box, it ends at once and nothing of it stays: no box
// on the screen, no process (a box of its own or anyone's), no core.
TEST_P(EndingTest, EndsPromptlyAndLeavesNothingBehind) {
  const auto [ending, box] = GetParam();
  XSession x(1024, 768);
  ASSERT_TRUE(x.Ok());
  Process game;
  const std::string err = TempPath("stderr");
  if (ending >= Ending::kSigtermDuringInstructions) {
    game = x.StartGame(box, err);
    ASSERT_TRUE(x.WaitForWindow("HOW TO PLAY", Ms(20000)));
  } else {
    ASSERT_TRUE(StartGame(x, game, nullptr, box, err));
  }
  int status = 0;
  Ms within(1000);
  switch (ending) {
    case Ending::kCloseRequest:
      x.RequestClose(x.FindWindowOfPid(game.Pid()).value().id);
      break;
    case Ending::kSigterm:
    case Ending::kSigtermDuringInstructions:
      game.Signal(SIGTERM);
      break;
    case Ending::kSigint:
    case Ending::kSigintDuringInstructions:
      game.Signal(SIGINT);
      break;
    case Ending::kSigkillDuringInstructions:
      game.Signal(SIGKILL);
      status = 128 + SIGKILL;
      break;
    case Ending::kServerDeathDuringInstructions:
      x.KillServer();
      status = 1;
      within = Ms(2000);
      break;
  }
  const auto ended = Clock::now() + within + WorstWakeUpLateness();
  EXPECT_EQ(game.WaitExit(within), status);
  EXPECT_FALSE(game.DumpedCore());
  EXPECT_TRUE(WaitFor([&] { return game.GroupGone(); },
                      std::chrono::duration_cast<Ms>(ended - Clock::now())))
      << "a process of the game outlived it";
  if (x.Ok()) {
    EXPECT_FALSE(x.FindWindow([](const WindowInfo& w) { return w.title == "HOW TO PLAY"; }));
  }
  const std::string text = ReadTextFile(err);
  if (ending == Ending::kServerDeathDuringInstructions) {
    EXPECT_EQ(text, "glomper: lost the connection to the display\n");
  } else if (ending != Ending::kSigkillDuringInstructions) {
    EXPECT_EQ(text, "") << "the game printed something";
  }
}

std::string EndingName(const ::testing::TestParamInfo<std::tuple<Ending, Box>>& info) {
  static const char* const kEndings[] = {"CloseRequest",
                                         "Sigterm",
                                         "Sigint",
                                         "SigtermDuringInstructions",
                                         "SigintDuringInstructions",
                                         "SigkillDuringInstructions",
                                         "ServerDeathDuringInstructions"};
  static const char* const kBoxes[] = {"Gtk", "NoGtk", "GtkStarved"};
  return std::string(kEndings[static_cast<int>(std::get<0>(info.param))]) +
         kBoxes[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    Endings, EndingTest,
    ::testing::Combine(::testing::Values(Ending::kCloseRequest, Ending::kSigterm, Ending::kSigint,
                                         Ending::kSigtermDuringInstructions,
                                         Ending::kSigintDuringInstructions,
                                         Ending::kSigkillDuringInstructions,
                                         Ending::kServerDeathDuringInstructions),
                       ::testing::Values(Box::kGtk, Box::kNoGtk, Box::kGtkStarved)),
    EndingName);

TEST(ServerDeathTest, TheGameExitsWithinASecondWhenTheXServerDies) {
  XSession x(1024, 768);
  Process game;
  const std::string err = TempPath("stderr");
  ASSERT_TRUE(StartGame(x, game, nullptr, Box::kGtk, err));
  ASSERT_TRUE(WaitFor([&] { return BarWidth(x.Shoot()) < 521; }, Ms(5000))) << "no play";
  const auto killed = Clock::now();
  x.KillServer();
  const auto status = game.WaitExit(Ms(2000));
  ASSERT_TRUE(status) << "the game hangs without its X server";
  std::printf("X server killed -> game exited with %d after %.3f s\n", *status,
              Seconds(Clock::now() - killed));
  EXPECT_FALSE(game.DumpedCore());
  EXPECT_EQ(*status, 1);
  EXPECT_EQ(ReadTextFile(err), "glomper: lost the connection to the display\n");
}

TEST(PointerStormTest, TensOfThousandsOfMovesNeitherSlowTheClockNorGrowMemory) {
  XSession x(1024, 768);
  Process game;
  ASSERT_TRUE(StartGame(x, game));
  // Two storms of 20 000 moves a second, three seconds each: the first may fill SDL's event
  // queue to its working size, the second must not add to it.
  int moves = 0;
  auto storm = [&] {
    const auto from = Clock::now();
    while (Clock::now() - from < Ms(3000)) {
      for (int i = 0; i < 20; ++i, ++moves) {
        x.MovePointer(100 + (moves * 37) % 800, 100 + (moves * 53) % 500, /*flush=*/false);
      }
      x.Sync();
      std::this_thread::sleep_for(Ms(1));
    }
  };
  const Screenshot before = x.Shoot();
  const auto waited_before = x.WaitedToRun(game.Pid());
  storm();
  // The first storm may grow SDL's event queue to its working size, and on a loaded machine
  // the next may find it fuller still; a leak grows with every storm.
  std::vector<long> memory = {XSession::MemoryKb(game.Pid())};
  for (int i = 0; i < 2; ++i) {
    storm();
    memory.push_back(XSession::MemoryKb(game.Pid()));
  }
  const Screenshot after = x.Shoot();
  const auto waited = x.WaitedToRun(game.Pid()) - waited_before;
  // The clock keeps time through the storm: the bar shrank by what the time between the two
  // screenshots allows, give or take how long each took, how late this machine wakes the
  // test up and how long it kept the game and the X server waiting.
  const auto shrink = BarWidth(before) - BarWidth(after);
  const double seconds = Seconds(after.from - before.to);
  const double on_time = seconds * 100 / 15;
  const double slack = 2 + Seconds(before.to - before.from + after.to - after.from +
                                   2 * WorstWakeUpLateness() + waited) *
                               100 / 15;
  std::printf(
      "%d pointer moves in %.2f s; bar shrank %d px (on time: %.1f ± %.1f); RSS %ld -> %ld -> %ld "
      "kB\n",
      moves, seconds, shrink, on_time, slack, memory[0], memory[1], memory[2]);
  EXPECT_GT(moves, 20000) << "no storm";
  EXPECT_NEAR(shrink, on_time, slack);
  EXPECT_LT(std::min(memory[1] - memory[0], memory[2] - memory[1]), 256)
      << "memory grows with every storm";
  x.PressKey(XK_Escape);
  EXPECT_EQ(game.WaitExit(Ms(1000)), 0);
}

TEST(OtherWindowTest, AnotherWindowOnTopThenTheGameActivatedAgainPlayGoesOn) {
  XSession x(1024, 768);
  Process game;
  ASSERT_TRUE(StartGame(x, game));
  const Window game_window = x.FindWindowOfPid(game.Pid()).value().id;
  const int bar_before = BarWidth(x.Shoot());
  const Window other = x.OpenOtherWindow(400, 300);
  ASSERT_TRUE(WaitFor([&] { return x.ActiveWindow() == other; }, Ms(5000)))
      << "the other window did not take the focus";
  ASSERT_TRUE(WaitFor([&] { return x.PixelAt(300, 250) == 0xFFFFFFu; }, Ms(5000)))
      << "the other window is not on top";
  EXPECT_TRUE(WaitFor([&] { return BarWidth(x.Shoot()) < bar_before - 5; }, Ms(5000)))
      << "the bar stopped while another window had the focus";
  x.Activate(game_window);
  ASSERT_TRUE(WaitFor([&] { return x.ActiveWindow() == game_window; }, Ms(5000)));
  EXPECT_TRUE(WaitFor([&] { return x.PixelAt(300, 250) != 0xFFFFFFu; }, Ms(5000)))
      << "the game is not on top again";
  EXPECT_LT(ChaseDistance(x, {800, 600}, Ms(6000)), 40) << "play did not go on";
  x.PressKey(XK_Escape);
  EXPECT_EQ(game.WaitExit(Ms(1000)), 0);
}

}  // namespace
}  // namespace e2e
