#include "platform/sdl/x11_frame.h"

#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdint>
#include <cstdlib>

#include "platform/x11/x11_client.h"

namespace platform {

namespace {

bool Xrgb(const XImage* image) {
  return image->bits_per_pixel == 32 && image->red_mask == 0xFF0000 &&
         image->green_mask == 0xFF00 && image->blue_mask == 0xFF;
}

// An 8-bit channel in the bits of `mask`: the top bits of the channel.
unsigned long Scaled(std::uint32_t channel, unsigned long mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctzl(mask);
  const unsigned long top = mask >> shift;
  return ((channel * top + 127) / 255) << shift;
}

}  // namespace

X11Frame::X11Frame(Display* display, ::Window window)
    : display_(display),
      window_(window),
      gc_(XCreateGC(display, window, 0, nullptr)),
      visual_(DefaultVisual(display, DefaultScreen(display))),
      depth_(DefaultDepth(display, DefaultScreen(display))),
      shm_available_(XShmQueryExtension(display) == True) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) != 0) {
    visual_ = attributes.visual;
    depth_ = attributes.depth;
  }
}

X11Frame::~X11Frame() {
  Drop();
  XFreeGC(display_, gc_);
}

void X11Frame::Drop() {
  if (image_ == nullptr) return;
  if (shared_) {
    XShmDetach(display_, &shm_);
    XSync(display_, False);
    XDestroyImage(image_);
    shmdt(shm_.shmaddr);
  } else {
    XDestroyImage(image_);  // frees the pixels too
  }
  image_ = nullptr;
  shared_ = false;
  width_ = height_ = 0;
  xrgb_.clear();
}

bool X11Frame::Resize(int width, int height) {
  Drop();
  if (width <= 0 || height <= 0) return false;
  const auto w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
  if (shm_available_) {
    image_ = XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr,
                             &shm_, w, h);
    if (image_ != nullptr) {
      const std::size_t size = static_cast<std::size_t>(image_->bytes_per_line) * h;
      shm_.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
      void* memory = shm_.shmid < 0 ? nullptr : shmat(shm_.shmid, nullptr, 0);
      // shmat says it failed with an address of all ones.
      if (reinterpret_cast<std::intptr_t>(memory) == -1) memory = nullptr;
      if (memory != nullptr) {
        shm_.shmaddr = static_cast<char*>(memory);
        image_->data = shm_.shmaddr;
        shm_.readOnly = False;
        // A server on another machine cannot attach: then every push carries its pixels.
        x11::ErrorTrap trap(display_);
        shared_ = XShmAttach(display_, &shm_) == True && !trap.Caught();
      }
      // Marked for removal now, it goes when the game and the server have let go of it.
      if (shm_.shmid >= 0) shmctl(shm_.shmid, IPC_RMID, nullptr);
      if (!shared_) {
        if (memory != nullptr) shmdt(memory);
        image_->data = nullptr;
        XDestroyImage(image_);
        image_ = nullptr;
      }
    }
  }
  if (image_ == nullptr) {
    image_ = XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr, w,
                          h, 32, 0);
    if (image_ == nullptr) return false;
    image_->data = static_cast<char*>(
        std::calloc(static_cast<std::size_t>(image_->bytes_per_line), static_cast<std::size_t>(h)));
    if (image_->data == nullptr) {
      XDestroyImage(image_);
      image_ = nullptr;
      return false;
    }
  }
  width_ = width;
  height_ = height;
  if (!Xrgb(image_)) xrgb_.assign(static_cast<std::size_t>(width) * h, 0);
  return true;
}

Canvas X11Frame::Pixels() {
  if (image_ == nullptr) return Canvas{nullptr, 0, 0, 0};
  if (!xrgb_.empty()) return Canvas{xrgb_.data(), width_, height_, width_};
  return Canvas{reinterpret_cast<std::uint32_t*>(image_->data), width_, height_,
                image_->bytes_per_line / 4};
}

void X11Frame::Convert(const PixelRect& r) {
  for (int y = r.y0; y < r.y1; ++y) {
    const std::uint32_t* row = &xrgb_[static_cast<std::size_t>(y) * width_];
    for (int x = r.x0; x < r.x1; ++x) {
      const std::uint32_t p = row[x];
      XPutPixel(image_, x, y,
                Scaled((p >> 16) & 0xFF, image_->red_mask) |
                    Scaled((p >> 8) & 0xFF, image_->green_mask) |
                    Scaled(p & 0xFF, image_->blue_mask));
    }
  }
}

void X11Frame::Push(std::span<const PixelRect> rects) {
  if (image_ == nullptr || rects.empty()) return;
  const PixelRect bounds{0, 0, width_, height_};
  for (const PixelRect& rect : rects) {
    const PixelRect r = rect.Intersect(bounds);
    if (r.Empty()) continue;
    if (!xrgb_.empty()) Convert(r);
    const auto w = static_cast<unsigned>(r.Width()), h = static_cast<unsigned>(r.Height());
    if (shared_) {
      XShmPutImage(display_, window_, gc_, image_, r.x0, r.y0, r.x0, r.y0, w, h, False);
    } else {
      XPutImage(display_, window_, gc_, image_, r.x0, r.y0, r.x0, r.y0, w, h);
    }
  }
  // The server reads shared pixels when it gets to the request: the next frame is drawn into
  // them only once it has.
  if (shared_) {
    XSync(display_, False);
  } else {
    XFlush(display_);
  }
}

}  // namespace platform
