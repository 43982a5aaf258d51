#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/dialog_art.h"

namespace platform {

// The game's own message box, drawn with Xlib alone, for where GTK is missing or cannot
// start: a title, the text, the icon and an OK button; Return, Esc, the button or the
// window's close button dismiss it. Runs in the dialog process. `parent` is the game's window
// the box belongs to (0: none). Returns the X time of the dismissing event, or nullopt when
// there is no X display or font to show it with.
std::optional<std::uint32_t> ShowX11MessageBox(const std::string& title, const std::string& text,
                                               bool critical, const DialogArt& art,
                                               unsigned long parent);

}  // namespace platform
