// Seeded random players on random screens, each game played to its end, with the game's
// rules checked after every tick. A failure names its seed and screen; to replay one:
//   GLOMPER_PROPERTY_SEED=<seed> build/default/tests/glomper_unit_tests --gtest_filter='Property*'
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>

#include "tests/support/headless_game.h"
#include "tests/support/player.h"

namespace glomper {
namespace {

using testing::HeadlessGame;

constexpr int kBatches = 12;
constexpr int kScriptsPerBatch = 25;
constexpr int kLastTick = 7801;
constexpr int kFullScanEvery = 64;  // ticks between whole-board comparisons

// Moves the pointer the way a restless player might: jumps, sweeps, sitting still, corners,
// and now and then a methodical sweep of the board that can win.
class RandomPointer {
 public:
  RandomPointer(std::uint32_t seed, int width, int height, const Form1& form)
      : rng_(seed), w_(width), h_(height), sweeper_(form) {
    if (seed % 8 == 0) {
      mode_ = Mode::kMethodical;
      left_in_mode_ = Pick(3000, 9000);
    }
  }

  std::optional<std::pair<float, float>> Next() {
    if (--left_in_mode_ <= 0) NewMode();
    switch (mode_) {
      case Mode::kJump:
        if (++ticks_ % every_ != 0) return std::nullopt;
        return Anywhere();
      case Mode::kSweep: {
        const float t = std::min(1.0f, static_cast<float>(++ticks_) / static_cast<float>(every_));
        return std::pair{from_.first + (to_.first - from_.first) * t,
                         from_.second + (to_.second - from_.second) * t};
      }
      case Mode::kStill:
        return std::nullopt;
      case Mode::kCorner: {
        const int corner = Pick(0, 3);
        return std::pair{corner % 2 ? static_cast<float>(w_ - 1) : 0.0f,
                         corner / 2 ? static_cast<float>(h_ - 1) : 0.0f};
      }
      case Mode::kMethodical: {
        float x, y;
        if (!sweeper_.Aim(x, y)) return std::nullopt;
        return std::pair{x, y};
      }
    }
    return std::nullopt;
  }

 private:
  enum class Mode { kJump, kSweep, kStill, kCorner, kMethodical };

  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  std::pair<float, float> Anywhere() {
    // Now and then a little past the edges, as a drag that left the window reports.
    return {static_cast<float>(Pick(-8, w_ + 8)), static_cast<float>(Pick(-8, h_ + 8))};
  }
  void NewMode() {
    mode_ = static_cast<Mode>(Pick(0, 4));
    left_in_mode_ = mode_ == Mode::kMethodical ? Pick(500, 8000) : Pick(1, 600);
    every_ = Pick(1, 60);
    ticks_ = 0;
    from_ = Anywhere();
    to_ = Anywhere();
  }

