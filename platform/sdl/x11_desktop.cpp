#include "platform/sdl/x11_desktop.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

namespace {

// Requests that may name a window someone else has destroyed. Xlib's handler is the whole
// process's, and SDL's ends the program on any error; errors on our connection are ours.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display) : display_(display) {
    XSync(display_, False);
    previous_ = XSetErrorHandler(Ignore);
  }
  ~ErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

 private:
  static int Ignore(Display*, XErrorEvent*) { return 0; }
  Display* display_;
  XErrorHandler previous_;
};

Atom Intern(Display* display, const char* name) { return XInternAtom(display, name, False); }

Atom WindowManagerSelection(Display* display) {
  return Intern(display, ("WM_S" + std::to_string(DefaultScreen(display))).c_str());
}

bool Contains(const WindowGeometry& g, int x, int y) {
  return x >= g.x && y >= g.y && x < g.x + g.width && y < g.y + g.height;
}

void SendToRoot(Display* display, Window root, Window about, Atom message, long l0, long l1,
                long l2, long l3) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = about;
  event.xclient.message_type = message;
  event.xclient.format = 32;
  event.xclient.data.l[0] = l0;
  event.xclient.data.l[1] = l1;
  event.xclient.data.l[2] = l2;
  event.xclient.data.l[3] = l3;
  XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

bool g_ending = false;

// As Xlib's own handler, but quiet once the program is ending: SDL wakes its event loop
// through a window of its own, and may still do so as it closes, after the window has gone.
int OnXError(Display* display, XErrorEvent* error) {
  if (g_ending) return 0;
  char text[256] = "";
  XGetErrorText(display, error->error_code, text, sizeof text);
  std::fprintf(stderr, "glomper: X error %s (request %d.%d, resource 0x%lx)\n", text,
               error->request_code, error->minor_code, error->resourceid);
  std::exit(1);
}

}  // namespace

void X11HandleErrors() { XSetErrorHandler(OnXError); }
void X11Ending() { g_ending = true; }

