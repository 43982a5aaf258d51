#pragma once

#include <algorithm>
#include <vector>

#include "shell/form1.h"

namespace glomper::testing {

// A player who sweeps the lookup cells row by row, always aiming at the next cell that still
// holds a block, so a whole board can be eaten within the time the bar gives.
class SweepingPlayer {
 public:
  explicit SweepingPlayer(const Form1& form) : form_(form) {
    const int columns = form.Columns;
    for (int row = 0; row < form.Rows; ++row) {
      for (int k = 0; k < columns; ++k) {
        const int column = row % 2 == 0 ? k : columns - 1 - k;
        order_.push_back(row * columns + column);
      }
    }
  }

  // Where to put the pointer before the next tick; false once nothing is left to aim at.
  bool Aim(float& x, float& y) {
    while (next_ < order_.size() && !Holds(order_[next_])) ++next_;
    if (next_ == order_.size()) return false;
    const int index = order_[next_];
    const int side = form_.Columns;
    // The centre of the lookup cell, in whole pixels as the lookup counts them.
    const int centre_x = index % side * side + side / 2;
    const int centre_y = index / side * side + side / 2;
    x = static_cast<float>(centre_x);
    y = static_cast<float>(centre_y);
    return true;
  }

 private:
  bool Holds(int index) const {
    return form_.Image2.Exists(index) && form_.Image2(index).Visible();
  }

  const Form1& form_;
  std::vector<int> order_;
  std::size_t next_ = 0;
};

}  // namespace glomper::testing
