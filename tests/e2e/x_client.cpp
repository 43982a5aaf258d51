#include "tests/e2e/x_client.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <deque>

#include "platform/x11/x11_client.h"

namespace e2e {

namespace {

std::vector<Window> ChildrenOf(Display* display, Window window) {
  Window root, parent, *children = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &n)) return {};
  std::vector<Window> found(children, children + n);
  if (children) XFree(children);
  return found;
}

// Breadth first, as Xmu's XmuClientWindow: the nearest marked window below.
std::optional<Window> MarkedIn(Display* display, Window top_level) {
  std::deque<Window> next = {top_level};
  while (!next.empty()) {
    const Window window = next.front();
    next.pop_front();
    if (x11::Has(display, window, "WM_STATE")) return window;
    for (const Window child : ChildrenOf(display, window)) next.push_back(child);
  }
  return std::nullopt;
}

}  // namespace

std::vector<Window> ClientsBottomUp(Display* display) {
  const bool managed = x11::WindowManagerRunning(display);
  // Windows may go while we look: what fails is simply not there.
  x11::ErrorTrap trap(display);
  std::vector<Window> clients;
  for (const Window top_level : ChildrenOf(display, DefaultRootWindow(display))) {
    if (const std::optional<Window> client = MarkedIn(display, top_level)) {
      clients.push_back(*client);
      continue;
    }
    XWindowAttributes attributes;
    if (!managed ||
        (XGetWindowAttributes(display, top_level, &attributes) && attributes.override_redirect)) {
      clients.push_back(top_level);
    }
  }
  return clients;
}

std::vector<WindowInfo> Windows(Display* display) {
  std::vector<WindowInfo> found;
  const std::vector<Window> clients = ClientsBottomUp(display);
  x11::ErrorTrap trap(display);
  for (const Window client : clients) {
    XWindowAttributes attributes;
    Window ignored;
    WindowInfo info;
    info.id = client;
    if (!XGetWindowAttributes(display, client, &attributes) ||
        !XTranslateCoordinates(display, client, DefaultRootWindow(display), 0, 0, &info.x, &info.y,
                               &ignored)) {
      continue;
    }
    info.title = x11::Text(display, client, "_NET_WM_NAME");
    if (info.title.empty()) info.title = x11::Text(display, client, "WM_NAME", "STRING");
    info.width = attributes.width;
    info.height = attributes.height;
    info.viewable = attributes.map_state == IsViewable;
    found.push_back(info);
  }
  return found;
}

std::optional<WindowInfo> FindWindow(Display* display,
                                     const std::function<bool(const WindowInfo&)>& match) {
  for (const WindowInfo& w : Windows(display)) {
    if (w.viewable && match(w)) return w;
  }
  return std::nullopt;
}

std::optional<WindowInfo> FindWindowTitled(Display* display, const std::string& title) {
  return FindWindow(display, [&](const WindowInfo& w) { return w.title == title; });
}

std::optional<WindowInfo> WaitForWindow(Display* display, const std::string& title, Ms timeout) {
  std::optional<WindowInfo> found;
  WaitFor([&] { return (found = FindWindowTitled(display, title)).has_value(); }, timeout, Ms(5));
  return found;
}

std::optional<WindowInfo> FindWindowOfPid(Display* display, int pid) {
  return FindWindow(display, [&](const WindowInfo& w) {
    x11::ErrorTrap trap(display);
    return x11::Cardinal(display, w.id, "_NET_WM_PID") == pid;
  });
}

bool WaitUntilGone(Display* display, const std::string& title, Ms timeout) {
  return WaitFor([&] { return !FindWindowTitled(display, title); }, timeout, Ms(5));
}

bool Dismiss(Display* display, const std::string& title, Ms timeout,
             Clock::time_point* first_press) {
  bool pressed = false;
  return WaitFor(
      [&] {
        if (!pressed && first_press != nullptr) *first_press = Clock::now();
        pressed = true;
        PressKey(display, XK_Return);
        return WaitUntilGone(display, title, Ms(500));
      },
      timeout, Ms(0));
}

void MovePointer(Display* display, int x, int y, bool flush) {
  XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime);
  if (flush) XFlush(display);
}

