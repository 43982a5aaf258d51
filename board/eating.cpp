#include <algorithm>

#include "shell/form1.h"

namespace glomper {

void Form1::EatBlockUnderCreature() {
  const platform::Box& box = Picture1;
  const Single centre_x = Pixels(box.Left()) + HalfSidePixels(box.Width());
  const Single centre_y = Pixels(box.Top()) + HalfSidePixels(box.Height());
  // The screen is looked up as square cells of side Columns, Columns to a row; the row is
  // found with the column count too. Deliberate: it decides which block the zorvel eats.
  const long column = Div(Round(centre_x), Columns);
  const long row = Div(Round(centre_y), Columns);
  const long index = row * Columns + column;
  CellColumn = ToInteger(column);
  CellRow = ToInteger(row);
  CellIndex = static_cast<Integer>(std::clamp(index, kIntegerMin, kIntegerMax));

  // A cell whose index names no laid block holds nothing to eat, and the game goes on: on
  // some screens the lookup reaches past the last block (800 × 600 reaches 606, the last
  // block is 475), and reading a block that does not exist would crash the game.
  if (index != CellIndex || !Image2.Exists(CellIndex)) return;
  platform::Image& block = Image2(CellIndex);
  if (!block.Visible()) return;
  block.SetVisible(false);
  BlocksEaten = ToInteger(BlocksEaten + 1);
  BlocksLeft = ToInteger(BlockCount - BlocksEaten);
  ShowBlocksLeft();
}

}  // namespace glomper
