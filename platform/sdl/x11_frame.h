#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <span>
#include <vector>

#include "platform/geometry.h"
#include "platform/scene.h"

namespace platform {

// The game window's picture on X11, kept where the X server can take it from: in memory
// shared with the server where it can (MIT-SHM), else sent with each push. The scene
// composes into it as 32-bit XRGB; screens of 15 or 16 bits get the changed rectangles
// converted as they are pushed.
class X11Frame {
 public:
  X11Frame(Display* display, ::Window window);
  ~X11Frame();
  X11Frame(const X11Frame&) = delete;
  X11Frame& operator=(const X11Frame&) = delete;

  // Holds a picture of `width` × `height` (a new size starts blank); false if it cannot.
  bool Resize(int width, int height);
  int Width() const { return width_; }
  int Height() const { return height_; }
  Canvas Pixels();
  // Sends the rectangles of the picture to the window.
  void Push(std::span<const PixelRect> rects);

 private:
  void Drop();
  void Convert(const PixelRect& r);

  Display* display_;
  ::Window window_;
  GC gc_;
  Visual* visual_;
  int depth_;
  bool shm_available_;
  int width_ = 0, height_ = 0;
  XImage* image_ = nullptr;
  XShmSegmentInfo shm_{};
  bool shared_ = false;
  // The composed picture when the screen's pixels are not 32-bit XRGB.
  std::vector<std::uint32_t> xrgb_;
};

}  // namespace platform
