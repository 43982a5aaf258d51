#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/system.h"

// What passes between the game and the process that shows one of its message boxes, written
// once for both sides: the game sends a request on the box's standard input and reads the
// answer on its standard output.
namespace platform {

enum class Toolkit : std::uint8_t { kGtk, kXlib };
enum class WindowSystem : std::uint8_t { kOther, kX11, kWayland };

struct BoxRequest {
  Toolkit toolkit = Toolkit::kGtk;
  std::string title;
  std::string text;  // lines broken by LF
  MessageIcon icon = MessageIcon::kInformation;
  WindowSystem window_system = WindowSystem::kOther;
  // The game's window the box belongs to: an X window id, or a Wayland compositor's
  // xdg-foreign handle. None before the window is shown.
  std::uint64_t x11_parent = 0;
  std::string wayland_parent;
  // The launcher's startup notification (X11) and activation token (Wayland): only the first
  // box ends the launcher's "starting" feedback; an old launch would keep a later box behind.
  std::string startup_id;
  std::string activation_token;
  // The player's session bus; the game itself talks to none.
  std::optional<std::string> session_bus;
  // Nobody manages windows (no window manager): the box gives itself the keyboard.
  bool take_keyboard = false;

  bool operator==(const BoxRequest&) const = default;
};

// Sent only when the player dismissed the box; a box that could not be shown sends nothing.
struct BoxAnswer {
  // The window system's time of the key or click that dismissed it (0 if unknown): the next
  // window the game shows tells the window manager the player asked for it then.
  std::uint32_t user_time = 0;

  bool operator==(const BoxAnswer&) const = default;
};

std::string Encode(const BoxRequest& request);
std::string Encode(const BoxAnswer& answer);
// Nothing for bytes that are not a whole request or answer of this version of the game.
std::optional<BoxRequest> DecodeRequest(std::string_view bytes);
std::optional<BoxAnswer> DecodeAnswer(std::string_view bytes);

}  // namespace platform
