#include "assets/sprite_set.h"
#include "shell/form1.h"

namespace glomper {

namespace {
// Frame 0 shows for 20 ticks, frame 1 for 20, frame 2 for 21: the tick at 60 only resets.
constexpr Integer kFrame1At = 20, kFrame2At = 40, kCycleEnd = 60;
}  // namespace

void Form1::AnimateCreature() {
  auto show_only = [this](int frame) {
    for (int k = 0; k < assets::kCreatureFrames; ++k) Image1(k).SetVisible(k == frame);
  };
  if (FrameTick == 0) show_only(0);
  if (FrameTick == kFrame1At) show_only(1);
  if (FrameTick == kFrame2At) show_only(2);
  if (FrameTick == kCycleEnd) FrameTick = -1;
  FrameTick = ToInteger(FrameTick + 1);
}

}  // namespace glomper
