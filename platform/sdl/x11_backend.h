#pragma once

#include <string>

struct _XDisplay;  // NOLINT(bugprone-reserved-identifier): Xlib's own name for Display

namespace platform {

// The game's own connection to the X server DISPLAY names, opened before SDL: a screen the
// game cannot draw on (fewer than 15 bits a pixel) is refused with the game's own words, and
// from here on X errors, or the server going, end the game with one line of its own. Null
// when there is no server to reach (`error` left empty) or it cannot be used (`error` says why).
_XDisplay* OpenX11(std::string& error);
void CloseX11(_XDisplay* display);
// The program is ending: SDL may still wake its loop through a window already gone, and
// the errors that follow are no reason to say anything.
void X11Ending();

}  // namespace platform
