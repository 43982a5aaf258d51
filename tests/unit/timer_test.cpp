// The timer schedule: drift-free ticks, no bursts after a stall, never re-entered.
#include "platform/timer.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/headless/headless_system.h"

namespace platform {
namespace {

constexpr Nanoseconds kMs = kNsPerMs;

class TimerTest : public ::testing::Test {
 protected:
  // Fires every tick due at `now`, as the event loop does after it wakes.
  int FireAllDue(Nanoseconds now) {
    clock_.Set(now);
    int fired = 0;
    while (schedule_.FireOneDue(now)) ++fired;
    return fired;
  }

  ManualClock clock_;
  TimerSchedule schedule_{clock_};
  std::vector<Nanoseconds> ticks_;
};

TEST_F(TimerTest, TheNthTickIsDueAtStartPlusNIntervalsHoweverLateTheOthersFired) {
  clock_.Set(5 * kMs);
  Timer timer = schedule_.Add(10, true, [&] { ticks_.push_back(clock_.Now()); });
  // Each tick fires up to 7 ms late, as a loaded machine would run it.
  for (int n = 1; n <= 7801; ++n) {
    const Nanoseconds due = timer.Due();
    ASSERT_EQ(due, 5 * kMs + n * 10 * kMs);
    ASSERT_EQ(FireAllDue(due + (n % 8) * kMs), 1);
  }
  EXPECT_EQ(ticks_.size(), 7801u);
  EXPECT_EQ(timer.Due(), 5 * kMs + 7802 * 10 * kMs) << "78.01 s of ticks took 78.01 s";
}

TEST_F(TimerTest, ATickAFewIntervalsLateIsCaughtUp) {
  Timer timer = schedule_.Add(10, true, [&] { ticks_.push_back(clock_.Now()); });
  EXPECT_EQ(FireAllDue(35 * kMs), 3);
  EXPECT_EQ(timer.Due(), 40 * kMs);
}

TEST_F(TimerTest, AfterALongStallTheScheduleResumesFromNowWithoutABurst) {
  Timer timer = schedule_.Add(10, true, [&] { ticks_.push_back(clock_.Now()); });
  EXPECT_EQ(FireAllDue(10 * kMs), 1);
  EXPECT_EQ(FireAllDue(5000 * kMs), 1) << "a suspended machine wakes up";
  EXPECT_EQ(timer.Due(), 5010 * kMs);
  EXPECT_EQ(FireAllDue(5010 * kMs), 1);
}

// Behind by exactly the limit is still caught up tick by tick; one nanosecond more is a stall.
class TimerStallTest : public TimerTest,
                       public ::testing::WithParamInterface<std::pair<Nanoseconds, int>> {};

TEST_P(TimerStallTest, ATimerIsCaughtUpUpToTheLimitAndResumesFromNowPastIt) {
  const auto [late, fired] = GetParam();
  Timer timer = schedule_.Add(10, true, [&] { ticks_.push_back(clock_.Now()); });
  EXPECT_EQ(FireAllDue(10 * kMs + late), fired);
  const Nanoseconds next = fired == 1 ? 10 * kMs + late + 10 * kMs : (10 + fired * 10) * kMs;
  EXPECT_EQ(timer.Due(), next);
}

INSTANTIATE_TEST_SUITE_P(Lateness, TimerStallTest,
                         ::testing::Values(std::pair<Nanoseconds, int>{99 * kMs, 10},
                                           std::pair<Nanoseconds, int>{100 * kMs, 11},
                                           std::pair<Nanoseconds, int>{100 * kMs + 1, 1}));

TEST_F(TimerTest, ADestroyedTimerIsOffTheScheduleAndOthersKeepTicking) {
  Timer kept = schedule_.Add(10, true, [&] { ticks_.push_back(clock_.Now()); });
  {
    Timer gone = schedule_.Add(1, true, [&] { ADD_FAILURE() << "a destroyed timer fired"; });
    EXPECT_EQ(schedule_.NextDue(), 1 * kMs);
  }
  EXPECT_EQ(schedule_.NextDue(), 10 * kMs);
  EXPECT_EQ(FireAllDue(20 * kMs), 2);
}

TEST_F(TimerTest, EnablingStartsTheScheduleFromNowAndDisabledTimersAreNeverDue) {
  Timer timer = schedule_.Add(10, false, [&] { ticks_.push_back(clock_.Now()); });
  EXPECT_EQ(schedule_.NextDue(), kNever);
  EXPECT_EQ(FireAllDue(100 * kMs), 0);
  timer.SetEnabled(true);
  EXPECT_EQ(timer.Due(), 110 * kMs);
  timer.SetEnabled(true);
  EXPECT_EQ(timer.Due(), 110 * kMs) << "enabling an enabled timer changes nothing";
}

TEST_F(TimerTest, EarlierTimersFireFirstAndAHandlerCanHandOverToAnother) {
  std::vector<char> order;
  Timer poll = schedule_.Add(1, true, [&] { order.push_back('p'); });
  Timer game = schedule_.Add(10, false, [&] { order.push_back('g'); });
  Timer hand_over = schedule_.Add(3, true, [&] {
    order.push_back('h');
    poll.SetEnabled(false);
    game.SetEnabled(true);
  });
  FireAllDue(3 * kMs);
  EXPECT_EQ(order, (std::vector<char>{'p', 'p', 'p', 'h'}));
  EXPECT_EQ(game.Due(), 13 * kMs);
}

TEST_F(TimerTest, AHandlerIsNeverReEntered) {
  int depth = 0, deepest = 0;
  Timer timer = schedule_.Add(1, true, [&] {
    ++depth;
    deepest = std::max(deepest, depth);
    schedule_.FireOneDue(clock_.Now() + 50 * kMs);
    --depth;
  });
  FireAllDue(1 * kMs);
  EXPECT_EQ(deepest, 1);
}

}  // namespace
}  // namespace platform
