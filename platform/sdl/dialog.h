#pragma once

#include <csignal>
#include <cstdint>
#include <string>

#include "platform/dialog_art.h"

namespace platform {

enum class DialogResult { kDismissed, kUnavailable, kInterrupted };

// Shows a modal GTK 3 message box from a child process, so that the toolkit's memory never
// stays in the game's process, and waits until the player dismisses it. `text` uses plain
// LF breaks. Returns kUnavailable when GTK or a display for it is missing, kInterrupted when
// `quit` was set by a signal while waiting. `user_time` gets the window system's time of the
// key or click that dismissed the box (0 if unknown): what the game's next window says to
// the window manager to be let in front ("the user asked for this").
DialogResult ShowGtkDialog(const std::string& title, const std::string& text, bool critical,
                           const DialogArt& art, const volatile std::sig_atomic_t& quit,
                           std::uint32_t& user_time);

}  // namespace platform
