#include "shell/form1.h"

namespace glomper {

namespace {

constexpr double kAcceleration = 0.2;  // pixels per tick, per tick
constexpr double kBraking = 0.1;       // extra, while still moving away from the target

// One axis of steering. Each limit test comes before its change, so the speed may end one
// step past the limit (about 6.2 from rest): deliberate, it is how the zorvel has always flown.
// Changes are worked out in double precision and stored back as floats.
void Steer(Single centre, Single target, Single& speed, Integer max_speed, Integer min_speed) {
  if (centre < target) {
    if (speed < max_speed) speed = static_cast<Single>(double{speed} + kAcceleration);
    if (speed < 0) speed = static_cast<Single>(double{speed} + kBraking);
  } else {
    if (speed > min_speed) speed = static_cast<Single>(double{speed} - kAcceleration);
    if (speed > 0) speed = static_cast<Single>(double{speed} - kBraking);
  }
}

}  // namespace

void Form1::MoveCreature() {
  platform::Box& box = Picture1;
  const Single left = Pixels(box.Left());
  const Single top = Pixels(box.Top());
  const Single centre_x = left + HalfSidePixels(box.Width());
  const Single centre_y = top + HalfSidePixels(box.Height());
  Steer(centre_x, MouseX, SpeedX, MaxSpeed, MinSpeed);
  Steer(centre_y, MouseY, SpeedY, MaxSpeed, MinSpeed);

  box.Move(Twips(static_cast<Single>(double{left} + SpeedX)),
           Twips(static_cast<Single>(double{top} + SpeedY)));

  // Kept 1 pixel from the top-left edges and one twip inside the bottom-right ones, against
  // the window's size as it is now. The speed is left alone: it turns only by steering.
  if (Pixels(box.Left()) < 1) box.SetLeft(Twips(1));
  if (Pixels(box.Top()) < 1) box.SetTop(Twips(1));
  const double width = window_->Width();
  const double height = window_->Height();
  if (width - 1 < box.Width() + box.Left()) box.SetLeft(width - box.Width() - 1);
  if (height - 1 < box.Height() + box.Top()) box.SetTop(height - box.Height() - 1);

  EatBlockUnderCreature();
}

}  // namespace glomper
