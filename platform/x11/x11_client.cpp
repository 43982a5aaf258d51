#include "platform/x11/x11_client.h"

#include <X11/Xatom.h>

#include <string>

namespace x11 {

namespace {

// The innermost trap: Xlib's error handler is one for the whole process.
ErrorTrap* g_trap = nullptr;

struct Property {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned char* data = nullptr;

  Property(Display* display, ::Window window, const char* name, Atom wanted, long longest) {
    unsigned long after = 0;
    if (XGetWindowProperty(display, window, Intern(display, name), 0, longest, False, wanted, &type,
                           &format, &count, &after, &data) != Success) {
      data = nullptr;
      count = 0;
    }
    if (data != nullptr && wanted != AnyPropertyType && type != wanted) count = 0;
  }
  ~Property() {
    if (data != nullptr) XFree(data);
  }
  Property(const Property&) = delete;
  Property& operator=(const Property&) = delete;
};

constexpr long kLongest = 1 << 16;  // in 32-bit units: more than any property we read

}  // namespace

Atom Intern(Display* display, const char* name) { return XInternAtom(display, name, False); }

std::vector<long> Longs(Display* display, ::Window window, const char* property, Atom type) {
  const Property p(display, window, property, type, kLongest);
  if (p.format != 32 || p.data == nullptr) return {};
  // Xlib hands 32-bit items over as longs.
  const auto* items = reinterpret_cast<const long*>(p.data);
  return std::vector<long>(items, items + p.count);
}

std::optional<long> Cardinal(Display* display, ::Window window, const char* property) {
  const std::vector<long> items = Longs(display, window, property, XA_CARDINAL);
  if (items.empty()) return std::nullopt;
  return items.front();
}

std::optional<::Window> WindowIn(Display* display, ::Window window, const char* property) {
  const std::vector<long> items = Longs(display, window, property, XA_WINDOW);
  if (items.empty() || items.front() == 0) return std::nullopt;
  return static_cast<::Window>(items.front());
}

std::vector<Atom> Atoms(Display* display, ::Window window, const char* property) {
  std::vector<Atom> atoms;
  for (long item : Longs(display, window, property, XA_ATOM)) {
    atoms.push_back(static_cast<Atom>(item));
  }
  return atoms;
}

std::string Text(Display* display, ::Window window, const char* property, const char* type) {
  const Property p(display, window, property, Intern(display, type), kLongest);
  if (p.format != 8 || p.data == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(p.data), p.count);
}

bool Has(Display* display, ::Window window, const char* property) {
  const Property p(display, window, property, AnyPropertyType, 0);
  return p.type != None;
}

void SetCardinal(Display* display, ::Window window, const char* property, long value) {
  XChangeProperty(display, window, Intern(display, property), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&value), 1);
}

void SetAtoms(Display* display, ::Window window, const char* property,
              std::initializer_list<const char*> atoms) {
  std::vector<Atom> values;
  for (const char* name : atoms) values.push_back(Intern(display, name));
  XChangeProperty(display, window, Intern(display, property), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(values.data()),
                  static_cast<int>(values.size()));
}

void SetText(Display* display, ::Window window, const char* property, std::string_view utf8) {
  XChangeProperty(display, window, Intern(display, property), Intern(display, "UTF8_STRING"), 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(utf8.data()),
                  static_cast<int>(utf8.size()));
}

void SendToRoot(Display* display, ::Window about, const char* message,
                const std::array<long, 5>& data) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = about;
  event.xclient.message_type = Intern(display, message);
  event.xclient.format = 32;
  for (std::size_t i = 0; i < data.size(); ++i) event.xclient.data.l[i] = data[i];
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

bool WindowManagerRunning(Display* display) {
  const std::string selection = "WM_S" + std::to_string(DefaultScreen(display));
  if (XGetSelectionOwner(display, Intern(display, selection.c_str())) != None) return true;
  const std::optional<::Window> check =
      WindowIn(display, DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK");
  if (!check) return false;
  ErrorTrap trap(display);
  XWindowAttributes attributes;
  return XGetWindowAttributes(display, *check, &attributes) != 0 && !trap.Caught();
}

ErrorTrap::ErrorTrap(Display* display) : display_(display), outer_(g_trap) {
  XSync(display_, False);  // earlier requests' errors are not ours to catch
  previous_ = XSetErrorHandler(OnError);
  g_trap = this;
}

ErrorTrap::~ErrorTrap() {
  XSync(display_, False);
  g_trap = outer_;
  XSetErrorHandler(previous_);
}

bool ErrorTrap::Caught() {
  XSync(display_, False);
  return caught_;
}

int ErrorTrap::OnError(Display* display, XErrorEvent* error) {
  for (ErrorTrap* trap = g_trap; trap != nullptr; trap = trap->outer_) {
    if (trap->display_ == display) {
      trap->caught_ = true;
      return 0;
    }
  }
  // Every trap installed the same handler; the outermost one knows who was there first.
  ErrorTrap* outermost = g_trap;
  while (outermost->outer_ != nullptr) outermost = outermost->outer_;
  return outermost->previous_ != nullptr ? outermost->previous_(display, error) : 0;
}

}  // namespace x11
