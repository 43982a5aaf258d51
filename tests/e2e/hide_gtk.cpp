// Preloaded into the game: loading GTK fails, as on a machine where it is not installed.
#include <dlfcn.h>

#include <cstring>

extern "C" void* dlopen(const char* file, int mode) {
  using Real = void* (*)(const char*, int);
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "dlopen"));
  if (file != nullptr && std::strstr(file, "libgtk-3") != nullptr) return nullptr;
  return real(file, mode);
}
