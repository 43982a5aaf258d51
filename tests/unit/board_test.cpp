// Laying out the board on every screen size, and eating the block the lookup names.
#include <gtest/gtest.h>

#include "assets/sprite_set.h"
#include "platform/gif_decoder.h"
#include "tests/support/headless_game.h"

namespace glomper {
namespace {

using testing::HeadlessGame;
constexpr double kTw = 15;

struct BoardCase {
  int width, height;
  int per_row, rows_laid;  // blocks laid in a row, rows laid
  int columns, rows;       // the counts the lookup and the counter use
  int digits_left_px;      // left edge of the thousands cell
};

void PrintTo(const BoardCase& c, std::ostream* os) { *os << c.width << "x" << c.height; }

class BoardTest : public ::testing::TestWithParam<BoardCase> {
 protected:
  void SetUp() override { game_.StartPlay(); }
  HeadlessGame game_{GetParam().width, GetParam().height};
};

TEST_P(BoardTest, BlocksCoverTheScreenRowByRowWithOneMoreBelowIt) {
  const BoardCase& c = GetParam();
  const Form1& f = *game_.form;
  const int laid = c.per_row * c.rows_laid;
  EXPECT_EQ(f.Image2.Size(), laid + 1);
  for (int i = 0; i <= laid; ++i) ASSERT_TRUE(f.Image2(i).Visible()) << i;
  // Last block of the first row: a sliver at the right edge, or a whole one.
  EXPECT_EQ(f.Image2(c.per_row - 1).Left(), (c.per_row - 1) * 495.0);
  EXPECT_EQ(f.Image2(c.per_row - 1).Top(), 0);
  EXPECT_EQ(f.Image2(c.per_row).Left(), 0) << "the next one wraps";
  EXPECT_EQ(f.Image2(c.per_row).Top(), 495);
  EXPECT_EQ(f.Image2(laid - 1).Left(), (c.per_row - 1) * 495.0);
  EXPECT_EQ(f.Image2(laid - 1).Top(), (c.rows_laid - 1) * 495.0);
  EXPECT_EQ(f.Image2(laid).Left(), 0) << "the block that ends the loop";
  EXPECT_EQ(f.Image2(laid).Top(), c.rows_laid * 495.0);
  EXPECT_GE(f.Image2(laid).Top(), c.height * kTw) << "lies below the screen";
}

TEST_P(BoardTest, CountsAreRoundedFromTheScreenSizeNotFromTheBlocksLaid) {
  const BoardCase& c = GetParam();
  EXPECT_EQ(game_.form->Columns, c.columns);
  EXPECT_EQ(game_.form->Rows, c.rows);
  EXPECT_EQ(game_.form->BlockCount, c.columns * c.rows);
  EXPECT_EQ(game_.form->BlocksEaten, 0);
}

TEST_P(BoardTest, FourZerosStandAgainstTheRightEndOfTheTopEdgeAboveTheBlocks) {
  const BoardCase& c = GetParam();
  const Form1& f = *game_.form;
  const auto zero = platform::DecodeGif(assets::DigitGlyphGif(0));
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(f.Image3(k).Left(), (c.digits_left_px + 36 * k) * kTw) << k;
    EXPECT_EQ(f.Image3(k).Top(), 0);
    EXPECT_EQ(f.Image3(k).Width(), 540) << "takes the glyph's size";
    EXPECT_EQ(f.Image3(k).Height(), 720);
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 36; ++x) {
        const int screen_x = c.digits_left_px + 36 * k + x;
        const bool under_bar = screen_x < 521 && y < 17;  // the bar is drawn above the digits
        if (platform::Picture::Opaque(zero->At(x, y)) && !under_bar) {
          ASSERT_EQ(game_.Pixel(c.digits_left_px + 36 * k + x, y), zero->At(x, y) & 0xFFFFFF);
        }
      }
    }
  }
}

TEST_P(BoardTest, EveryPixelOfTheScreenShowsATileBesidesTheSpritesAboveThem) {
  const BoardCase& c = GetParam();
  const auto tile = platform::DecodeGif(assets::BlockTileGif());
  // Pixels no box or digit covers show the tile stretched to 33 × 33.
  for (int y = 48; y < c.height; y += 7) {
    for (int x = 0; x < c.width; x += 5) {
      if (x >= 56 && x < 96 && y >= 104 && y < 144) continue;  // the creature box
      ASSERT_EQ(game_.Pixel(x, y), tile->At(x % 33 * 16 / 33, y % 33 * 16 / 33) & 0xFFFFFF)
          << x << "," << y;
    }
  }
}

// Per row and rows laid are ⌈size ÷ 33⌉; the counts are round(size ÷ 33 + 1), ties to even.
INSTANTIATE_TEST_SUITE_P(ScreenSizes, BoardTest,
                         ::testing::Values(BoardCase{640, 480, 20, 15, 20, 16, 496},
                                           BoardCase{800, 600, 25, 19, 25, 19, 656},
                                           BoardCase{1024, 768, 32, 24, 32, 24, 880},
                                           BoardCase{1280, 1024, 39, 32, 40, 32, 1136},
                                           BoardCase{1920, 1080, 59, 33, 59, 34, 1776},
                                           BoardCase{3840, 2160, 117, 66, 117, 66, 3696}),
                         [](const auto& info) {
                           return std::to_string(info.param.width) + "x" +
                                  std::to_string(info.param.height);
                         });

