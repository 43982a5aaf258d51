#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "platform/picture.h"
#include "platform/scene.h"
#include "platform/timer.h"

namespace platform {

// Message box styles, with the values a game passes for them.
enum class MessageIcon : int { kCritical = 0x10, kInformation = 0x40 };

// Thrown by System::End: ending the program never returns to the handler that asked for it.
struct ProgramEnd {
  int status = 0;
};

inline constexpr int kStateNormal = 0;
inline constexpr int kStateMaximised = 2;

// Key codes the game sees, in the window system's numbering.
inline constexpr int kKeyEscape = 27;
inline constexpr int kKeyReturn = 13;

struct WindowSpec {
  int client_width_px = 0;  // before the window covers the screen
  int client_height_px = 0;
  std::span<const std::uint8_t> icon_bmp;  // 24-bit BMP
};

// The game's one window: borderless, black, opens covering the screen; holds the sprites.
class Window {
 public:
  virtual ~Window() = default;

  // Outer size, in twips.
  virtual double Width() const = 0;
  virtual double Height() const = 0;
  // kStateMaximised once the window system has confirmed that the window covers the screen.
  virtual int State() const = 0;
  virtual void Show() = 0;

  Scene& GetScene() { return scene_; }

  // Pointer moves anywhere over the window: button and shift state, then X, Y in pixels.
  std::function<void(int button, int shift, float x, float y)> on_mouse_move;
  // Key presses while the window is active: key code, shift state.
  std::function<void(int key_code, int shift)> on_key_down;
  // The window system changed the window's size (the screen did, say).
  std::function<void()> on_resize;

 protected:
  Scene scene_;
};

// The window-system services the game relies on. Everything runs on one thread.
class System {
 public:
  virtual ~System() = default;

  virtual std::unique_ptr<Window> CreateWindow(const WindowSpec& spec) = 0;
  // The caller owns the timer; it stops ticking when the caller destroys it.
  [[nodiscard]] Timer CreateTimer(int interval_ms, bool enabled, std::function<void()> on_tick) {
    return timers_.Add(interval_ms, enabled, std::move(on_tick));
  }
  // Modal: nothing ticks until the player dismisses it. CR LF in `text` breaks the line.
  virtual void MessageBox(std::string_view text, MessageIcon icon, std::string_view title) = 0;
  // Decodes a GIF87a or GIF89a picture held in memory.
  virtual PictureRef LoadPicture(std::span<const std::uint8_t> gif) = 0;
  [[noreturn]] void End(int status = 0) { throw ProgramEnd{status}; }

 protected:
  explicit System(const Clock& clock) : timers_(clock) {}
  TimerSchedule timers_;
};

}  // namespace platform
