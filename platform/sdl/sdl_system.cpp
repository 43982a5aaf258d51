#include "platform/sdl/sdl_system.h"

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

#include "platform/gif_decoder.h"
#include "platform/sdl/key_codes.h"
#include "platform/sdl/window_backend.h"
#include "platform/sdl/x11_backend.h"

namespace platform {

namespace {

volatile std::sig_atomic_t g_quit = 0;  // set by SIGINT/SIGTERM, read by the loop

extern "C" void OnQuitSignal(int) { g_quit = 1; }

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

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// While SDL starts its video: the libraries below it say things on their way up (libdecor's
// "No plugins found"), and the game's standard error is for the game's own lines.
// SDL 3, on a compositor that leaves decorations to its clients (GNOME), starts libdecor,
// which would load GTK and its threads into the game for decorations its window never has:
// with no plugin directory, libdecor keeps to its plain fallback.
class StartingVideo {
 public:
  StartingVideo() : saved_stderr_(fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0)) {
    if (const char* dir = std::getenv(kPlugins)) plugins_ = dir;
    setenv(kPlugins, "", 1);
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0) {
      dup2(null_fd, STDERR_FILENO);
      close(null_fd);
    }
  }
  ~StartingVideo() {
    if (saved_stderr_ >= 0) {
      dup2(saved_stderr_, STDERR_FILENO);
      close(saved_stderr_);
    }
    if (plugins_) {
      setenv(kPlugins, plugins_->c_str(), 1);
    } else {
      unsetenv(kPlugins);
    }
  }
  StartingVideo(const StartingVideo&) = delete;
  StartingVideo& operator=(const StartingVideo&) = delete;

 private:
  static constexpr const char* kPlugins = "LIBDECOR_PLUGIN_DIR";
  int saved_stderr_;
  std::optional<std::string> plugins_;
};

}  // namespace

SDL_Window* MakeSdlWindow(const WindowSpec& spec, int x, int y, int width, int height,
                          unsigned flags) {
  SDL_Window* window = SDL_CreateWindow("", x, y, width, height, flags);
  if (window == nullptr) {
    std::fprintf(stderr, "glomper: cannot create the game window (%s)\n", SDL_GetError());
    throw ProgramEnd{1};
  }
  if (!spec.icon_bmp.empty()) {
    SDL_RWops* rw =
        SDL_RWFromConstMem(spec.icon_bmp.data(), static_cast<int>(spec.icon_bmp.size()));
    if (SDL_Surface* icon = SDL_LoadBMP_RW(rw, 1)) {
      SDL_SetWindowIcon(window, icon);
      SDL_FreeSurface(icon);
    }
  }
  return window;
}

void LostTheDisplay() {
  static const char kLine[] = "glomper: lost the connection to the display\n";
  [[maybe_unused]] const auto written = write(STDERR_FILENO, kLine, sizeof kLine - 1);
  _exit(1);
}

// ---- Window ----

class SdlWindow : public Window {
 public:
  SdlWindow(SdlSystem& system, const WindowSpec& spec) : system_(system), spec_(spec) {}
  ~SdlWindow() override {
    if (system_.window_ == this) system_.window_ = nullptr;
  }

  double Width() const override { return Size().first * double{kTwipsPerPixel}; }
  double Height() const override { return Size().second * double{kTwipsPerPixel}; }
  int State() const override {
    return created_ && system_.backend_->Covered() ? kStateMaximised : kStateNormal;
  }
  void Show() override {
    if (created_) return;
    created_ = true;
    system_.backend_->Create(spec_, system_.user_time_);
  }

 private:
  std::pair<int, int> Size() const {
    return created_ ? system_.backend_->Size()
                    : std::pair{spec_.client_width_px, spec_.client_height_px};
  }

  SdlSystem& system_;
  WindowSpec spec_;
  bool created_ = false;
};

// ---- System ----

SdlSystem::SdlSystem(std::unique_ptr<WindowBackend> backend, BoxRequest box_setting)
    : System(kSteadyClock),
      backend_(std::move(backend)),
      boxes_(BoxHost::OfThisProgram()),
      box_setting_(std::move(box_setting)) {}

SdlSystem::~SdlSystem() {
  X11Ending();
  backend_.reset();
  SDL_Quit();
}

