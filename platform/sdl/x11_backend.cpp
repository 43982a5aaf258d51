#include "platform/sdl/x11_backend.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sdl/window_backend.h"
#include "platform/sdl/x11_frame.h"
#include "platform/sdl/x11_geometry.h"
#include "platform/x11/x11_client.h"

namespace platform {

namespace {

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

// Whenever the X server goes, mid-play or with a box open: one line of ours, status 1.
int OnDisplayLost(Display*) { LostTheDisplay(); }

bool Contains(const WindowGeometry& g, int x, int y) {
  return x >= g.x && y >= g.y && x < g.x + g.width && y < g.y + g.height;
}

WindowGeometry Of(const XRRMonitorInfo& m) { return {m.x, m.y, m.width, m.height}; }

// The game window on an X11 desktop. SDL makes the window and reads its input; the rest is
// done here on the game's own connection, so that SDL's idea of the window (its full-screen
// bookkeeping knows outputs, not the RandR monitors a player sees; SDL 3 takes the whole
// output's size for a full-screen window) never decides where it is or how it is drawn:
// placed on the monitor under the pointer, full screen from its first map, following
// monitors and window managers that come and go, drawn with the X server's shared memory.
class X11Backend : public WindowBackend {
 public:
  explicit X11Backend(Display* display);
  ~X11Backend() override;

  void Create(const WindowSpec& spec, std::uint32_t user_time) override;
  bool Covered() const override { return Placed() == monitor_; }
  std::pair<int, int> Size() const override { return {size_.width, size_.height}; }
  void Present(Scene& scene, bool now) override;
  void OnSdlEvent(const SDL_Event&) override {}
  bool Follow(Scene* scene) override;
  std::vector<int> WatchFds() const override { return {ConnectionNumber(display_)}; }
  bool ConnectionLost() const override { return false; }  // OnDisplayLost has ended the game
  // A connection the server closed reads as one with nothing to say until the game asks.
  bool Reaches() override {
    XSync(display_, False);
    return true;
  }
  void Describe(BoxRequest& request) override {
    request.window_system = WindowSystem::kX11;
    request.x11_parent = window_;
    request.take_keyboard = !x11::WindowManagerRunning(display_);
  }

 private:
  void ChooseMonitor(bool from_pointer);
  void Prepare(std::uint32_t user_time);
  void AskForMonitor();
  void Activate(std::uint32_t user_time);
  std::optional<WindowGeometry> Placed() const;
  void AdoptMonitorOfWindow();
  void FollowDesktop();

