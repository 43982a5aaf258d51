#include "platform/sdl/x11_geometry.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace platform {

namespace {

bool X11Handles(SDL_Window* window, Display*& display, Window& handle) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
  display = info.info.x11.display;
  handle = info.info.x11.window;
  return true;
}

}  // namespace

std::optional<WindowGeometry> X11Geometry(SDL_Window* window) {
  Display* display;
  Window handle;
  if (!X11Handles(window, display, handle)) return std::nullopt;
  XWindowAttributes attributes;
  Window child;
  WindowGeometry g;
  if (!XGetWindowAttributes(display, handle, &attributes) ||
      !XTranslateCoordinates(display, handle, attributes.root, 0, 0, &g.x, &g.y, &child)) {
    return std::nullopt;
  }
  g.width = attributes.width;
  g.height = attributes.height;
  return g;
}

bool X11WindowManagerRunning(SDL_Window* window) {
  Display* display;
  Window handle;
  if (!X11Handles(window, display, handle)) return false;
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                     &format, &count, &after, &data);
  const bool running = data != nullptr && count == 1;
  if (data != nullptr) XFree(data);
  return running;
}

void X11MoveResize(SDL_Window* window, const WindowGeometry& to) {
  Display* display;
  Window handle;
  if (!X11Handles(window, display, handle)) return;
  XMoveResizeWindow(display, handle, to.x, to.y, static_cast<unsigned>(to.width),
                    static_cast<unsigned>(to.height));
  XFlush(display);
}

}  // namespace platform