void PressKey(Display* display, unsigned long keysym) {
  const KeyCode code = XKeysymToKeycode(display, keysym);
  XTestFakeKeyEvent(display, code, True, CurrentTime);
  XTestFakeKeyEvent(display, code, False, CurrentTime);
  XFlush(display);
}

void RequestClose(Display* display, Window window) {
  // Source 2: a pager or panel, as a user's click.
  x11::SendToRoot(display, window, "_NET_CLOSE_WINDOW", {CurrentTime, 2, 0, 0, 0});
  XFlush(display);
}

void Activate(Display* display, Window window) {
  x11::SendToRoot(display, window, "_NET_ACTIVE_WINDOW", {2, CurrentTime, 0, 0, 0});
  XFlush(display);
}

Window ActiveWindow(Display* display) {
  return x11::WindowIn(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW").value_or(0);
}

bool AnswersPing(Display* display, Window window, Ms timeout) {
  const Window root = DefaultRootWindow(display);
  XWindowAttributes attributes;
  XGetWindowAttributes(display, root, &attributes);
  // The answer goes to the root for the window manager's eyes; a client may look on too.
  XSelectInput(display, root, attributes.your_event_mask | SubstructureNotifyMask);
  static long stamp = 0x47100;  // the answer carries it back: ours, not the window manager's
  const long sent = ++stamp;
  const Atom protocols = x11::Intern(display, "WM_PROTOCOLS");
  const Atom ping = x11::Intern(display, "_NET_WM_PING");
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = protocols;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(ping);
  event.xclient.data.l[1] = sent;
  event.xclient.data.l[2] = static_cast<long>(window);
  XSendEvent(display, window, False, NoEventMask, &event);
  XFlush(display);
  const bool answered = WaitFor(
      [&] {
        XEvent e;
        while (XCheckTypedWindowEvent(display, root, ClientMessage, &e)) {
          if (e.xclient.message_type == protocols &&
              e.xclient.data.l[0] == static_cast<long>(ping) && e.xclient.data.l[1] == sent) {
            return true;
          }
        }
        return false;
      },
      timeout);
  XSelectInput(display, root, attributes.your_event_mask);
  return answered;
}

void MoveWindow(Display* display, Window window, int x, int y) {
  XMoveWindow(display, window, x, y);
  XFlush(display);
}

Window OpenOtherWindow(Display* display, int width, int height) {
  const Window window = XCreateSimpleWindow(
      display, DefaultRootWindow(display), 100, 100, static_cast<unsigned>(width),
      static_cast<unsigned>(height), 0, 0, WhitePixel(display, DefaultScreen(display)));
  XStoreName(display, window, "another program");
  XMapRaised(display, window);
  XSync(display, False);
  return window;
}

std::string StartupIdOf(Display* display, Window window) {
  x11::ErrorTrap trap(display);
  if (std::string own = x11::Text(display, window, "_NET_STARTUP_ID"); !own.empty()) return own;
  const std::optional<Window> leader = x11::WindowIn(display, window, "WM_CLIENT_LEADER");
  return leader ? x11::Text(display, *leader, "_NET_STARTUP_ID") : "";
}

void StartupWatch::Watch(Display* display) {
  XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
  XSync(display, False);
}

std::vector<std::string> StartupWatch::Read(Display* display) {
  const Atom begin = x11::Intern(display, "_NET_STARTUP_INFO_BEGIN");
  const Atom more = x11::Intern(display, "_NET_STARTUP_INFO");
  XEvent e;
  while (XCheckTypedEvent(display, ClientMessage, &e)) {
    if (e.xclient.format != 8 ||
        (e.xclient.message_type != begin && e.xclient.message_type != more)) {
      continue;
    }
    std::string& piece = pieces_[e.xclient.window];
    if (e.xclient.message_type == begin) piece.clear();
    const char* bytes = e.xclient.data.b;
    const auto length = static_cast<std::size_t>(std::find(bytes, bytes + 20, '\0') - bytes);
    piece.append(bytes, length);
    if (length < 20) {
      whole_.push_back(piece);
      pieces_.erase(e.xclient.window);
    }
  }
  return whole_;
}

}  // namespace e2e
