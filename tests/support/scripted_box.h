#pragma once

#include <mutex>

namespace glomper::testing {

// A lock of the kind a library keeps for itself; the scripted box takes it before answering.
std::mutex& LibraryLock();

// A box program that speaks the game's box protocol and does what the request's title says,
// where the real one would show a box and wait for the player. The unit tests' binary plays
// it when started in the box's role.
int RunScriptedBox();

}  // namespace glomper::testing
