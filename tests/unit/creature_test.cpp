// Steering with inertia, the edges of the screen, and the three-frame animation.
#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <string>
#include <tuple>

#include "tests/support/headless_game.h"

namespace glomper {
namespace {

using testing::HeadlessGame;
constexpr double kTw = 15;

class CreatureTest : public ::testing::Test {
 protected:
  void SetUp() override { game_.StartPlay(); }
  Form1& F() { return *game_.form; }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) ASSERT_TRUE(game_.Tick());
  }
  int VisibleFrame() {
    int shown = -1, count = 0;
    for (int k = 0; k < 3; ++k) {
      if (F().Image1(k).Visible()) {
        shown = k;
        ++count;
      }
    }
    return count <= 1 ? shown : -count;  // several at once is a fault
  }
  HeadlessGame game_{1024, 768};
};

TEST_F(CreatureTest, FromRestTowardATargetOnTheRightTheSpeedOvershootsSixByOneStep) {
  game_.system.MovePointer(1000, 124);
  Ticks(30);
  EXPECT_EQ(F().SpeedX, 5.9999986f) << "30 steps of 0.2 in float arithmetic stay below 6";
  Ticks(1);
  EXPECT_EQ(F().SpeedX, 6.1999984f);
  Ticks(5);
  EXPECT_EQ(F().SpeedX, 6.1999984f) << "held above the limit while the target stays right";
  game_.system.MovePointer(0, 124);
  Ticks(1);
  EXPECT_EQ(F().SpeedX, 5.8999987f) << "-0.2, then -0.1 more while still moving right";
}

TEST_F(CreatureTest, ASpeedPointingAwayFromTheTargetTurnsByThreeTenthsPerTick) {
  game_.system.MovePointer(0, 0);
  Ticks(5);
  const float away = F().SpeedX;
  EXPECT_LT(away, 0);
  game_.system.MovePointer(1000, 0);
  Ticks(1);
  EXPECT_NEAR(F().SpeedX - away, 0.3f, 1e-5);
}

TEST_F(CreatureTest, WithoutAnyPointerMoveTheTargetIsTheTopLeftCorner) {
  Ticks(3);
  EXPECT_LT(F().SpeedX, 0);
  EXPECT_LT(F().SpeedY, 0);
  EXPECT_LT(F().Picture1.Left(), 840);
}

TEST_F(CreatureTest, ACentreExactlyOnTheTargetAcceleratesNegativeSoItKeepsSwinging) {
  game_.system.MovePointer(76, 124);  // the box's centre at the start
  Ticks(1);
  EXPECT_FLOAT_EQ(F().SpeedX, -0.2f);
  EXPECT_FLOAT_EQ(F().SpeedY, -0.2f);
}

TEST_F(CreatureTest, TheBoxMovesByItsSpeedInOneStep) {
  game_.system.MovePointer(1000, 700);
  Ticks(3);  // speeds 0.2, 0.4, 0.6: moved 1.2 pixels each way
  EXPECT_FLOAT_EQ(F().SpeedX, 0.6f);
  EXPECT_NEAR(F().Picture1.Left(), (56 + 1.2) * kTw, 1e-3);
  EXPECT_NEAR(F().Picture1.Top(), (104 + 1.2) * kTw, 1e-3);
}

TEST_F(CreatureTest, PastTheTopLeftEdgeTheBoxIsPutBackAtOnePixel) {
  Ticks(200);
  EXPECT_EQ(F().Picture1.Left(), 15);
  EXPECT_EQ(F().Picture1.Top(), 15);
  EXPECT_LT(F().SpeedX, -5.9f) << "the clamp leaves the speed alone";
}

TEST_F(CreatureTest, PastTheBottomRightEdgeTheBoxIsPutBackOneTwipInside) {
  game_.system.MovePointer(1023, 767);
  Ticks(300);
  EXPECT_EQ(F().Picture1.Left(), 1024 * kTw - 600 - 1) << "983 14/15 pixels";
  EXPECT_EQ(F().Picture1.Top(), 768 * kTw - 600 - 1);
  EXPECT_GT(F().SpeedX, 6);
}

TEST_F(CreatureTest, TheRightEdgeIsTheWindowsSizeAtEachTick) {
  game_.system.MovePointer(1023, 400);
  Ticks(300);
  game_.Window().SetSize(800, 768, false);
  Ticks(1);
  EXPECT_EQ(F().Picture1.Left(), 800 * kTw - 600 - 1);
}

// One tick from a speed exactly at a limit, or one float step inside or past it, with the target
// on either side. The limits are Integers compared with < and >, so only a speed strictly
// inside them gains another 0.2; braking (0.1 more while moving away) applies all the same.
// Float rounding reaches 6.0 and -6.0 in play, so a <= there would change games.
struct LimitCase {
  std::string name;
  float speed;
  int target_side;  // +1: right of (below) the centre; -1: left of (above) it
  float next_speed;
};

