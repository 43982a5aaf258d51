#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/x_client.h"

// What the screen shows, read back from the X server.
namespace e2e {

struct Screenshot {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;  // 0xRRGGBB
  Clock::time_point from, to;         // the screen was read at some moment in between
  std::uint32_t At(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
  bool SavePng(const std::string& path) const;
  // The part of the screen one monitor shows.
  Screenshot Crop(int x, int y, int w, int h) const;
};

// An area of the screen as 0xRRGGBB, whatever the depth (15 and 16 bits scaled up to 8 a
// channel); empty if it cannot be read. Where the root window holds no picture of the screen
// (Xwayland), each client window's own pixels are laid at its place, from the bottom of the
// stack up: a frame's pixels over a client of another depth are undefined, and frames are
// not what the tests look at.
std::vector<std::uint32_t> ReadScreen(Display* display, const Area& area, bool root_shows_screen);

}  // namespace e2e