std::unique_ptr<X11Desktop> X11Desktop::Open(Display* display) {
  if (std::string_view(SDL_GetCurrentVideoDriver()) != "x11" || display == nullptr) return nullptr;
  int randr_event = 0, randr_error = 0, fixes_event = 0, fixes_error = 0;
  const bool randr = XRRQueryExtension(display, &randr_event, &randr_error);
  const bool fixes = XFixesQueryExtension(display, &fixes_event, &fixes_error);
  std::unique_ptr<X11Desktop> desktop(new X11Desktop(display, randr ? randr_event : -1));
  const Window root = DefaultRootWindow(display);
  // The root's own size, a new window manager's announcement (ICCCM's MANAGER message), the
  // monitors, and who holds the window manager's selection: what Follow reacts to.
  XSelectInput(display, root, StructureNotifyMask);
  if (randr) {
    XRRSelectInput(display, root,
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  }
  if (fixes) {
    XFixesSelectSelectionInput(display, root, WindowManagerSelection(display),
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
  }
  desktop->ChooseMonitor(/*from_pointer=*/true);
  desktop->had_window_manager_ = desktop->WindowManagerRunning();
  return desktop;
}

X11Desktop::X11Desktop(Display* display, int randr_event_base)
    : display_(display), randr_event_base_(randr_event_base), root_(DefaultRootWindow(display)) {}

void X11Desktop::ChooseMonitor(bool from_pointer) {
  const WindowGeometry before = monitor_;
  const int screen = DefaultScreen(display_);
  monitor_ = {0, 0, DisplayWidth(display_, screen), DisplayHeight(display_, screen)};
  if (randr_event_base_ < 0) return;
  int px = 0, py = 0;
  if (from_pointer) {
    Window root, child;
    int wx, wy;
    unsigned int mask;
    XQueryPointer(display_, root_, &root, &child, &px, &py, &wx, &wy, &mask);
  }
  int count = 0;
  XRRMonitorInfo* monitors = XRRGetMonitors(display_, root_, True, &count);
  if (monitors == nullptr) return;
  // The monitor under the pointer at first; later the same monitor, found by its name or
  // else by where it was; failing both, the primary one, else the first.
  const XRRMonitorInfo* chosen = nullptr;
  auto geometry = [](const XRRMonitorInfo& m) {
    return WindowGeometry{m.x, m.y, m.width, m.height};
  };
  for (int i = 0; i < count && chosen == nullptr; ++i) {
    if (from_pointer ? Contains(geometry(monitors[i]), px, py)
                     : monitors[i].name == monitor_name_) {
      chosen = &monitors[i];
    }
  }
  for (int i = 0; i < count && chosen == nullptr && !from_pointer; ++i) {
    if (Contains(geometry(monitors[i]), before.x + before.width / 2,
                 before.y + before.height / 2)) {
      chosen = &monitors[i];
    }
  }
  for (int i = 0; i < count && chosen == nullptr; ++i) {
    if (monitors[i].primary) chosen = &monitors[i];
  }
  if (chosen == nullptr && count > 0) chosen = &monitors[0];
  if (chosen != nullptr) {
    monitor_ = geometry(*chosen);
    monitor_name_ = chosen->name;
    monitor_index_ = static_cast<int>(chosen - monitors);
  }
  XRRFreeMonitors(monitors);
}

bool X11Desktop::WindowManagerRunning() const {
  if (XGetSelectionOwner(display_, WindowManagerSelection(display_)) != None) return true;
  // Some window managers only name themselves on the root; the window they name must live.
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  XGetWindowProperty(display_, root_, Intern(display_, "_NET_SUPPORTING_WM_CHECK"), 0, 1, False,
                     XA_WINDOW, &type, &format, &count, &after, &data);
  if (data == nullptr) return false;
  const Window check = count == 1 ? *reinterpret_cast<Window*>(data) : None;
  XFree(data);
  if (check == None) return false;
  XWindowAttributes attributes;
  ErrorTrap trap(display_);
  return XGetWindowAttributes(display_, check, &attributes) != 0;
}

void X11Desktop::Prepare(SDL_Window* window, std::uint32_t user_time) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return;
  XSync(info.info.x11.display, False);  // SDL's window exists for our connection too
  window_ = info.info.x11.window;
  user_time_ = user_time;

  // Placed by us, sized freely: SDL gives a window it cannot resize a fixed size.
  XSizeHints hints{};
  hints.flags = USPosition | USSize;
  hints.x = monitor_.x;
  hints.y = monitor_.y;
  hints.width = monitor_.width;
  hints.height = monitor_.height;
  XSetWMNormalHints(display_, window_, &hints);
  XMoveResizeWindow(display_, window_, monitor_.x, monitor_.y,
                    static_cast<unsigned>(monitor_.width), static_cast<unsigned>(monitor_.height));
  // Full-screen from its first map: no normal frame shows first.
  const Atom fullscreen = Intern(display_, "_NET_WM_STATE_FULLSCREEN");
  XChangeProperty(display_, window_, Intern(display_, "_NET_WM_STATE"), XA_ATOM, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&fullscreen), 1);
  // A user time of 0 would ask not to be focused; unknown, it is better left unsaid.
  if (user_time != 0) {
    const long time = user_time;
    XChangeProperty(display_, window_, Intern(display_, "_NET_WM_USER_TIME"), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&time), 1);
  }
  XSelectInput(display_, window_, StructureNotifyMask | PropertyChangeMask);
  XSync(display_, False);
}

