#pragma once

#include <cstdint>
#include <optional>

#include "platform/box/box_protocol.h"
#include "platform/dialog_art.h"

namespace platform {

// The box as a GTK 3 dialog, GTK loaded at run time (the game never links it). Returns the
// time of the event that dismissed it, or nothing when GTK is missing or cannot start.
std::optional<std::uint32_t> ShowGtkBox(const BoxRequest& request, const DialogArt& art);

}  // namespace platform
