#pragma once

#include "platform/scene.h"
#include "platform/system.h"

namespace glomper {

// The never-shown store of the ten digit glyphs: Image1(d) holds the picture of digit d.
class Form2 {
 public:
  explicit Form2(platform::System& system);

 private:
  platform::Scene scene_;  // never composed: nothing here reaches the screen

 public:
  platform::ImageGroup Image1{scene_};
};

}  // namespace glomper
