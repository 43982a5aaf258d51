#include "shell/form1.h"

namespace glomper {

long Form1::BoardCells(double width, double height, double block_width, double block_height) {
  return Round(width / block_width + 1) * Round(height / block_height + 1);
}

void Form1::BuildBoard() {
  const double width = window_->Width();  // twips
  const double height = window_->Height();
  const platform::Image& prototype = Image2(0);
  const long columns = Round(width / prototype.Width() + 1);
  const long rows = Round(height / prototype.Height() + 1);

  // The counts are 16-bit. A screen whose board would pass 32767 cells cannot be played:
  // say so and end, rather than overflow them.
  if (BoardCells(width, height, prototype.Width(), prototype.Height()) > kIntegerMax) {
    system_.MessageBox(
        "This screen is too large for Glomper: its board would need more than 32767 blocks.",
        platform::MessageIcon::kCritical, "SCREEN TOO LARGE");
    system_.End(1);
  }

  // Blocks go left to right and wrap into a new row past the right edge; the loop stops
  // after the first block that starts a row below the bottom edge, which stays laid there.
  // Every index stays within columns × rows, so none overflows.
  Integer i = 0;
  const platform::Image* block = nullptr;
  do {
    i = ToInteger(i + 1);
    platform::Image& next = Image2.Load(i);
    const platform::Image& previous = Image2(i - 1);
    next.Move(previous.Left() + prototype.Width(), previous.Top());
    if (next.Left() >= width) next.Move(0, next.Top() + next.Height());
    next.SetVisible(true);
    block = &next;
  } while (block->Top() < height);

  Columns = ToInteger(columns);
  Rows = ToInteger(rows);
  BlockCount = ToInteger(long{Rows} * Columns);

  const platform::PictureRef zero = GetForm2().Image1(0).GetPicture();
  for (int k = 0; k < kDigitCells; ++k) {
    Image3(k).SetPicture(zero);
    Image3(k).ZOrderToFront();
  }
  AlignBlocksLeft();
}

}  // namespace glomper
