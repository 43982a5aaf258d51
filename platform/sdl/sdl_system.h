#pragma once

#include <memory>
#include <string>

#include "platform/box/box_host.h"
#include "platform/system.h"

union SDL_Event;

namespace platform {

class SdlWindow;
class WindowBackend;

// The window-system services on SDL2: one full-screen window, drawn by its window system's
// backend, pushing only the rectangles that changed, and a loop that sleeps until the next
// timer or event. Message boxes are shown by a process of their own.
class SdlSystem : public System {
 public:
  // Starts SDL's video; on failure returns null and says why in `error`.
  static std::unique_ptr<SdlSystem> Start(std::string& error);
  ~SdlSystem() override;

  std::unique_ptr<Window> CreateWindow(const WindowSpec& spec) override;
  void MessageBox(std::string_view text, MessageIcon icon, std::string_view title) override;
  PictureRef LoadPicture(std::span<const std::uint8_t> gif) override;

  // Runs the program's events until it ends (System::End throws ProgramEnd out of here).
  [[noreturn]] void Run();

 private:
  friend class SdlWindow;
  SdlSystem(std::unique_ptr<WindowBackend> backend, BoxRequest box_setting);
  void Dispatch(const SDL_Event& event);
  // While a box is open: the window keeps answering, nothing of the game runs. `spoke`: a
  // connection woke the game, perhaps to say it has closed.
  void KeepAnswering(bool spoke);

  std::unique_ptr<WindowBackend> backend_;
  BoxHost boxes_;
  // What every box is told of the game's surroundings; the launch is the first box's alone.
  BoxRequest box_setting_;
  SdlWindow* window_ = nullptr;
  // The window system's time of the player's last answer to a box (0 if unknown), for the
  // window shown after it.
  std::uint32_t user_time_ = 0;
};

}  // namespace platform
