#pragma once

#include <memory>

#include "platform/system.h"
#include "shell/form1.h"

namespace glomper {

// The game's entry: explains the rules, then opens the game window. From its return on,
// only the window's events drive the game.
std::unique_ptr<Form1> Main(platform::System& system);

}  // namespace glomper