  Display* display_;
  int randr_event_base_ = -1;
  ::Window root_;
  SDL_Window* sdl_ = nullptr;
  ::Window window_ = 0;
  std::unique_ptr<X11Frame> frame_;
  std::vector<PixelRect> exposed_;
  unsigned long monitor_name_ = 0;  // RandR's name of the monitor, to find it again
  int monitor_index_ = 0;
  WindowGeometry monitor_;
  WindowGeometry size_;  // as the server last configured the window
  bool had_window_manager_ = false;
};

X11Backend::X11Backend(Display* display) : display_(display), root_(DefaultRootWindow(display)) {
  int randr_error = 0, fixes_event = 0, fixes_error = 0;
  if (!XRRQueryExtension(display, &randr_event_base_, &randr_error)) randr_event_base_ = -1;
  // The root's own size, a new window manager's announcement (ICCCM's MANAGER message), the
  // monitors, and who holds the window manager's selection: what FollowDesktop reacts to.
  XSelectInput(display, root_, StructureNotifyMask);
  if (randr_event_base_ >= 0) {
    XRRSelectInput(display, root_,
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  }
  if (XFixesQueryExtension(display, &fixes_event, &fixes_error)) {
    const std::string selection = "WM_S" + std::to_string(DefaultScreen(display));
    XFixesSelectSelectionInput(display, root_, x11::Intern(display, selection.c_str()),
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
  }
}

X11Backend::~X11Backend() {
  frame_.reset();
  if (sdl_ != nullptr) SDL_DestroyWindow(sdl_);
  CloseX11(display_);
}

void X11Backend::ChooseMonitor(bool from_pointer) {
  const WindowGeometry before = monitor_;
  const int screen = DefaultScreen(display_);
  monitor_ = {0, 0, DisplayWidth(display_, screen), DisplayHeight(display_, screen)};
  if (randr_event_base_ < 0) return;
  int px = 0, py = 0;
  if (from_pointer) {
    ::Window root, child;
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
  for (int i = 0; i < count && chosen == nullptr; ++i) {
    if (from_pointer ? Contains(Of(monitors[i]), px, py) : monitors[i].name == monitor_name_) {
      chosen = &monitors[i];
    }
  }
  for (int i = 0; i < count && chosen == nullptr && !from_pointer; ++i) {
    if (Contains(Of(monitors[i]), before.x + before.width / 2, before.y + before.height / 2)) {
      chosen = &monitors[i];
    }
  }
  for (int i = 0; i < count && chosen == nullptr; ++i) {
    if (monitors[i].primary) chosen = &monitors[i];
  }
  if (chosen == nullptr && count > 0) chosen = &monitors[0];
  if (chosen != nullptr) {
    monitor_ = Of(*chosen);
    monitor_name_ = chosen->name;
    monitor_index_ = static_cast<int>(chosen - monitors);
  }
  XRRFreeMonitors(monitors);
}

void X11Backend::Create(const WindowSpec& spec, std::uint32_t user_time) {
  ChooseMonitor(/*from_pointer=*/true);
  had_window_manager_ = x11::WindowManagerRunning(display_);
  const WindowGeometry& at = monitor_;
  sdl_ = MakeSdlWindow(spec, at.x, at.y, at.width, at.height,
                       SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(sdl_, &info) || info.subsystem != SDL_SYSWM_X11) {
    std::fprintf(stderr, "glomper: cannot create the game window (%s)\n", SDL_GetError());
    throw ProgramEnd{1};
  }
  XSync(info.info.x11.display, False);  // SDL's window exists for our connection too
  window_ = info.info.x11.window;
  Prepare(user_time);
  frame_ = std::make_unique<X11Frame>(display_, window_);
  SDL_ShowWindow(sdl_);
  Activate(user_time);
}

// Before the window is mapped: asks to have it full-screen on the monitor from the start, and
// says when the player asked for it (`user_time`: the X time of the key or click that
// dismissed the instructions), so focus-stealing prevention lets it in.
void X11Backend::Prepare(std::uint32_t user_time) {
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
  size_ = monitor_;
  // Full-screen from its first map: no normal frame shows first.
  x11::SetAtoms(display_, window_, "_NET_WM_STATE", {"_NET_WM_STATE_FULLSCREEN"});
  // A user time of 0 would ask not to be focused; unknown, it is better left unsaid.
  if (user_time != 0) x11::SetCardinal(display_, window_, "_NET_WM_USER_TIME", user_time);
  XSelectInput(display_, window_, StructureNotifyMask | PropertyChangeMask | ExposureMask);
  XSync(display_, False);
}

// Some window managers put a full-screen window on a monitor of their own choosing, whatever
// its place; named by index (Xinerama's numbering, which is RandR's), it goes on ours.
void X11Backend::AskForMonitor() {
  const long m = monitor_index_;
  x11::SendToRoot(display_, window_, "_NET_WM_FULLSCREEN_MONITORS", {m, m, m, m, 1});
}

// Once mapped: asks the window manager to activate the window, as the player asked.
void X11Backend::Activate(std::uint32_t user_time) {
  long time = user_time;
  if (time == 0) {
    // The server's time now, from a property change of no length: still later than the
    // player's last input, which is all a window manager compares.
    const Atom stamp = x11::Intern(display_, "_GLOMPER_TIME");
    XChangeProperty(display_, window_, stamp, XA_CARDINAL, 32, PropModeAppend, nullptr, 0);
    XEvent event;
    do XWindowEvent(display_, window_, PropertyChangeMask, &event);
    while (event.xproperty.atom != stamp);
    time = static_cast<long>(event.xproperty.time);
  }
  AskForMonitor();
  // Source 1: an application, acting on the player's own request.
  x11::SendToRoot(display_, window_, "_NET_ACTIVE_WINDOW", {1, time, 0, 0, 0});
  if (!had_window_manager_) {
    XRaiseWindow(display_, window_);
    XSetInputFocus(display_, window_, RevertToPointerRoot, static_cast<Time>(time));
  }
  XFlush(display_);
}

std::optional<WindowGeometry> X11Backend::Placed() const {
  if (window_ == 0) return std::nullopt;
  XWindowAttributes attributes;
  ::Window child;
  WindowGeometry g;
  if (!XGetWindowAttributes(display_, window_, &attributes) || attributes.map_state != IsViewable ||
      !XTranslateCoordinates(display_, window_, root_, 0, 0, &g.x, &g.y, &child)) {
    return std::nullopt;
  }
  g.width = attributes.width;
  g.height = attributes.height;
  return g;
}

// A window manager that knows fewer monitors than RandR (xfwm4 ignores those without an
// output) may make the window full-screen on another one: covering that counts too.
void X11Backend::AdoptMonitorOfWindow() {
  const std::optional<WindowGeometry> placed = Placed();
  if (!placed || *placed == monitor_ || randr_event_base_ < 0) return;
  int count = 0;
  XRRMonitorInfo* monitors = XRRGetMonitors(display_, root_, True, &count);
  for (int i = 0; i < count; ++i) {
    if (Of(monitors[i]) == *placed) {
      monitor_ = *placed;
      monitor_name_ = monitors[i].name;
      monitor_index_ = i;
    }
  }
  if (monitors != nullptr) XRRFreeMonitors(monitors);
}

void X11Backend::Present(Scene& scene, bool) {
  if (!frame_) return;
  if (frame_->Width() != size_.width || frame_->Height() != size_.height) {
    if (!frame_->Resize(size_.width, size_.height)) return;
    scene.InvalidateAll();
  }
  if (!scene.NeedsCompose()) return;
  frame_->Push(scene.Compose(frame_->Pixels()));
}

bool X11Backend::Follow(Scene*) {
  if (XPending(display_) == 0) return false;
  bool resized = false, desktop = false;
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == Expose && event.xexpose.window == window_) {
      const XExposeEvent& e = event.xexpose;
      exposed_.push_back({e.x, e.y, e.x + e.width, e.y + e.height});
      continue;
    }
    if (event.type == ConfigureNotify && event.xconfigure.window == window_ &&
        (event.xconfigure.width != size_.width || event.xconfigure.height != size_.height)) {
      size_.width = event.xconfigure.width;
      size_.height = event.xconfigure.height;
      resized = true;
    }
    if (randr_event_base_ >= 0 && event.type == randr_event_base_ + RRScreenChangeNotify) {
      XRRUpdateConfiguration(&event);
    }
    desktop = true;
  }
  // Uncovered: painted again from the picture the server already has the pixels of.
  if (!exposed_.empty() && frame_ && !resized) frame_->Push(exposed_);
  exposed_.clear();
  if (desktop && window_ != 0) FollowDesktop();
  return resized;
}

// A monitor resized, the window manager gone or replaced.
void X11Backend::FollowDesktop() {
  ChooseMonitor(/*from_pointer=*/false);
  const bool running = x11::WindowManagerRunning(display_);
  if (running != had_window_manager_) {
    had_window_manager_ = running;
    if (running) {
      // A new window manager: ask it what the first one was asked.
      x11::SendToRoot(
          display_, window_, "_NET_WM_STATE",
          {1, static_cast<long>(x11::Intern(display_, "_NET_WM_STATE_FULLSCREEN")), 0, 1, 0});
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

}  // namespace

Display* OpenX11(std::string& error) {
  XSetErrorHandler(OnXError);  // before SDL, which passes on the errors it does not expect
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return nullptr;
  const int depth = DefaultDepth(display, DefaultScreen(display));
  if (depth < 15) {
    XCloseDisplay(display);
    error = "the screen shows " + std::to_string(depth) +
            "-bit colour; the game needs 15-bit colour or more";
    return nullptr;
  }
  XSetIOErrorHandler(OnDisplayLost);
  return display;
}

void CloseX11(Display* display) { XCloseDisplay(display); }

void X11Ending() { g_ending = true; }

std::unique_ptr<WindowBackend> MakeX11Backend(Display* display) {
  return std::make_unique<X11Backend>(display);
}

}  // namespace platform
