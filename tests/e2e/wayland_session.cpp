// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>
// clang-format off
#include "tests/e2e/wayland_session.h"
// clang-format on

#include <gio/gio.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

namespace e2e {

WaylandSession::WaylandSession(int width, int height) {
  char dir[] = "/tmp/glomper-wayland.XXXXXX";
  if (mkdtemp(dir) == nullptr) return;
  dir_ = dir;
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  // The command mutter runs once it is ready tells where it listens and its session's bus.
  compositor_ = Process(
      {"dbus-run-session", "--", "mutter", "--headless", "--wayland", "--no-x11",
       "--virtual-monitor", size, "--", "sh", "-c",
       "cd \"$XDG_RUNTIME_DIR\" && echo \"$DBUS_SESSION_BUS_ADDRESS\" > bus && "
       "echo \"$WAYLAND_DISPLAY\" > display.new && mv display.new display && exec sleep 100000"},
      {"XDG_RUNTIME_DIR=" + dir_, "NO_AT_BRIDGE=1"}, {"DISPLAY", "WAYLAND_DISPLAY"},
      dir_ + "/compositor.log");
  WaitFor([&] { return !(display_ = ReadTextFile(dir_ + "/display")).empty(); }, Ms(20000));
  std::string bus = ReadTextFile(dir_ + "/bus");
  if (display_.empty() || bus.empty()) return;
  display_.erase(display_.find_last_not_of('\n') + 1);
  bus.erase(bus.find_last_not_of('\n') + 1);
  bus_ = g_dbus_connection_new_for_address_sync(
      bus.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  if (bus_ == nullptr) return;
  // A remote-desktop session lives as long as this connection; mutter offers it a moment
  // after it starts.
  const bool started = WaitFor(
      [&] {
        return Call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
                    "CreateSession", nullptr, &remote_session_);
      },
      Ms(20000), Ms(50));
  if (!started ||
      !Call(remote_session_, "org.gnome.Mutter.RemoteDesktop.Session", "Start", nullptr)) {
    g_object_unref(bus_);
    bus_ = nullptr;
    return;
  }
  // The virtual keyboard appears with its first key: a client started later has it from the
  // start, and the first key the test means is not lost.
  PressKey(0xFFE1);  // Shift_L
}

WaylandSession::~WaylandSession() {
  if (bus_ != nullptr) g_object_unref(bus_);
  // The session is a family: the bus, mutter and the command it runs.
  const int group = compositor_.Pid();
  if (group > 0) kill(-group, SIGTERM);
  compositor_.Stop();
  if (group > 0) kill(-group, SIGKILL);
  if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

bool WaylandSession::Call(const std::string& path, const char* interface, const char* method,
                          GVariant* arguments, std::string* object_path) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus_, "org.gnome.Mutter.RemoteDesktop",
                                                path.c_str(), interface, method, arguments, nullptr,
                                                G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
  if (reply == nullptr) {
    g_error_free(error);
    return false;
  }
  if (object_path != nullptr) {
    const gchar* text = nullptr;
    g_variant_get(reply, "(&o)", &text);
    *object_path = text;
  }
  g_variant_unref(reply);
  return true;
}

bool WaylandSession::PressKey(unsigned keysym) {
  bool sent = true;
  for (const gboolean down : {gboolean{TRUE}, gboolean{FALSE}}) {
    sent = Call(remote_session_, "org.gnome.Mutter.RemoteDesktop.Session", "NotifyKeyboardKeysym",
                g_variant_new("(ub)", keysym, down)) &&
           sent;
  }
  return sent;
}

Process WaylandSession::StartGame(Box box, const std::string& stderr_path) {
  std::vector<std::string> argv = {GameBinary()};
  std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + dir_, "WAYLAND_DISPLAY=" + display_,
                                  "WAYLAND_DEBUG=client", "NO_AT_BRIDGE=1"};
  switch (box) {
    case Box::kGtk:
      break;
    case Box::kNoGtk:
      env.emplace_back("LD_PRELOAD=" GLOMPER_HIDE_GTK);
      break;
    case Box::kGtkStarved:
      // Starving GTK of memory would starve the game too where SDL loads a GL driver for its
      // Wayland window (2.26): GTK is kept from its compositor instead.
      env.emplace_back("LD_PRELOAD=" GLOMPER_GTK_UNREACHABLE);
      break;
  }
  return Process(argv, env, {"DISPLAY"}, stderr_path);
}

void WaylandSession::KillCompositor() {
  if (bus_ != nullptr) g_object_unref(bus_);
  bus_ = nullptr;
  const int group = compositor_.Pid();
  if (group > 0) kill(-group, SIGKILL);
  compositor_.WaitExit(Ms(5000));
}

