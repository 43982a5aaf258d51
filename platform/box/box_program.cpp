#include "platform/box/box_program.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/box/box_protocol.h"
#include "platform/box/gtk_box.h"
#include "platform/box/xlib_box.h"

namespace platform {

namespace {

constexpr int kNotShown = 3;
constexpr std::size_t kLongestRequest = 1 << 20;

// Dying silently is all a box can do without its display: the game says what happened.
int LeaveQuietly(Display*) { _exit(kNotShown); }

std::optional<std::string> ReadAll(int fd) {
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(got));
    if (bytes.size() > kLongestRequest) return std::nullopt;
  }
}

void SetOrUnset(const char* name, const std::string& value) {
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
}

// The toolkits read their surroundings from the environment: the player's bus (the game
// talks to none), the window system the game is on, and the launcher's notification, which
// GTK completes itself.
void TakeSurroundings(const BoxRequest& request) {
  if (request.session_bus) {
    setenv("DBUS_SESSION_BUS_ADDRESS", request.session_bus->c_str(), 1);
  } else {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus to start where there is no session
  }
  switch (request.window_system) {
    case WindowSystem::kX11:
      setenv("GDK_BACKEND", "x11", 1);
      break;
    case WindowSystem::kWayland:
      setenv("GDK_BACKEND", "wayland", 1);
      break;
    case WindowSystem::kOther:
      break;
  }
  SetOrUnset("DESKTOP_STARTUP_ID",
             request.startup_id.empty() ? request.activation_token : request.startup_id);
  SetOrUnset("XDG_ACTIVATION_TOKEN", request.activation_token);
}

}  // namespace

int RunBox(const DialogArt& art) {
  const std::optional<std::string> bytes = ReadAll(STDIN_FILENO);
  const std::optional<BoxRequest> request = bytes ? DecodeRequest(*bytes) : std::nullopt;
  if (!request) return kNotShown;
  TakeSurroundings(*request);
  XSetIOErrorHandler(LeaveQuietly);
  const std::optional<std::uint32_t> time =
      request->toolkit == Toolkit::kGtk ? ShowGtkBox(*request, art) : ShowXlibBox(*request, art);
  if (!time) return kNotShown;
  const std::string answer = Encode(BoxAnswer{*time});
  return write(STDOUT_FILENO, answer.data(), answer.size()) == static_cast<ssize_t>(answer.size())
             ? 0
             : kNotShown;
}

}  // namespace platform
