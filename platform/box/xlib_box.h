#pragma once

#include <cstdint>
#include <optional>

#include "platform/box/box_protocol.h"
#include "platform/dialog_art.h"

namespace platform {

// The game's own box, drawn with Xlib alone, for where GTK is missing or cannot start: the
// title, the text, the icon and an OK button; Return, Esc, the button or the window's close
// button dismiss it. Returns the X time of the dismissing event, or nothing when there is no
// X display or font to show it with.
std::optional<std::uint32_t> ShowXlibBox(const BoxRequest& request, const DialogArt& art);

}  // namespace platform
