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

  // Mended: on some screens the lookup names a block that was never laid (800 × 600 reaches
  // 606, the last block is 475). Such a cell holds nothing to eat and the game goes on.
  if (index != CellIndex || !Image2.Exists(CellIndex)) return;
  platform::Image& block = Image2(CellIndex);
  if (!block.Visible()) return;
  block.SetVisible(false);
  BlocksEaten = ToInteger(BlocksEaten + 1);
  BlocksLeft = ToInteger(BlockCount - BlocksEaten);
  ShowBlocksLeft();
}

}  // namespace glomper
