#include "shell/game_main.h"

namespace glomper {

std::unique_ptr<Form1> Main(platform::System& system) {
  system.MessageBox(
      "Have the zorvel destroy all the crumble blocks before its Health Bar runs out!\r\n\r\n"
      "Press 'Esc' at any time to be a wuss and quit.",
      platform::MessageIcon::kInformation, "HOW TO PLAY");
  auto form1 = std::make_unique<Form1>(system);
  form1->Show();
  return form1;
}

}  // namespace glomper
