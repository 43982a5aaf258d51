#pragma once

#include <csignal>
#include <string>

#include "platform/dialog_art.h"

namespace platform {

enum class DialogResult { kDismissed, kUnavailable, kInterrupted };

// Shows a modal GTK 3 message box from a child process, so that the toolkit's memory never
// stays in the game's process, and waits until the player dismisses it. `text` uses plain
// LF breaks. Returns kUnavailable when GTK or a display for it is missing, kInterrupted when
// `quit` was set by a signal while waiting.
DialogResult ShowGtkDialog(const std::string& title, const std::string& text, bool critical,
                           const DialogArt& art, const volatile std::sig_atomic_t& quit);

}  // namespace platform