namespace {

// One message of a WAYLAND_DEBUG trace: "[time] {queue}  -> interface@id.message(args)";
// libwayland 1.22 and later write '#' for '@'.
struct Message {
  bool request = false;
  std::string interface, name;
  long id = 0;
  std::vector<long> numbers;  // every number and object id among the arguments, in order
};

std::optional<Message> Parse(const std::string& line) {
  static const std::regex kMessage(
      R"(^\[[^\]]*\]\s*(\{[^}]*\})?\s*(-> )?([A-Za-z_0-9]+)[@#](\d+)\.([A-Za-z_0-9]+)\((.*)\)\s*$)");
  std::smatch m;
  if (!std::regex_match(line, m, kMessage)) return std::nullopt;
  Message message;
  message.request = m[2].matched;
  message.interface = m[3];
  message.id = std::stol(m[4]);
  message.name = m[5];
  static const std::regex kNumber(R"((-?\d+))");
  const std::string args = m[6];
  for (auto it = std::sregex_iterator(args.begin(), args.end(), kNumber);
       it != std::sregex_iterator(); ++it) {
    message.numbers.push_back(std::stol((*it)[1]));
  }
  return message;
}

}  // namespace

WaylandTrace ReadWaylandTrace(const std::string& path) {
  WaylandTrace trace;
  std::vector<Message> messages;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (auto message = Parse(line)) {
      messages.push_back(std::move(*message));
    } else if (!line.starts_with("[")) {
      trace.said.push_back(line);
    }
  }
  // The window's surface is the one given the toplevel's role.
  long surface = -1, role = -1, toplevel = -1, viewport = -1;
  for (const Message& m : messages) {
    if (m.request && m.name == "get_xdg_surface" && m.numbers.size() >= 2) {
      role = m.numbers[0];
      surface = m.numbers[1];
    }
  }
  if (surface < 0) return trace;
  trace.found = true;
  std::map<long, std::pair<int, int>> buffers;
  long attached = -1;  // a buffer waiting for the next commit
  std::optional<std::pair<int, int>> destination;
  std::pair<int, int> proposed{0, 0}, acknowledged{0, 0};
  std::vector<platform::PixelRect> damage, damaged_before;
  bool committed = false, has_role = false;
  for (const Message& m : messages) {
    const auto& n = m.numbers;
    if (m.request && m.name == "get_toplevel" && m.id == role && !n.empty()) toplevel = n[0];
    if (m.request && m.name == "get_xdg_surface" && n.size() >= 2 && n[1] == surface) {
      has_role = true;
    }
    if (m.request && m.name == "create_buffer" && n.size() >= 4) buffers[n[0]] = {n[2], n[3]};
    if (m.request && m.name == "get_viewport" && n.size() >= 2 && n[1] == surface) {
      viewport = n[0];
      ++trace.viewports;
    }
    if (m.request && m.name == "get_fractional_scale" && n.size() >= 2 && n[1] == surface) {
      ++trace.scales;
    }
    if (m.request && m.name == "set_destination" && m.id == viewport && n.size() >= 2) {
      destination = std::pair{static_cast<int>(n[0]), static_cast<int>(n[1])};
    }
    if (m.request && m.name == "set_fullscreen" && m.id == toplevel && !committed) {
      trace.full_screen_asked_first = true;
    }
    if (!m.request && m.name == "configure" && m.id == toplevel && n.size() >= 2) {
      proposed = std::pair{static_cast<int>(n[0]), static_cast<int>(n[1])};
      trace.configures.push_back(proposed);
    }
    if (m.request && m.name == "ack_configure" && m.id == role) acknowledged = proposed;
    if (m.id != surface || !m.request) continue;
    if (m.name == "frame" && !has_role) ++trace.early_frame_requests;
    // The game attaches its buffer first, then damages what it drew.
    if (m.name == "attach" && !n.empty()) {
      attached = n[0];
      damaged_before = std::move(damage);
      damage.clear();
    }
    if (m.name == "damage_buffer" && n.size() >= 4) {
      damage.push_back({static_cast<int>(n[0]), static_cast<int>(n[1]),
                        static_cast<int>(n[0] + n[2]), static_cast<int>(n[1] + n[3])});
    }
    if (m.name == "commit") {
      committed = true;
      if (attached >= 0) {
        const auto [w, h] = buffers[attached];
        trace.frames.push_back({w, h, destination, damage, damaged_before});
        trace.configured_before_frame.push_back(acknowledged);
      }
      attached = -1;
      damage.clear();
      damaged_before.clear();
    }
  }
  return trace;
}

}  // namespace e2e