TEST(BoardSizeTest, AScreenWhoseBoardWouldPass32767CellsIsRefusedBeforePlay) {
  HeadlessGame game(7680, 4800);  // 234 × 146 cells
  game.StartPlay();
  EXPECT_TRUE(game.system.Ended());
  EXPECT_EQ(game.system.ExitStatus(), 1);
  ASSERT_EQ(game.system.Messages().size(), 2u);
  EXPECT_EQ(game.system.Messages()[1].title, "SCREEN TOO LARGE");
  EXPECT_EQ(game.system.Messages()[1].icon, platform::MessageIcon::kCritical);
  EXPECT_EQ(game.form->Image2.Size(), 1) << "no block laid";
  EXPECT_FALSE(game.form->Timer1.Enabled());
}

TEST(BoardSizeTest, TheLargestScreensThatFitArePlayed) {
  HeadlessGame game(7680, 4320);  // 234 × 132 = 30888 cells
  game.StartPlay();
  EXPECT_EQ(game.form->BlockCount, 30888);
  EXPECT_TRUE(game.Tick());
}

// ---- Eating ----

// Puts the creature box at a place (pixels) and runs the lookup as the tick would after moving.
void EatWithBoxAt(HeadlessGame& game, double left_px, double top_px) {
  game.form->Picture1.Move(left_px * kTw, top_px * kTw);
  game.system.RunAsEvent([&] { game.form->EatBlockUnderCreature(); });
}

class EatingTest : public ::testing::Test {
 protected:
  void SetUp() { game_.StartPlay(); }
  void EatAt(double left_px, double top_px) { EatWithBoxAt(game_, left_px, top_px); }
  HeadlessGame game_{1024, 768};
};

struct LookupCase {
  int width, height;
  double left_px, top_px;  // the creature box; its centre is 20 pixels further each way
  int column, row, index;
};

void PrintTo(const LookupCase& c, std::ostream* os) {
  *os << c.width << "x" << c.height << " at " << c.left_px << "," << c.top_px;
}

class LookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(LookupTest, TheCentreIsRoundedAndDividedByTheColumnCountBothWays) {
  const LookupCase& c = GetParam();
  HeadlessGame game(c.width, c.height);
  game.StartPlay();
  EatWithBoxAt(game, c.left_px, c.top_px);
  const Form1& f = *game.form;
  EXPECT_EQ(f.CellColumn, c.column);
  EXPECT_EQ(f.CellRow, c.row);
  EXPECT_EQ(f.CellIndex, c.index);
  EXPECT_FALSE(f.Image2(c.index).Visible());
  EXPECT_EQ(f.BlocksEaten, 1);
}

// 24.5 rounds to the even 24; 49.7 rounds up; the row is found with the column count, which
// differs from the row count on every screen here.
INSTANTIATE_TEST_SUITE_P(Centres, LookupTest,
                         ::testing::Values(LookupCase{1024, 768, 500, 300, 16, 10, 336},
                                           LookupCase{1024, 768, 980, 300, 31, 10, 351},
                                           LookupCase{800, 600, 4.5, 300, 0, 12, 300},
                                           LookupCase{800, 600, 29.7, 300, 2, 12, 302},
                                           LookupCase{1280, 1024, 500, 300, 13, 8, 333}));

TEST_F(EatingTest, TheBlockAtTheLookedUpIndexIsEatenNotTheOneDrawnUnderTheCentre) {
  EatAt(500, 300);  // centre (520, 320)
  const Form1& f = *game_.form;
  EXPECT_EQ(f.CellColumn, 16);
  EXPECT_EQ(f.CellRow, 10);
  EXPECT_EQ(f.CellIndex, 336);
  EXPECT_FALSE(f.Image2(336).Visible());
  EXPECT_TRUE(f.Image2(303).Visible()) << "the block drawn at (520, 320)";
  EXPECT_EQ(f.BlocksEaten, 1);
  EXPECT_EQ(f.BlocksLeft, 767);
  EXPECT_EQ(game_.Pixel(336 % 32 * 33 + 16, 336 / 32 * 33 + 16), 0u) << "gone from the screen";
}

TEST_F(EatingTest, AColumnNearTheRightEdgeIsLookedUpPastTheBlocksDrawnThere) {
  EatAt(980, 300);  // centre x 1000: column 31 though the block drawn there is in column 30
  EXPECT_EQ(game_.form->CellColumn, 31);
}

TEST_F(EatingTest, PassingAgainOverAnEatenCellChangesNothing) {
  EatAt(500, 300);
  EatAt(501, 301);
  EXPECT_EQ(game_.form->CellIndex, 336);
  EXPECT_EQ(game_.form->BlocksEaten, 1);
  EXPECT_EQ(game_.form->BlocksLeft, 767);
}

TEST_F(EatingTest, AtMostOneBlockIsEatenPerTick) {
  game_.system.MovePointer(1000, 700);
  for (int tick = 0; tick < 300; ++tick) {
    const int before = game_.form->BlocksEaten;
    ASSERT_TRUE(game_.Tick());
    ASSERT_LE(game_.form->BlocksEaten - before, 1);
  }
  EXPECT_GT(game_.form->BlocksEaten, 20);
}

TEST(EatingOffTheBoardTest, AnIndexThatNamesNoLaidBlockEatsNothingAndTheGameGoesOn) {
  HeadlessGame game(800, 600);
  game.StartPlay();
  game.system.MovePointer(799, 599);
  for (int tick = 0; tick < 400; ++tick) ASSERT_TRUE(game.Tick());
  EXPECT_EQ(game.form->CellIndex, 606) << "centre (780, 580) in the bottom-right corner";
  EXPECT_EQ(game.form->Image2.Size(), 476);
  const int eaten = game.form->BlocksEaten;
  for (int tick = 0; tick < 50; ++tick) ASSERT_TRUE(game.Tick());
  EXPECT_EQ(game.form->BlocksEaten, eaten);
  EXPECT_EQ(game.form->BlocksLeft, game.form->BlockCount - eaten);
}

}  // namespace
}  // namespace glomper