std::unique_ptr<SdlSystem> SdlSystem::Start(std::string& error) {
  // Our own handlers, so that a signal also ends the program while a box is open.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  struct sigaction action = {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  const bool driver_chosen = Set("SDL_VIDEODRIVER");
  if (!driver_chosen && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
    error = "cannot open the display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return nullptr;
  }
  // The game talks to no session bus: without one, the D-Bus library would start one (and
  // leave it running) for SDL's screensaver and input-method calls. Boxes get the player's.
  BoxRequest setting;
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

  // On X11 the game's own connection comes first: a screen it cannot draw on is refused with
  // its own words, whatever SDL would say of it.
  _XDisplay* own_x11 = nullptr;
  if (!driver_chosen && Set("DISPLAY")) {
    own_x11 = OpenX11(error);
    if (own_x11 == nullptr && (!error.empty() || !Set("WAYLAND_DISPLAY"))) {
      if (error.empty()) error = "cannot open the display";
      return nullptr;
    }
  }
  if (!driver_chosen) {
    // Only the window systems the environment names: probing others prints their errors.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, own_x11 != nullptr ? "x11" : "wayland");
  }
  // The game window needs no decorations, so Wayland's decoration library is not loaded; its
  // size is in the compositor's units, whatever the scale (SDL3 would count in pixels).
  SDL_SetHint(SDL_HINT_VIDEO_WAYLAND_ALLOW_LIBDECOR, "0");
  SDL_SetHint("SDL_VIDEO_WAYLAND_SCALE_TO_DISPLAY", "0");
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  std::optional<StartingVideo> starting(std::in_place);
  const bool started = SDL_Init(SDL_INIT_VIDEO) == 0;
  starting.reset();
  if (!started) {
    error = std::string("cannot open the display (") + SDL_GetError() + ")";
    if (own_x11 != nullptr) CloseX11(own_x11);
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
  std::unique_ptr<WindowBackend> backend;
  if (driver == "x11") {
    if (own_x11 == nullptr && (own_x11 = OpenX11(error)) == nullptr) {
      SDL_Quit();
      if (error.empty()) error = "cannot open the display";
      return nullptr;
    }
    backend = MakeX11Backend(own_x11);
  } else {
    if (own_x11 != nullptr) CloseX11(own_x11);
    if (driver == "wayland") {
      SDL_Rect screen{0, 0, 0, 0};
      SDL_GetDisplayBounds(0, &screen);
      backend = MakeWaylandBackend(screen.w, screen.h);
    }
    if (!backend) backend = MakeSurfaceBackend();
  }
  return std::unique_ptr<SdlSystem>(new SdlSystem(std::move(backend), std::move(setting)));
}

std::unique_ptr<Window> SdlSystem::CreateWindow(const WindowSpec& spec) {
  auto created = std::make_unique<SdlWindow>(*this, spec);
  window_ = created.get();
  return created;
}

void SdlSystem::KeepAnswering(bool spoke) {
  SDL_Event event;
  while (SDL_PollEvent(&event) != 0) {
    // A close request still ends the game; the game's own input waits for no one.
    if (event.type == SDL_QUIT) Dispatch(event);
    if (event.type == SDL_WINDOWEVENT || event.type == SDL_SYSWMEVENT) backend_->OnSdlEvent(event);
  }
  // The window is painted again where it was uncovered; a resize waits for play to go on.
  backend_->Follow(window_ != nullptr ? &window_->GetScene() : nullptr);
  // A connection the display closed wakes the game as one with something to say.
  if (backend_->ConnectionLost() || (spoke && !backend_->Reaches())) LostTheDisplay();
}

void SdlSystem::MessageBox(std::string_view text, MessageIcon icon, std::string_view title) {
  // What led to the message is on the screen before the box covers the game.
  if (window_ != nullptr) backend_->Present(window_->GetScene(), /*now=*/true);
  BoxRequest request = box_setting_;
  request.title = std::string(title);
  request.text = WithLineFeeds(text);
  request.icon = icon;
  backend_->Describe(request);
  // The launcher's notification is the first box's alone.
  box_setting_.startup_id.clear();
  box_setting_.activation_token.clear();
  const BoxWatch watch{g_quit, backend_->WatchFds(), [this](bool spoke) { KeepAnswering(spoke); }};
  BoxAnswer answer;
  BoxResult result = boxes_.Show(request, watch, answer);
  // Where GTK is missing or cannot start, the game's own box; it needs an X display.
  if (result == BoxResult::kUnavailable && request.window_system == WindowSystem::kX11) {
    request.toolkit = Toolkit::kXlib;
    result = boxes_.Show(request, watch, answer);
  }
  switch (result) {
    case BoxResult::kDismissed:
      user_time_ = answer.user_time;
      return;
    case BoxResult::kInterrupted:
      End(0);
    case BoxResult::kUnavailable:
      // A box that could not be shown may have lost the display with the game.
      KeepAnswering(/*spoke=*/true);
      // Nothing to wait for: the player reads it here, and the game goes on as if dismissed.
      PrintOneLine(request.title, request.text);
      user_time_ = 0;
      return;
  }
}

PictureRef SdlSystem::LoadPicture(std::span<const std::uint8_t> gif) { return DecodeGif(gif); }

void SdlSystem::Dispatch(const SDL_Event& event) {
  switch (event.type) {
    case SDL_QUIT:
      if (backend_->ConnectionLost()) LostTheDisplay();
      // The window manager's close request ends the game as Esc does.
      End(0);
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
      backend_->OnSdlEvent(event);
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
    Scene* scene = window_ != nullptr ? &window_->GetScene() : nullptr;
    if (backend_->Follow(scene) && window_ != nullptr && window_->on_resize) window_->on_resize();
    if (backend_->ConnectionLost()) LostTheDisplay();
    const Nanoseconds tick_time = kSteadyClock.Now();
    while (timers_.FireOneDue(tick_time)) {
    }
    if (window_ != nullptr) backend_->Present(window_->GetScene(), /*now=*/false);
  }
}

}  // namespace platform
