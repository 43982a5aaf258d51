// What a player's desktop does to a game: other screen sizes, no window manager, close
// requests and signals, a dying X server, pointer storms, other windows on top.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/e2e/game_screen.h"

namespace e2e {
namespace {

Area Whole(XSession& x) { return {0, 0, x.Width(), x.Height()}; }

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Play starts as soon as the window covers the screen: well before the two seconds the game
// waits for a window manager that never lets it, however late this machine wakes up.
Clock::duration StartAllowance() { return Ms(1500) + 2 * WorstWakeUpLateness(); }

// The game on a desktop: its window manager, the screen's size, the RandR monitors the
// screen is split into (the game is started with the pointer on the first) and the one the
// game covers.
struct Desk {
  Desktop desktop;
  int width, height;
  std::vector<Area> monitors;
  std::size_t covered = 0;
};

class ScreenSizeTest : public ::testing::TestWithParam<Desk> {};

TEST_P(ScreenSizeTest, TheGameCoversTheScreenFollowsThePointerAndEndsOnEsc) {
  const Desk& desk = GetParam();
  // Mutter's monitors are its own, from the left; on Xvfb one output is split into them.
  const bool own_monitors = desk.desktop == Desktop::kMutter;
  std::vector<Area> from_left = own_monitors ? desk.monitors : std::vector<Area>{};
  std::sort(from_left.begin(), from_left.end(),
            [](const Area& a, const Area& b) { return a.x < b.x; });
  std::vector<std::pair<int, int>> sizes;
  for (const Area& m : from_left) sizes.emplace_back(m.width, m.height);
  XSession x(desk.width, desk.height, desk.desktop, 24, sizes);
  ASSERT_TRUE(x.Ok()) << "no " << DesktopName(desk.desktop) << " session";
  // Monitors are set up before the desktop starts, as a login does.
  if (!desk.monitors.empty() && !own_monitors) {
    ASSERT_TRUE(x.StopWindowManager());
  }
  // Made last, the pointer's monitor is not RandR's first: nothing but the pointer picks it.
  for (std::size_t i = own_monitors ? 0 : desk.monitors.size(); i-- > 0;) {
    const Area& m = desk.monitors[i];
    const std::string geometry = std::to_string(m.width) + "/1x" + std::to_string(m.height) +
                                 "/1+" + std::to_string(m.x) + "+" + std::to_string(m.y);
    ASSERT_TRUE(x.RunClient({"xrandr", "--setmonitor", "glomper" + std::to_string(i), geometry,
                             m.x == 0 ? "screen" : "none"}));
  }
  if (!desk.monitors.empty() && !own_monitors) {
    ASSERT_TRUE(x.StartWindowManager());
  }
  const Area pointer = desk.monitors.empty() ? Whole(x) : desk.monitors.front();
  const Area screen = desk.monitors.empty() ? Whole(x) : desk.monitors[desk.covered];
  const auto [w, h] = std::pair{screen.width, screen.height};
  Game game;
  ASSERT_TRUE(
      StartPlaying(x, game,
                   {.pointer_on = desk.monitors.empty() ? std::nullopt : std::optional(pointer),
                    .covered = screen,
                    .keyboard_to_box = true}));
  const Clock::time_point dismissed = game.pressed;
  EXPECT_LT(game.board - dismissed, StartAllowance())
      << Seconds(game.board - dismissed) << " s to the board";
  const auto window = x.FindWindowOfPid(game.process.Pid());
  ASSERT_TRUE(window);
  EXPECT_EQ(window->Where(), screen)
      << window->x << "," << window->y << " " << window->width << "x" << window->height;
  // However long this machine took to find the window and read the screen, the bar is as
  // wide as that much play allows, and never wider than at the start.
  const Screenshot shot = x.Shoot().Crop(screen.x, screen.y, w, h);
  const auto [narrowest, widest] = BarWidthsWithin(TicksWithin(shot.to - dismissed));
  EXPECT_GE(BarWidth(shot), narrowest) << Seconds(shot.to - dismissed) << " s after Return";
  EXPECT_LE(BarWidth(shot), widest);
  EXPECT_EQ(shot.At(0, 8), kBarGreen);
  // Narrower screens put the bar over the first digit.
  if (w >= 800) {
    EXPECT_TRUE(ReadDigits(shot)) << "the count stands against the right edge";
  }

  EXPECT_LT(ChaseDistance(x, {screen.x + w * 3 / 4, screen.y + h * 3 / 4}, Ms(10000)), 40)
      << "the zorvel never reached the pointer";
  x.PressKey(XK_Escape);
  EXPECT_EQ(game.process.WaitExit(Ms(1000)), 0);
  // Told when the player asked for the window, mutter lets it in without complaint.
  EXPECT_EQ(x.WindowManagerLog().find("Buggy client"), std::string::npos) << x.WindowManagerLog();
}

std::vector<Desk> Desks() {
  std::vector<Desk> desks = {
      Desk{Desktop::kOpenbox, 640, 480, {}}, Desk{Desktop::kOpenbox, 800, 600, {}},
      Desk{Desktop::kOpenbox, 1280, 1024, {}}, Desk{Desktop::kOpenbox, 1920, 1080, {}},
      Desk{Desktop::kOpenbox, 3840, 2160, {}}, Desk{Desktop::kXfwm4, 1024, 768, {}},
      Desk{Desktop::kI3, 1024, 768, {}}, Desk{Desktop::kMutter, 1024, 768, {}},
      // One output split in two, the game on the left: openbox chose the
      // right one by itself, xfwm4 the left.
      Desk{Desktop::kOpenbox, 2304, 1024, {{0, 0, 1280, 1024}, {1280, 0, 1024, 768}}},
      Desk{Desktop::kXfwm4, 2304, 1024, {{1280, 0, 1024, 768}, {0, 0, 1280, 1024}}, 1},
      // GNOME with two monitors, the pointer on either.
      Desk{Desktop::kMutter, 2304, 1024, {{0, 0, 1280, 1024}, {1280, 0, 1024, 768}}},
      Desk{Desktop::kMutter, 2304, 1024, {{1280, 0, 1024, 768}, {0, 0, 1280, 1024}}}};
  // A desktop asked for by hand, at the one size the others share.
  for (const Desktop d : DesktopsAskedFor()) desks.push_back(Desk{d, 1024, 768, {}});
  return desks;
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScreenSizeTest, ::testing::ValuesIn(Desks()), [](const auto& info) {
  const Desk& d = info.param;
  std::string name = std::to_string(d.width) + "x" + std::to_string(d.height);
  if (!d.monitors.empty()) name = "two_monitors_" + std::to_string(d.monitors.front().x);
  return d.desktop == Desktop::kOpenbox && d.monitors.empty() ? name
                                                              : DesktopName(d.desktop) + "_" + name;
});

class DepthTest : public ::testing::TestWithParam<int> {};

// 15 and 16 bits a pixel draw the board in its colours, as near as the screen has them; fewer
// cannot, and the game says so before play rather than show a black screen.
TEST_P(DepthTest, TheBoardIsDrawnInItsColoursOrTheGameRefusesBeforePlay) {
  const int depth = GetParam();
  XSession x(1024, 768, Desktop::kOpenbox, depth);
  Game game;
  const std::string err = TempPath("stderr");
  if (depth < 15) {
    ASSERT_TRUE(x.Ok());
    game.process = LaunchGame(x, {.stderr_path = err});
    EXPECT_EQ(game.process.WaitExit(Ms(10000)), 1);
    EXPECT_EQ(ReadTextFile(err), "glomper: the screen shows " + std::to_string(depth) +
                                     "-bit colour; the game needs 15-bit colour or more\n");
    EXPECT_FALSE(x.FindWindowTitled("HOW TO PLAY"));
    return;
  }
  ASSERT_TRUE(StartPlaying(x, game, {.keyboard_to_box = true}));
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
  Game reference;
  ASSERT_TRUE(StartPlaying(full, reference, {.keyboard_to_box = true}));
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
  EXPECT_EQ(game.process.WaitExit(Ms(1000)), 0);
}

INSTANTIATE_TEST_SUITE_P(Depths, DepthTest, ::testing::Values(8, 15, 16));

// What happens to the desktop during play; the window goes on covering the screen, the count
// stays readable at its right edge, and play goes on.
enum class DuringPlay {
  kNoWindowManagerAtAll,
  kWindowManagerExits,
  kWindowManagerReplaced,
  kScreenShrinks
};

class DesktopChangeTest : public ::testing::TestWithParam<DuringPlay> {};

TEST_P(DesktopChangeTest, TheWindowGoesOnCoveringTheScreenAndPlayGoesOn) {
  const DuringPlay change = GetParam();
  XSession x(1024, 768,
             change == DuringPlay::kNoWindowManagerAtAll ? Desktop::kNone : Desktop::kOpenbox);
  Game game;
  ASSERT_TRUE(StartPlaying(x, game, {.keyboard_to_box = true}));
  std::printf("instructions dismissed -> board: %.2f s\n", Seconds(game.board - game.pressed));
  EXPECT_LT(game.board - game.pressed, StartAllowance()) << "no window manager to wait for";
  switch (change) {
    case DuringPlay::kNoWindowManagerAtAll:
      break;
    case DuringPlay::kWindowManagerExits:
      // Then the screen shrinks: with nobody else to do it, the game follows.
      ASSERT_TRUE(x.StopWindowManager());
      ASSERT_TRUE(x.ResizeScreen(800, 600));
      break;
    case DuringPlay::kWindowManagerReplaced:
      ASSERT_TRUE(x.StopWindowManager());
      ASSERT_TRUE(x.StartWindowManager());
      break;
    case DuringPlay::kScreenShrinks:
      ASSERT_TRUE(x.ResizeScreen(800, 600));
      break;
  }
  std::optional<WindowInfo> window;
  std::optional<std::string> digits;
  const bool covered = WaitFor(
      [&] {
        window = x.FindWindowOfPid(game.process.Pid());
        const Screenshot shot = x.Shoot();
        digits = ReadDigits(shot);
        return window && window->Where() == Whole(x) && shot.At(0, 8) != 0 && digits;
      },
      Ms(5000));
  ASSERT_TRUE(window) << "the window is gone";
  EXPECT_TRUE(covered) << window->x << "," << window->y << " " << window->width << "x"
                       << window->height << ", digits " << digits.value_or("unreadable");
  EXPECT_LT(ChaseDistance(x, {x.Width() / 4, x.Height() * 3 / 4}, Ms(10000)), 40)
      << "play did not go on";
  x.MovePointer(x.Width() / 2, x.Height() / 2);
  x.PressKey(XK_Escape);
  EXPECT_EQ(game.process.WaitExit(Ms(1000)), 0) << "Esc no longer reaches the game";
}

INSTANTIATE_TEST_SUITE_P(Changes, DesktopChangeTest,
                         ::testing::Values(DuringPlay::kNoWindowManagerAtAll,
                                           DuringPlay::kWindowManagerExits,
                                           DuringPlay::kWindowManagerReplaced,
                                           DuringPlay::kScreenShrinks));

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
  Game started;
  Process& game = started.process;
  const std::string err = TempPath("stderr");
  if (ending >= Ending::kSigtermDuringInstructions) {
    game = LaunchGame(x, {.box = box, .stderr_path = err});
    ASSERT_TRUE(x.WaitForWindow("HOW TO PLAY", Ms(20000)));
  } else {
    ASSERT_TRUE(
        StartPlaying(x, started, {.box = box, .stderr_path = err, .keyboard_to_box = true}));
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
    EXPECT_FALSE(x.FindWindowTitled("HOW TO PLAY"));
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
  Game started;
  Process& game = started.process;
  const std::string err = TempPath("stderr");
  ASSERT_TRUE(StartPlaying(x, started, {.stderr_path = err, .keyboard_to_box = true}));
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
  Game started;
  Process& game = started.process;
  ASSERT_TRUE(StartPlaying(x, started, {.keyboard_to_box = true}));
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
  std::vector<long> memory = {MemoryKb(game.Pid())};
  for (int i = 0; i < 2; ++i) {
    storm();
    memory.push_back(MemoryKb(game.Pid()));
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
  Game started;
  Process& game = started.process;
  ASSERT_TRUE(StartPlaying(x, started, {.keyboard_to_box = true}));
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