// Some window managers put a full-screen window on a monitor of their own choosing, whatever
// its place; named by index (Xinerama's numbering, which is RandR's), it goes on ours.
void X11Desktop::AskForMonitor() {
  const long m = monitor_index_;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window_;
  event.xclient.message_type = Intern(display_, "_NET_WM_FULLSCREEN_MONITORS");
  event.xclient.format = 32;
  event.xclient.data.l[0] = m;
  event.xclient.data.l[1] = m;
  event.xclient.data.l[2] = m;
  event.xclient.data.l[3] = m;
  event.xclient.data.l[4] = 1;
  XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

void X11Desktop::Activate() {
  if (window_ == 0) return;
  long time = user_time_;
  if (time == 0) {
    // The server's time now, from a property change of no length: still later than the
    // player's last input, which is all a window manager compares.
    const Atom stamp = Intern(display_, "_GLOMPER_TIME");
    XChangeProperty(display_, window_, stamp, XA_CARDINAL, 32, PropModeAppend, nullptr, 0);
    XEvent event;
    do XWindowEvent(display_, window_, PropertyChangeMask, &event);
    while (event.xproperty.atom != stamp);
    time = static_cast<long>(event.xproperty.time);
  }
  AskForMonitor();
  // Source 1: an application, acting on the player's own request.
  SendToRoot(display_, root_, window_, Intern(display_, "_NET_ACTIVE_WINDOW"), 1, time, 0, 0);
  if (!had_window_manager_) {
    XRaiseWindow(display_, window_);
    XSetInputFocus(display_, window_, RevertToPointerRoot, static_cast<Time>(time));
  }
  XFlush(display_);
}

std::optional<WindowGeometry> X11Desktop::Placed() const {
  if (window_ == 0) return std::nullopt;
  XWindowAttributes attributes;
  Window child;
  WindowGeometry g;
  if (!XGetWindowAttributes(display_, window_, &attributes) || attributes.map_state != IsViewable ||
      !XTranslateCoordinates(display_, window_, root_, 0, 0, &g.x, &g.y, &child)) {
    return std::nullopt;
  }
  g.width = attributes.width;
  g.height = attributes.height;
  return g;
}

bool X11Desktop::Covered() const { return Placed() == monitor_; }

// A window manager that knows fewer monitors than RandR (xfwm4 ignores those without an
// output) may make the window full-screen on another one: covering that counts too.
void X11Desktop::AdoptMonitorOfWindow() {
  const std::optional<WindowGeometry> placed = Placed();
  if (!placed || *placed == monitor_) return;
  int count = 0;
  XRRMonitorInfo* monitors =
      randr_event_base_ < 0 ? nullptr : XRRGetMonitors(display_, root_, True, &count);
  for (int i = 0; i < count; ++i) {
    if (WindowGeometry{monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height} ==
        *placed) {
      monitor_ = *placed;
      monitor_name_ = monitors[i].name;
      monitor_index_ = i;
    }
  }
  if (monitors != nullptr) XRRFreeMonitors(monitors);
}

void X11Desktop::Follow() {
  if (window_ == 0 || XPending(display_) == 0) return;
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (randr_event_base_ >= 0 && event.type == randr_event_base_ + RRScreenChangeNotify) {
      XRRUpdateConfiguration(&event);
    }
  }
  ChooseMonitor(/*from_pointer=*/false);
  const bool running = WindowManagerRunning();
  if (running != had_window_manager_) {
    had_window_manager_ = running;
    if (running) {
      // A new window manager: ask it what the first one was asked.
      SendToRoot(display_, root_, window_, Intern(display_, "_NET_WM_STATE"), 1,
                 static_cast<long>(Intern(display_, "_NET_WM_STATE_FULLSCREEN")), 0, 1);
      AskForMonitor();
    } else {
      // Nobody manages the window now: it stays on top with the keyboard, as with none at all.
      XRaiseWindow(display_, window_);
      XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    }
  }
  if (running) AdoptMonitorOfWindow();
  if (!running && !Covered()) {
    XMoveResizeWindow(display_, window_, monitor_.x, monitor_.y,
                      static_cast<unsigned>(monitor_.width),
                      static_cast<unsigned>(monitor_.height));
  }
  XFlush(display_);
}

}  // namespace platform
