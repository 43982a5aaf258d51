#include "shell/form1.h"

namespace glomper {

namespace {

// Narrower than one pixel, the bar is gone and the mission has failed.
constexpr double kLostBelowTwips = 15;

struct ColourStep {
  double width;  // twips, met exactly on the way down
  platform::Rgb colour;
};
// The first step is a brighter green than the bar starts with.
constexpr ColourStep kColourSteps[] = {
    {7000, {0, 255, 0}},  {6000, {40, 200, 0}}, {5000, {80, 160, 0}}, {4000, {120, 120, 0}},
    {3000, {160, 80, 0}}, {2000, {200, 40, 0}}, {1000, {255, 0, 0}},
};

}  // namespace

void Form1::RunDownHealthBar() {
  Picture2.SetWidth(static_cast<Single>(Picture2.Width() - 1));  // the bar's width is a float
  for (const ColourStep& step : kColourSteps) {
    if (Picture2.Width() == step.width) Picture2.SetFillColor(step.colour);
  }
  if (Picture2.Width() < kLostBelowTwips) {
    Picture2.SetVisible(false);
    Timer1.SetEnabled(false);
    system_.MessageBox("MISSION FAILED!", platform::MessageIcon::kCritical, "MISSION FAILED");
    system_.End(0);
  }
}

}  // namespace glomper
