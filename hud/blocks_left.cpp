#include <string>

#include "shell/form1.h"

namespace glomper {

void Form1::AlignBlocksLeft() {
  // The units cell against the right edge, each other cell against the one after it.
  constexpr int kUnits = kDigitCells - 1;
  Image3(kUnits).SetLeft(window_->Width() - Image3(kUnits).Width());
  for (int k = kUnits - 1; k >= 0; --k) Image3(k).SetLeft(Image3(k + 1).Left() - Image3(k).Width());
}

void Form1::ShowBlocksLeft() {
  // One digit a cell, zero-padded: a five-digit count shows its lower four.
  const std::string text = std::string(kDigitCells, '0') + std::to_string(BlocksLeft);
  const std::string shown = text.substr(text.size() - kDigitCells);
  for (int k = 0; k < kDigitCells; ++k) {
    const int digit = shown[static_cast<std::size_t>(k)] - '0';
    if (digit < 0 || digit > 9) continue;  // never: the game ends before the count goes below 0
    Image3(k).SetPicture(GetForm2().Image1(digit).GetPicture());
  }
  if (BlocksLeft == 0) {
    Timer1.SetEnabled(false);
    system_.MessageBox("THE MISSION WAS A SUCCESS!", platform::MessageIcon::kInformation,
                       "ZORVELS WIN!");
    system_.End(0);
  }
}

}  // namespace glomper
