#include "platform/sdl/sdl_system.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include <unistd.h>

#include "platform/gif_decoder.h"
#include "platform/sdl/key_codes.h"
#include "platform/sdl/wayland_window.h"
#include "platform/sdl/x11_desktop.h"

namespace platform {

namespace {

volatile std::sig_atomic_t g_quit = 0;  // set by SIGINT/SIGTERM, read by the loop

extern "C" void OnQuitSignal(int) { g_quit = 1; }

// Whenever the X server goes, mid-play or with a box open: one line of ours, status 1. The box
// dies with the game.
int OnDisplayLost(Display*) {
  static const char kLine[] = "glomper: lost the connection to the display\n";
  [[maybe_unused]] const auto written = write(STDERR_FILENO, kLine, sizeof kLine - 1);
  _exit(1);
}

// A message that no box could show, on one line of standard error.
void PrintOneLine(const std::string& title, const std::string& text) {
  std::string line = title + ":";
  bool space = true;
  for (char c : text) {
    if (c == '\n') {
      space = true;
      continue;
    }
    if (space) line += ' ';
    space = false;
    line += c;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

class SteadyClock : public Clock {
 public:
  Nanoseconds Now() const override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};
const SteadyClock kSteadyClock;

std::string WithLineFeeds(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

struct SurfaceDeleter {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};

}  // namespace

// ---- Window ----

class SdlWindow : public Window {
 public:
  SdlWindow(SdlSystem& system, const WindowSpec& spec) : system_(system), spec_(spec) {}
  ~SdlWindow() override {
    if (system_.window_ == this) system_.window_ = nullptr;
    if (wayland_) return;  // it owns the SDL window
    if (window_ != nullptr) SDL_DestroyWindow(window_);
  }

  double Width() const override { return Size().first * double{kTwipsPerPixel}; }
  double Height() const override { return Size().second * double{kTwipsPerPixel}; }

  // Covering the screen is confirmed by the window system: exposed, and placed exactly over
  // the monitor (on X11) or the display. The size SDL reports in full-screen mode proves
  // nothing (it is the display's from creation on).
  int State() const override {
    if (wayland_) return wayland_->FullScreen() ? kStateMaximised : kStateNormal;
    if (window_ == nullptr || !exposed_) return kStateNormal;
    if (desktop_) return desktop_->Covered() ? kStateMaximised : kStateNormal;
    SDL_Rect bounds;
    const int display = SDL_GetWindowDisplayIndex(window_);
    if (display < 0 || SDL_GetDisplayBounds(display, &bounds) != 0) return kStateNormal;
    WindowGeometry actual;
    SDL_GetWindowPosition(window_, &actual.x, &actual.y);
    std::tie(actual.width, actual.height) = Size();
    return actual == WindowGeometry{bounds.x, bounds.y, bounds.w, bounds.h} ? kStateMaximised
                                                                            : kStateNormal;
  }

  // The window is made when it is first shown: created visible and full-screen, it covers
  // the display even where no window manager would resize it. On X11 it is mapped already
  // asking for full screen on the monitor, with the player's time, so that it comes in front.
  void Show() override {
    if (window_ == nullptr && OnWayland()) {
      wayland_ = WaylandWindow::Create(spec_.client_width_px, spec_.client_height_px);
      if (wayland_) window_ = wayland_->Sdl();
    }
    if (wayland_) return;
    if (window_ != nullptr) {
      SDL_ShowWindow(window_);
      return;
    }
    desktop_ = X11Desktop::Open(system_.watch_);
    if (desktop_) {
      const WindowGeometry& at = desktop_->Monitor();
      window_ = SDL_CreateWindow("", at.x, at.y, at.width, at.height,
                                 SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
    } else {
      window_ = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                 spec_.client_width_px, spec_.client_height_px,
                                 SDL_WINDOW_BORDERLESS | SDL_WINDOW_FULLSCREEN_DESKTOP);
    }
    if (window_ == nullptr) {
      std::fprintf(stderr, "glomper: cannot create the game window (%s)\n", SDL_GetError());
      system_.End(1);
    }
    if (!spec_.icon_bmp.empty()) {
      SDL_RWops* rw =
          SDL_RWFromConstMem(spec_.icon_bmp.data(), static_cast<int>(spec_.icon_bmp.size()));
      std::unique_ptr<SDL_Surface, SurfaceDeleter> icon(SDL_LoadBMP_RW(rw, 1));
      if (icon) SDL_SetWindowIcon(window_, icon.get());
    }
    if (desktop_) {
      desktop_->Prepare(window_, system_.user_time_);
      SDL_ShowWindow(window_);
      desktop_->Activate();
    } else {
      SDL_RaiseWindow(window_);
    }
  }

  // The desktop may change under the window: monitors, window managers.
  void Follow() {
    if (desktop_) desktop_->Follow();
  }

  void OnWindowEvent(const SDL_WindowEvent& event) {
    switch (event.event) {
      case SDL_WINDOWEVENT_EXPOSED:
        exposed_ = true;
        push_all_ = true;
        break;
      case SDL_WINDOWEVENT_SIZE_CHANGED:
        surface_ = nullptr;  // SDL makes a new one at the new size
        actual_size_ = {event.data1, event.data2};
        if (on_resize) on_resize();
        break;
      case SDL_WINDOWEVENT_HIDDEN:
        exposed_ = false;
        break;
      default:
        break;
    }
  }

  // The window as the box's process names it, so that a box can belong to it; empty before
  // it is shown.
  std::string ParentHandle() {
    if (wayland_) return wayland_->ExportHandle();
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window_ == nullptr || !SDL_GetWindowWMInfo(window_, &info) ||
        info.subsystem != SDL_SYSWM_X11) {
      return {};
    }
    return std::to_string(info.info.x11.window);
  }

  // The last picture before a modal box: on Wayland not left for the compositor's next frame.
  void PresentBeforeBox() {
    if (wayland_) return wayland_->PresentNow(scene_);
    Present();
  }

  // Draws what changed since the last present and pushes just those rectangles.
  void Present() {
    if (wayland_) {
      wayland_->Present(scene_);
      return;
    }
    if (window_ == nullptr || !(SDL_GetWindowFlags(window_) & SDL_WINDOW_SHOWN)) return;
    if (surface_ == nullptr) {
      surface_ = SDL_GetWindowSurface(window_);
      if (surface_ == nullptr) return;
      scene_.InvalidateAll();
      staging_.reset();
      // Compose straight into the window's pixels when they are 32-bit XRGB, as on X11.
      if (surface_->format->format != SDL_PIXELFORMAT_RGB888 &&
          surface_->format->format != SDL_PIXELFORMAT_ARGB8888) {
        staging_.reset(SDL_CreateRGBSurfaceWithFormat(0, surface_->w, surface_->h, 32,
                                                      SDL_PIXELFORMAT_ARGB8888));
        if (!staging_) return;
      }
    }
    SDL_Surface* target = staging_ ? staging_.get() : surface_;
    if (scene_.NeedsCompose()) {
      const Canvas canvas{static_cast<std::uint32_t*>(target->pixels), target->w, target->h,
                          target->pitch / 4};
      const std::vector<PixelRect>& rects = scene_.Compose(canvas);
      rects_.clear();
      for (const PixelRect& r : rects) rects_.push_back({r.x0, r.y0, r.Width(), r.Height()});
      if (staging_) {
        for (SDL_Rect r : rects_) SDL_BlitSurface(staging_.get(), &r, surface_, &r);
      }
      if (!push_all_ && !rects_.empty()) {
        SDL_UpdateWindowSurfaceRects(window_, rects_.data(), static_cast<int>(rects_.size()));
      }
    }
    if (push_all_) {
      push_all_ = false;
      SDL_UpdateWindowSurface(window_);
    }
  }

 private:
  std::pair<int, int> Size() const {
    if (window_ == nullptr) return {spec_.client_width_px, spec_.client_height_px};
    if (wayland_) return wayland_->Size();
    if (actual_size_) return *actual_size_;
    int w = 0, h = 0;
    SDL_GetWindowSize(window_, &w, &h);
    return {w, h};
  }

  SdlSystem& system_;
  WindowSpec spec_;
  SDL_Window* window_ = nullptr;
  SDL_Surface* surface_ = nullptr;
  std::unique_ptr<SDL_Surface, SurfaceDeleter> staging_;
  std::vector<SDL_Rect> rects_;
  bool exposed_ = false;
  bool push_all_ = false;
  std::optional<std::pair<int, int>> actual_size_;  // as the window system last told
  std::unique_ptr<X11Desktop> desktop_;             // null when not on X11
  std::unique_ptr<WaylandWindow> wayland_;          // on Wayland, the window itself
};

// ---- System ----

SdlSystem::SdlSystem(const DialogArt& art, DialogSetting setting, Display* watch)
    : System(kSteadyClock), art_(art), dialog_setting_(std::move(setting)), watch_(watch) {}

SdlSystem::~SdlSystem() {
  if (watch_ != nullptr) XCloseDisplay(watch_);
  X11Ending();
  SDL_Quit();
}

std::unique_ptr<SdlSystem> SdlSystem::Start(const DialogArt& art, std::string& error) {
  // Our own handlers, so that a signal also ends the program while a dialog is open.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  struct sigaction action = {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  const bool driver_chosen = set("SDL_VIDEODRIVER");
  if (!driver_chosen && !set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
    error = "cannot open the display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return nullptr;
  }
  // The game talks to no session bus: without one, the D-Bus library would start one (and
  // leave it running) for SDL's screensaver and input-method calls. The box gets the
  // player's bus back, where there is one.
  DialogSetting setting;
  if (const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS")) setting.session_bus = bus;
  // What the launcher gave for the first window goes to the instructions box, and to no later
  // window: used again, an old time would keep an end box behind the game.
  for (auto [name, value] : {std::pair{"DESKTOP_STARTUP_ID", &setting.startup_id},
                             std::pair{"XDG_ACTIVATION_TOKEN", &setting.activation_token}}) {
    if (const char* given = std::getenv(name)) *value = given;
    unsetenv(name);
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
  // The game takes no text: keys come straight from the server, not through an input method.
  setenv("XMODIFIERS", "@im=none", 1);
  if (!driver_chosen) {
    // Only the window systems the environment names: probing others prints their errors.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, !set("WAYLAND_DISPLAY") ? "x11"
                                      : !set("DISPLAY")       ? "wayland"
                                                              : "x11,wayland");
  }
  X11HandleErrors();  // before SDL, which passes on the errors it does not expect
  // The game window needs no decorations, so Wayland's decoration library is not loaded.
  SDL_SetHint(SDL_HINT_VIDEO_WAYLAND_ALLOW_LIBDECOR, "0");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    error = std::string("cannot open the display (") + SDL_GetError() + ")";
    return nullptr;
  }
  // SDL falls back to drivers that show nothing; a player would face an invisible game.
  const std::string_view driver = SDL_GetCurrentVideoDriver();
  if (!driver_chosen && (driver == "offscreen" || driver == "dummy" || driver == "evdev")) {
    SDL_Quit();
    error = "cannot open the display (no window system answered)";
    return nullptr;
  }
  SDL_StopTextInput();
  Display* watch = nullptr;
  // Pushing rectangles of the window surface is what keeps drawing cheap; on Wayland SDL
  // has no window surface without its accelerated path.
  if (driver == "x11") {
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    setting.gdk_backend = "x11";
    XSetIOErrorHandler(OnDisplayLost);
    // A connection of our own: for noticing while a box is open that the server is gone, and
    // for following the desktop (monitors, window managers) without touching SDL's events.
    watch = XOpenDisplay(nullptr);
    if (watch == nullptr) {
      SDL_Quit();
      error = "cannot open the display";
      return nullptr;
    }
    const int depth = DefaultDepth(watch, DefaultScreen(watch));
    if (depth < 15) {
      XCloseDisplay(watch);
      SDL_Quit();
      error = "the screen shows " + std::to_string(depth) +
              "-bit colour; the game needs 15-bit colour or more";
      return nullptr;
    }
  } else if (driver == "wayland") {
    setting.gdk_backend = "wayland";
  }
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  return std::unique_ptr<SdlSystem>(new SdlSystem(art, std::move(setting), watch));
}

std::unique_ptr<Window> SdlSystem::CreateWindow(const WindowSpec& spec) {
  auto created = std::make_unique<SdlWindow>(*this, spec);
  window_ = created.get();
  return created;
}

void SdlSystem::MessageBox(std::string_view text, MessageIcon icon, std::string_view title) {
  // What led to the message is on the screen before the box covers the game.
  if (window_ != nullptr) window_->PresentBeforeBox();
  const std::string plain = WithLineFeeds(text);
  const std::string heading(title);
  const bool critical = icon == MessageIcon::kCritical;
  // Asking the server for a reply finds out whether it is still there; a dead connection
  // calls OnDisplayLost. What arrived meanwhile stays queued for the desktop to follow.
  const DialogWatch watch{g_quit, watch_ != nullptr ? ConnectionNumber(watch_) : -1,
                          [this] { XSync(watch_, False); }};
  DialogSetting setting = dialog_setting_;
  if (window_ != nullptr) setting.parent = window_->ParentHandle();
  // The launcher's notification is the first box's alone.
  dialog_setting_.startup_id.clear();
  dialog_setting_.activation_token.clear();
  switch (ShowDialog(heading, plain, critical, art_, setting, watch, user_time_)) {
    case DialogResult::kDismissed:
      return;
    case DialogResult::kInterrupted:
      End(0);
    case DialogResult::kUnavailable:
      // Nothing to wait for: the player reads it here, and the game goes on as if dismissed.
      PrintOneLine(heading, plain);
      return;
  }
}

PictureRef SdlSystem::LoadPicture(std::span<const std::uint8_t> gif) { return DecodeGif(gif); }

void SdlSystem::Dispatch(const SDL_Event& event) {
  switch (event.type) {
    case SDL_QUIT:
      // The window manager's close request ends the game as Esc does.
      End(0);
    case SDL_WINDOWEVENT:
      if (window_ != nullptr) window_->OnWindowEvent(event.window);
      break;
    case SDL_MOUSEMOTION:
      if (window_ != nullptr && window_->on_mouse_move) {
        window_->on_mouse_move(MouseButtons(event.motion.state), ShiftState(SDL_GetModState()),
                               static_cast<float>(event.motion.x),
                               static_cast<float>(event.motion.y));
      }
      break;
    case SDL_KEYDOWN:
      if (window_ != nullptr && window_->on_key_down) {
        window_->on_key_down(KeyCode(event.key.keysym.sym), ShiftState(event.key.keysym.mod));
      }
      break;
    default:
      break;
  }
}

void SdlSystem::Run() {
  for (;;) {
    const Nanoseconds due = timers_.NextDue();
    const Nanoseconds now = kSteadyClock.Now();
    SDL_Event event;
    bool got = false;
    if (due == kNever) {
      got = SDL_WaitEvent(&event) != 0;
    } else if (due > now) {
      // Round up: waking early would only spin until the tick is due.
      const Nanoseconds wait_ms = (due - now + kNsPerMs - 1) / kNsPerMs;
      got = SDL_WaitEventTimeout(&event, static_cast<int>(wait_ms)) != 0;
    } else {
      got = SDL_PollEvent(&event) != 0;
    }
    if (got) {
      do Dispatch(event);
      while (SDL_PollEvent(&event) != 0);
    }
    if (g_quit) End(0);
    if (window_ != nullptr) window_->Follow();
    const Nanoseconds tick_time = kSteadyClock.Now();
    while (timers_.FireOneDue(tick_time)) {
    }
    if (window_ != nullptr) window_->Present();
  }
}

}  // namespace platform