const LimitCase kLimitCases[] = {
    {"At6TowardTheTarget", 6.0f, +1, 6.0f},
    {"At6AwayFromTheTarget", 6.0f, -1, 5.70000029f},
    {"Inside6TowardTheTarget", std::nextafter(6.0f, 0.0f), +1, 6.19999933f},
    {"Inside6AwayFromTheTarget", std::nextafter(6.0f, 0.0f), -1, 5.69999981f},
    {"Past6TowardTheTarget", std::nextafter(6.0f, 7.0f), +1, 6.00000048f},
    {"Past6AwayFromTheTarget", std::nextafter(6.0f, 7.0f), -1, 5.70000076f},
    {"AtMinus6TowardTheTarget", -6.0f, -1, -6.0f},
    {"AtMinus6AwayFromTheTarget", -6.0f, +1, -5.70000029f},
    {"InsideMinus6TowardTheTarget", std::nextafter(-6.0f, 0.0f), -1, -6.19999933f},
    {"InsideMinus6AwayFromTheTarget", std::nextafter(-6.0f, 0.0f), +1, -5.69999981f},
    {"PastMinus6TowardTheTarget", std::nextafter(-6.0f, -7.0f), -1, -6.00000048f},
    {"PastMinus6AwayFromTheTarget", std::nextafter(-6.0f, -7.0f), +1, -5.70000076f},
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

enum class Axis { kX, kY };

class CreatureSpeedLimitTest : public CreatureTest,
                               public ::testing::WithParamInterface<std::tuple<Axis, LimitCase>> {};

TEST_P(CreatureSpeedLimitTest, OneTickFromTheLimitGivesExactlyTheNextSpeed) {
  const auto& [axis, c] = GetParam();
  // The centre starts at (76, 124); the target is far to one side on this axis.
  const float target = c.target_side > 0 ? 700.0f : 0.0f;
  if (axis == Axis::kX) {
    game_.system.MovePointer(target, 124);
  } else {
    game_.system.MovePointer(76, target);
  }
  Single& speed = axis == Axis::kX ? F().SpeedX : F().SpeedY;
  speed = c.speed;
  Ticks(1);
  EXPECT_EQ(speed, c.next_speed) << "from " << std::setprecision(9) << c.speed;
}

std::string LimitCaseName(const ::testing::TestParamInfo<std::tuple<Axis, LimitCase>>& info) {
  return (std::get<Axis>(info.param) == Axis::kX ? "SpeedX" : "SpeedY") +
         std::get<LimitCase>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(BothAxes, CreatureSpeedLimitTest,
                         ::testing::Combine(::testing::Values(Axis::kX, Axis::kY),
                                            ::testing::ValuesIn(kLimitCases)),
                         LimitCaseName);

TEST_F(CreatureTest, TheFirstTickShowsFrameZeroAndEachFrameHoldsItsShareOfA61TickCycle) {
  EXPECT_EQ(VisibleFrame(), -1) << "all three hidden before the first tick";
  std::vector<int> frames;
  for (int tick = 1; tick <= 61 * 3 + 1; ++tick) {
    ASSERT_TRUE(game_.Tick());
    frames.push_back(VisibleFrame());
  }
  auto run = [&](int first_tick, int length, int frame) {
    for (int t = first_tick; t < first_tick + length; ++t) {
      ASSERT_EQ(frames[t - 1], frame) << "tick " << t;
    }
  };
  for (int cycle = 0; cycle < 3; ++cycle) {
    run(1 + 61 * cycle, 20, 0);
    run(21 + 61 * cycle, 20, 1);
    run(41 + 61 * cycle, 21, 2);
  }
  EXPECT_EQ(frames.back(), 0) << "tick 184 starts the fourth cycle";
  EXPECT_EQ(F().FrameTick, 1);
}

TEST_F(CreatureTest, TheFrameDrawsInsideTheBoxAndMovesWithIt) {
  Ticks(1);
  const int left = static_cast<int>(F().Picture1.Left() / kTw + 0.5);
  const int top = static_cast<int>(F().Picture1.Top() / kTw + 0.5);
  int coloured = 0;
  for (int y = top; y < top + 35; ++y)
    for (int x = left; x < left + 38; ++x) coloured += game_.Pixel(x, y) != 0;
  EXPECT_GT(coloured, 200);
  for (int y = top; y < top + 40; ++y) EXPECT_EQ(game_.Pixel(left + 39, y), 0u) << "box is black";
}

TEST_F(CreatureTest, OneTickOfStagesRunsInOrderAnimationFirstMovementLast) {
  game_.system.MovePointer(700, 400);
  Ticks(1);
  EXPECT_EQ(VisibleFrame(), 0);
  EXPECT_FLOAT_EQ(F().SpeedX, 0.2f);
  EXPECT_EQ(F().FrameTick, 1);
}

}  // namespace
}  // namespace glomper
