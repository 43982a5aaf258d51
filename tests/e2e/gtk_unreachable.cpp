// Preloaded into the game on Wayland: its box's GTK loads but cannot reach the compositor, as
// when GTK cannot start (short of memory, of file descriptors). The game itself connects as
// ever: only the process in the box's role is cut off.
#include <dlfcn.h>
#include <errno.h>

#include <cstring>

struct wl_display;

extern "C" wl_display* wl_display_connect(const char* name) {
  using Real = wl_display* (*)(const char*);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "wl_display_connect"));
  if (std::strcmp(program_invocation_short_name, "glomper-box") == 0) {
    errno = ECONNREFUSED;
    return nullptr;
  }
  return real(name);
}
