#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/dialog_art.h"

namespace platform {

enum class DialogResult { kDismissed, kUnavailable, kInterrupted };

// What the box's process needs of the game's surroundings.
struct DialogSetting {
  std::string session_bus;  // the player's D-Bus address; empty when there is none
  std::string gdk_backend;  // the window system the game is on, for GTK
  // The game's window as another process names it (an X window id, or a Wayland compositor's
  // exported handle), that the box belongs to; empty before the window is shown.
  std::string parent;
  // The launcher's startup notification (X11) and activation token (Wayland), for the first
  // box only: with them the box ends the launcher's "starting" feedback and is let in front.
  std::string startup_id;
  std::string activation_token;
};

// What the game's process keeps an eye on while a box is open.
struct DialogWatch {
  const volatile std::sig_atomic_t& quit;  // set by SIGINT or SIGTERM
  int display_fd = -1;                     // the game's own connection to the X server
  std::function<void()> on_display;        // called when it has something to say, or is gone
};

// Shows a modal message box from a child process, so that no toolkit's memory stays in the
// game's process, and waits until the player dismisses it: with GTK 3 where it is installed
// and starts, otherwise with the game's own Xlib box. The process dies with the game, however
// the game ends. `text` uses plain LF breaks. Returns kUnavailable when neither box could be
// shown, kInterrupted when `watch.quit` was set while waiting. `user_time` gets the window
// system's time of the key or click that dismissed the box (0 if unknown): what the game's
// next window tells the window manager, so as to be let in front.
DialogResult ShowDialog(const std::string& title, const std::string& text, bool critical,
                        const DialogArt& art, const DialogSetting& setting,
                        const DialogWatch& watch, std::uint32_t& user_time);

}  // namespace platform
