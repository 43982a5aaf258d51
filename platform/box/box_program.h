#pragma once

#include "platform/dialog_art.h"

namespace platform {

// Runs the box's process: reads a request on standard input, shows the box with the toolkit
// asked for, and when the player dismisses it writes the answer on standard output. Returns
// the process's exit status; a box that cannot be shown answers nothing.
int RunBox(const DialogArt& art);

}  // namespace platform