  std::mt19937 rng_;
  int w_, h_;
  testing::SweepingPlayer sweeper_;
  Mode mode_ = Mode::kStill;
  int left_in_mode_ = 0;
  int every_ = 1;
  int ticks_ = 0;
  std::pair<float, float> from_, to_;
};

struct Outcome {
  long ticks = 0;
  bool victory = false;
  bool defeat = false;
};

int VisibleFrames(const Form1& f) {
  return f.Image1(0).Visible() + f.Image1(1).Visible() + f.Image1(2).Visible();
}

// Plays one game to its end and checks every rule after every tick.
void PlayChecked(std::uint32_t seed, Outcome& outcome) {
  std::mt19937 size_rng(seed);
  int width = std::uniform_int_distribution<int>(320, 7680)(size_rng);
  int height = std::uniform_int_distribution<int>(200, 4320)(size_rng);
  if (seed % 8 == 0) {
    // Screens where every counted block can be reached, so that some games end in victory.
    width = seed % 16 == 0 ? 1024 : 800;
    height = seed % 16 == 0 ? 768 : 600;
  }
  SCOPED_TRACE("replay: GLOMPER_PROPERTY_SEED=" + std::to_string(seed) + " (screen " +
               std::to_string(width) + "x" + std::to_string(height) + ")");

  HeadlessGame game(width, height);
  game.StartPlay();
  const Form1& f = *game.form;
  const double W = width * 15.0, H = height * 15.0;
  std::vector<bool> shown(static_cast<std::size_t>(f.Image2.Size()), true);

  struct Snapshot {
    int eaten;
    double bar, left, top;
    Integer frame_tick;
    bool operator==(const Snapshot&) const = default;
  };
  auto snap = [&] {
    return Snapshot{f.BlocksEaten, f.Picture2.Width(), f.Picture1.Left(), f.Picture1.Top(),
                    f.FrameTick};
  };
  std::optional<Snapshot> at_message;
  game.system.on_message = [&](const platform::RecordedMessage&) {
    EXPECT_FALSE(f.Timer1.Enabled()) << "the clock runs behind an end message";
    at_message = snap();
  };

  RandomPointer pointer(seed, width, height, f);
  for (long tick = 1; tick <= kLastTick + 1; ++tick) {
    if (const auto move = pointer.Next()) game.system.MovePointer(move->first, move->second);
    const int eaten_before = f.BlocksEaten;
    const double bar_before = f.Picture2.Width();
    const bool running = game.Tick();
    outcome.ticks = tick;

    if (!running) {
      EXPECT_TRUE(game.system.Ended()) << "tick " << tick;
      EXPECT_TRUE(at_message.has_value());
      EXPECT_EQ(at_message, snap()) << "something happened after the end message";
      EXPECT_FALSE(game.Tick());
      const std::string& title = game.system.Messages().back().title;
      outcome.victory = title == "ZORVELS WIN!";
      outcome.defeat = title == "MISSION FAILED";
      if (outcome.defeat) {
        EXPECT_EQ(tick, kLastTick);
      } else {
        EXPECT_TRUE(outcome.victory) << title;
        EXPECT_EQ(f.BlocksLeft, 0);
      }
      break;
    }
    ASSERT_LE(tick, kLastTick) << "the bar should have ended the game";

    // The box stays inside the window as the clamps define.
    ASSERT_GE(f.Picture1.Left(), 15) << "tick " << tick;
    ASSERT_GE(f.Picture1.Top(), 15) << "tick " << tick;
    ASSERT_LE(f.Picture1.Left() + f.Picture1.Width(), W - 1) << "tick " << tick;
    ASSERT_LE(f.Picture1.Top() + f.Picture1.Height(), H - 1) << "tick " << tick;
    ASSERT_EQ(VisibleFrames(f), 1) << "tick " << tick;
    ASSERT_EQ(f.Picture2.Width(), bar_before - 1) << "the bar only ever shrinks by a twip";

    // At most one block, the looked-up one, and only one that was laid and still there.
    const int eaten_now = f.BlocksEaten - eaten_before;
    ASSERT_TRUE(eaten_now == 0 || eaten_now == 1) << "tick " << tick;
    if (eaten_now == 1) {
      ASSERT_TRUE(f.Image2.Exists(f.CellIndex)) << "ate a block never laid, tick " << tick;
      const auto cell = static_cast<std::size_t>(f.CellIndex);
      ASSERT_TRUE(shown[cell]) << "ate a block twice, tick " << tick;
      ASSERT_FALSE(f.Image2(f.CellIndex).Visible());
      shown[cell] = false;
    }
    if (f.BlocksEaten > 0) {
      ASSERT_EQ(f.BlocksLeft, f.BlockCount - f.BlocksEaten);
    }
    if (tick % kFullScanEvery == 0) {
      for (int i = 0; i < f.Image2.Size(); ++i) {
        ASSERT_EQ(f.Image2(i).Visible(), shown[static_cast<std::size_t>(i)])
            << "block " << i << " changed unseen before tick " << tick;
      }
    }
  }
  int hidden = 0;
  for (int i = 0; i < f.Image2.Size(); ++i) hidden += !f.Image2(i).Visible();
  EXPECT_EQ(hidden, f.BlocksEaten) << "blocks hidden and blocks counted differ";
}

class PropertyTest : public ::testing::TestWithParam<int> {};

TEST_P(PropertyTest, EveryRuleHoldsAfterEveryTickOfRandomGames) {
  std::vector<std::uint32_t> seeds;
  if (const char* one = std::getenv("GLOMPER_PROPERTY_SEED")) {
    if (GetParam() != 0) GTEST_SKIP() << "replaying one seed";
    seeds.push_back(static_cast<std::uint32_t>(std::strtoul(one, nullptr, 10)));
  } else {
    for (int k = 0; k < kScriptsPerBatch; ++k) seeds.push_back(GetParam() * kScriptsPerBatch + k);
  }
  long ticks = 0;
  int victories = 0, defeats = 0;
  for (const std::uint32_t seed : seeds) {
    Outcome outcome;
    PlayChecked(seed, outcome);
    if (HasFatalFailure()) return;
    ticks += outcome.ticks;
    victories += outcome.victory;
    defeats += outcome.defeat;
  }
  std::printf("batch %d: %zu games, %ld ticks, %d victories, %d defeats\n", GetParam(),
              seeds.size(), ticks, victories, defeats);
}

INSTANTIATE_TEST_SUITE_P(Batches, PropertyTest, ::testing::Range(0, kBatches));

TEST(PropertyWinTest, TheMethodicalPlayerWinsWhereEveryCountedBlockCanBeReached) {
  for (const auto& [w, h] : {std::pair{1024, 768}, std::pair{800, 600}}) {
    HeadlessGame game(w, h);
    game.StartPlay();
    testing::SweepingPlayer player(*game.form);
    for (int tick = 0; tick < kLastTick && !game.system.Ended(); ++tick) {
      float x, y;
      if (player.Aim(x, y)) game.system.MovePointer(x, y);
      game.Tick();
    }
    EXPECT_EQ(game.system.Messages().back().title, "ZORVELS WIN!") << w << "x" << h;
  }
}

}  // namespace
}  // namespace glomper
