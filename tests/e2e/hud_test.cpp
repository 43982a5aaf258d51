// The blocks-left counter, the bar's 78 seconds, and the two endings, on the real binary.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "tests/e2e/game_screen.h"

namespace e2e {
namespace {

class HudTest : public ::testing::Test {
 protected:
  explicit HudTest(Desktop desktop = Desktop::kOpenbox) : x_(1024, 768, desktop) {}

  // Starts the game as a menu launches it and returns when its board is on the screen.
  void Start() {
    ASSERT_TRUE(x_.Ok());
    const Point probe = samples_.Of(22 * kColumns + 30);
    // The bar's 78 s are measured from the board's moment: only what blurs it counts.
    ASSERT_TRUE(StartPlaying(x_, started_,
                             {.launch_id = kLaunch,
                              .pointer_at = Point{76, 124},
                              .board_shown = [&] { return x_.PixelAt(probe.x, probe.y) != 0; },
                              .board_every = Ms(1),
                              .wake_ups_from = WakeUpsFrom::kBoardWait}));
    board_shown_ = started_.board;
    board_uncertainty_ = started_.board_uncertainty;
  }

  const std::string kLaunch = "glomper-e2e-" + std::to_string(getpid());
  XSession x_;
  Game started_;
  Process& game_ = started_.process;
  BlockSamples samples_;
  Clock::time_point board_shown_;
  Clock::duration board_uncertainty_{};  // how long the probe that saw the board took
};

// Whether the counter and the board in one screenshot agree: four zeros while no block is
// eaten, then the blocks left. Blocks under the zorvel's box (where it is drawn: not before the
// first tick) cannot be told either way, its picture may cover a block's sample, so they widen
// the range; `eaten` gets those seen eaten.
::testing::AssertionResult CounterAgreesWithBoard(const Screenshot& s, const BlockSamples& samples,
                                                  int& eaten) {
  const auto digits = ReadDigits(s);
  if (!digits) return ::testing::AssertionFailure() << "the counter shows no digits";
  const auto creature = FindCreature(s);
  int under_box = 0;
  eaten = 0;
  for (int block = 0; block < kBlocks; ++block) {
    const Point at = samples.Of(block);
    if (creature && std::abs(at.x - creature->x) < 45 && std::abs(at.y - creature->y) < 45) {
      ++under_box;
    } else if (!samples.Shown(s, block)) {
      ++eaten;
    }
  }
  const int counted = *digits == "0000" ? 0 : kBlocks - std::atoi(digits->c_str());
  if (counted < eaten || counted > eaten + under_box) {
    return ::testing::AssertionFailure()
           << "counter " << *digits << ", " << eaten << " blocks seen eaten, " << under_box
           << " under the zorvel";
  }
  return ::testing::AssertionSuccess();
}

TEST_F(HudTest, TheCounterShowsFourZerosThenTheBlocksLeftAsTheyAreEaten) {
  Start();
  // A frame reaches the screen one rectangle after another, and a screenshot may fall between
  // two: only a disagreement that lasts is the game's.
  Screenshot s;
  int eaten = 0;
  auto agrees = [&] {
    ::testing::AssertionResult agreed = ::testing::AssertionFailure();
    WaitFor(
        [&] {
          s = x_.Shoot();
          return static_cast<bool>(agreed = CounterAgreesWithBoard(s, samples_, eaten));
        },
        Ms(3000));
    return agreed;
  };
  // The zorvel starts over a block and eats it at the first tick, so the four zeros last 10 ms:
  // the first screenshot may come before or after.
  EXPECT_TRUE(agrees());
  for (const Point p : {Point{300, 400}, Point{700, 300}, Point{850, 600}}) {
    ASSERT_LT(ChaseDistance(x_, p, Ms(10000)), 40)
        << "the zorvel never reached " << p.x << "," << p.y;
  }
  EXPECT_TRUE(agrees());
  EXPECT_TRUE(FindCreature(s)) << "no zorvel";
  EXPECT_GT(eaten, 20);

  const char* keep = std::getenv("GLOMPER_SCREENSHOT");
  EXPECT_TRUE(s.SavePng(keep != nullptr ? keep : TempPath("in-play.png")));
  x_.PressKey(XK_Escape);
  EXPECT_EQ(game_.WaitExit(Ms(1000)), 0);
}

// The defeat on each kind of desktop: its box comes over the full-screen game wherever a
// window manager hides other windows behind a full-screen one.
class DefeatTest : public HudTest, public ::testing::WithParamInterface<Desktop> {
 protected:
  DefeatTest() : HudTest(GetParam()) {}
};

// A box's own light background, where the game has only dark blocks or black.
bool ShowsABox(std::uint32_t rgb) {
  return ((rgb >> 16) & 0xFF) >= 0xC0 && ((rgb >> 8) & 0xFF) >= 0xC0 && (rgb & 0xFF) >= 0xC0;
}

TEST_P(DefeatTest, TheBarRunsOutAfter78SecondsThenTheDefeatBoxShowsAndReturnEndsTheGame) {
  Start();
  // Play runs 7801 ticks; watch the bar from half a second before.
  StallMeter stalls([&] { return x_.WaitedToRun(game_.Pid()); });
  const auto soon = board_shown_ + Ms(77500);
  WaitFor(
      [&] {
        stalls.Sample();
        return Clock::now() >= soon || !game_.Running();
      },
      Ms(80000), Ms(20));
  ASSERT_TRUE(game_.Running());
  EXPECT_EQ(x_.PixelAt(0, 0), 0xFF0000u) << "the bar's last colour, still there";
  // The bar goes at the last tick, before the box (whose toolkit takes its own time to start).
  Clock::time_point looked = Clock::now();
  const bool gone = WaitFor(
      [&] {
        stalls.Sample();
        looked = Clock::now();
        return x_.PixelAt(0, 0) != 0xFF0000u;
      },
      Ms(5000), Ms(1));
  const auto seen = Clock::now();
  ASSERT_TRUE(gone) << "the bar never ran out";
  const double seconds = std::chrono::duration<double>(seen - board_shown_).count();
  // The clock is exact over 78 s; what blurs the measurement is how long each probe took, how
  // late this machine wakes the test up, and what stalls of the game cost its clock.
  const double allowance =
      0.1 + std::chrono::duration<double>(board_uncertainty_ + (seen - looked) +
                                          2 * WorstWakeUpLateness() + stalls.Lost())
                .count();
  std::printf("board on screen -> bar gone: %.3f s (78.01 ± %.3f)\n", seconds, allowance);
  EXPECT_NEAR(seconds, 78.01, allowance);
  const auto box = x_.WaitForWindow("MISSION FAILED", Ms(20000));
  ASSERT_TRUE(box) << "no defeat box";
  EXPECT_TRUE(WaitFor([&] { return ShowsABox(x_.PixelAt(box->x + 4, box->y + box->height - 4)); },
                      Ms(5000)))
      << "the defeat box is behind the game";
  // (Without a window manager nobody names the active window; Return tells below.)
  if (GetParam() != Desktop::kNone) {
    EXPECT_TRUE(WaitFor([&] { return x_.ActiveWindow() == box->id; }, Ms(5000)))
        << "the defeat box does not have the keyboard";
  }
  // The launch was the instructions' to end; its old time would hold this box back.
  EXPECT_EQ(x_.StartupIdOf(box->id), "");
  // While its box is open the game answers the window manager, which would mark it as not
  // responding otherwise, and paints again what the box uncovers where no compositor keeps
  // the picture: moved away, the box leaves no trail over the blocks it stood on.
  const auto window = x_.FindWindowOfPid(game_.Pid());
  ASSERT_TRUE(window);
  EXPECT_TRUE(x_.AnswersPing(window->id, Ms(5000))) << "no answer to a ping with the box open";
  if (GetParam() != Desktop::kMutter && GetParam() != Desktop::kKde) {
    const Area was = box->Where();
    x_.MoveWindow(box->id, x_.Width() - box->width, x_.Height() - box->height);
    ASSERT_TRUE(WaitFor([&] { return x_.FindWindowTitled("MISSION FAILED")->y > was.y; }, Ms(5000)))
        << "the box did not move";
    const Area now = x_.FindWindowTitled("MISSION FAILED")->Where();
    auto inside = [](const Area& a, const Point& p) {
      return p.x >= a.x && p.y >= a.y && p.x < a.x + a.width && p.y < a.y + a.height;
    };
    int uncovered = 0, trail = 0;
    // The zorvel stayed at the top left: the blocks the box stood on are all there.
    EXPECT_TRUE(WaitFor(
        [&] {
          const Screenshot s = x_.Shoot();
          uncovered = trail = 0;
          for (int block = 0; block < kBlocks; ++block) {
            const Point p = samples_.Of(block);
            if (!inside(was, p) || inside(now, p)) continue;
            ++uncovered;
            if (!samples_.Shown(s, block) || ShowsABox(s.At(p.x, p.y))) ++trail;
          }
          return uncovered > 0 && trail == 0;
        },
        Ms(5000)))
        << trail << " of " << uncovered << " blocks the box uncovered are not painted again";
  }
  EXPECT_TRUE(x_.Dismiss("MISSION FAILED", Ms(10000)));
  EXPECT_EQ(game_.WaitExit(Ms(2000)), 0);
}

std::vector<Desktop> DefeatDesktops() {
  std::vector<Desktop> desktops = {Desktop::kNone, Desktop::kOpenbox, Desktop::kXfwm4, Desktop::kI3,
                                   Desktop::kMutter};
  for (const Desktop d : DesktopsAskedFor()) {
    if (std::find(desktops.begin(), desktops.end(), d) == desktops.end()) desktops.push_back(d);
  }
  return desktops;
}

INSTANTIATE_TEST_SUITE_P(Desktops, DefeatTest, ::testing::ValuesIn(DefeatDesktops()),
                         [](const auto& info) { return DesktopName(info.param); });

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
    if (round % 10 == 0 && (box = x_.FindWindowTitled("ZORVELS WIN!"))) {
      break;
    }
    std::this_thread::sleep_for(Ms(5));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - board_shown_).count();
  std::printf("victory box after %.1f s of play\n", seconds);
  ASSERT_TRUE(box) << "no victory before the bar ran out";
  EXPECT_EQ(ReadDigits(x_.Shoot()), "0000");
  EXPECT_TRUE(x_.Dismiss("ZORVELS WIN!", Ms(10000)));
  EXPECT_EQ(game_.WaitExit(Ms(2000)), 0);
}

}  // namespace
}  // namespace e2e
