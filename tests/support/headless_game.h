#pragma once

#include <memory>

#include "platform/headless/headless_system.h"
#include "shell/form1.h"
#include "shell/game_main.h"

namespace glomper::testing {

// A game on a screen in memory: the instructions are answered, the window is open.
struct HeadlessGame {
  explicit HeadlessGame(int width_px, int height_px, bool window_manager_maximises = true)
      : system(width_px, height_px) {
    system.SetWindowManagerMaximises(window_manager_maximises);
    system.RunAsEvent([this] { form = Main(system); });
  }

  // Runs the start-up poll until the game clock takes over.
  void StartPlay() {
    while (!form->Timer1.Enabled() && system.Step()) {
    }
  }
  // One game tick (once playing, the game clock is the only timer); false once ended.
  bool Tick() { return system.Step(); }
  int TicksUntilEnd(int limit) {
    int ticks = 0;
    while (ticks < limit && Tick()) ++ticks;
    return ticks + (system.Ended() ? 1 : 0);
  }
  platform::HeadlessWindow& Window() { return *system.GameWindow(); }
  std::uint32_t Pixel(int x, int y) { return Window().Pixel(x, y); }

  platform::HeadlessSystem system;
  std::unique_ptr<Form1> form;
};

}  // namespace glomper::testing
