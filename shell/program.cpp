// The executable: the game on the real window system, or one of its message boxes.
#include <cstdio>
#include <exception>
#include <string>

#include "assets/sprite_set.h"
#include "platform/box/box_host.h"
#include "platform/box/box_program.h"
#include "platform/sdl/sdl_system.h"
#include "shell/game_main.h"

int main(int, char** argv) {
  // The game starts its boxes as a program of their own: this binary, named for the role.
  if (argv[0] != nullptr && platform::IsBoxRole(argv[0])) {
    return platform::RunBox(glomper::assets::DialogArt());
  }
  std::string error;
  auto system = platform::SdlSystem::Start(error);
  if (!system) {
    std::fprintf(stderr, "glomper: %s\n", error.c_str());
    return 1;
  }
  try {
    auto form1 = glomper::Main(*system);
    system->Run();
  } catch (const platform::ProgramEnd& end) {
    return end.status;
  } catch (const std::exception& fault) {
    // A broken guard (a count out of range, a malformed picture): one line, not a core dump.
    std::fprintf(stderr, "glomper: internal error: %s\n", fault.what());
    return 1;
  }
}
