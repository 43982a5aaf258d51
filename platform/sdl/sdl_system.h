#pragma once

#include <memory>
#include <string>

#include "platform/sdl/dialog.h"
#include "platform/system.h"

union SDL_Event;
struct _XDisplay;  // NOLINT(bugprone-reserved-identifier): Xlib's own name for Display
using Display = _XDisplay;

namespace platform {

class SdlWindow;

// The window-system services on SDL2: one full-screen window, drawn by pushing only the
// rectangles that changed, and a loop that sleeps until the next timer or event.
class SdlSystem : public System {
 public:
  // Starts SDL's video; on failure returns null and says why in `error`.
  static std::unique_ptr<SdlSystem> Start(const DialogArt& art, std::string& error);
  ~SdlSystem() override;

  std::unique_ptr<Window> CreateWindow(const WindowSpec& spec) override;
  void MessageBox(std::string_view text, MessageIcon icon, std::string_view title) override;
  PictureRef LoadPicture(std::span<const std::uint8_t> gif) override;

  // Runs the program's events until it ends (System::End throws ProgramEnd out of here).
  [[noreturn]] void Run();

 private:
  friend class SdlWindow;
  SdlSystem(const DialogArt& art, DialogSetting setting, Display* watch);
  void Dispatch(const SDL_Event& event);

  DialogArt art_;
  DialogSetting dialog_setting_;
  Display* watch_;  // X11 only: our own connection (server loss, the desktop)
  SdlWindow* window_ = nullptr;
  // The window system's time of the player's last answer to a box (0 if unknown), for the
  // window shown after it.
  std::uint32_t user_time_ = 0;
};

}  // namespace platform
