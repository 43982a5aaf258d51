#pragma once

#include <X11/Xlib.h>

#include <array>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What every X client of ours does alike: the game window on X11, the game's own message box
// and the tests that look at both. Properties are read whole and typed; a property that is
// missing, or not of the type asked for, reads as nothing.
namespace x11 {

Atom Intern(Display* display, const char* name);

// 32-bit items of a property of `type`.
std::vector<long> Longs(Display* display, ::Window window, const char* property, Atom type);
std::optional<long> Cardinal(Display* display, ::Window window, const char* property);
std::optional<::Window> WindowIn(Display* display, ::Window window, const char* property);
std::vector<Atom> Atoms(Display* display, ::Window window, const char* property);
// 8-bit text of `type` (UTF8_STRING, or STRING for the old WM_NAME).
std::string Text(Display* display, ::Window window, const char* property,
                 const char* type = "UTF8_STRING");
bool Has(Display* display, ::Window window, const char* property);

void SetCardinal(Display* display, ::Window window, const char* property, long value);
void SetAtoms(Display* display, ::Window window, const char* property,
              std::initializer_list<const char*> atoms);
void SetText(Display* display, ::Window window, const char* property, std::string_view utf8);

// A request about `about` to the window manager, sent to the root window as the window-manager
// conventions ask of applications, pagers and task bars.
void SendToRoot(Display* display, ::Window about, const char* message,
                const std::array<long, 5>& data);

// The one rule for "is there a window manager": someone holds the screen's WM_Sn selection,
// or names a check window on the root that still exists (some name themselves only there).
// Without one, nobody places a new window or gives it the keyboard: its owner does.
bool WindowManagerRunning(Display* display);

// While it lives, X errors on `display` are caught rather than fatal: for requests that may
// name a window someone else has just destroyed. Errors of other connections go on to the
// handler that was there before.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display);
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Whether a request since the trap was set failed (waits for the server's answers).
  bool Caught();

 private:
  static int OnError(Display* display, XErrorEvent* error);
  Display* display_;
  XErrorHandler previous_;
  ErrorTrap* outer_;
  bool caught_ = false;
};

}  // namespace x11
