#include "platform/sdl/wayland_window.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/buffer_damage.h"
#include "platform/scene.h"
#include "xdg-foreign-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace platform {

namespace {

constexpr int kBuffers = 2;  // one the compositor shows, one to draw in
constexpr const char* kAppId = "io.github.glomper.Glomper";  // the desktop entry's name

}  // namespace

struct WaylandWindow::Impl {
  struct Buffer {
    wl_buffer* buffer = nullptr;
    std::uint32_t* pixels = nullptr;
    bool released = true;
  };

  wl_display* display = nullptr;
  wl_surface* surface = nullptr;
  SDL_Window* sdl = nullptr;
  wl_shm* shm = nullptr;
  xdg_wm_base* wm_base = nullptr;
  xdg_surface* role = nullptr;
  xdg_toplevel* toplevel = nullptr;
  wl_callback* frame = nullptr;
  // The window named to other processes (the message boxes), once asked for.
  zxdg_exporter_v1* exporter = nullptr;
  zxdg_exported_v1* exported = nullptr;
  std::string handle;

  // What the compositor proposes, applied when it ends the configure sequence.
  bool proposed_full_screen = false;
  int proposed_width = 0, proposed_height = 0;
  bool configured = false;
  bool full_screen = false;
  int width = 0, height = 0;

  // Buffers of the current size, in one shared-memory pool.
  int buffer_width = 0, buffer_height = 0;
  void* pool_memory = MAP_FAILED;
  std::size_t pool_size = 0;
  std::array<Buffer, kBuffers> buffers;
  BufferDamage damage{kBuffers};

  ~Impl() {
    DropBuffers();
    if (frame != nullptr) wl_callback_destroy(frame);
    if (exported != nullptr) zxdg_exported_v1_destroy(exported);
    if (exporter != nullptr) zxdg_exporter_v1_destroy(exporter);
    // The role goes before SDL destroys the surface.
    if (toplevel != nullptr) xdg_toplevel_destroy(toplevel);
    if (role != nullptr) xdg_surface_destroy(role);
    if (wm_base != nullptr) xdg_wm_base_destroy(wm_base);
    if (shm != nullptr) wl_shm_destroy(shm);
    if (sdl != nullptr) SDL_DestroyWindow(sdl);
  }

  void DropBuffers() {
    for (Buffer& b : buffers) {
      if (b.buffer != nullptr) wl_buffer_destroy(b.buffer);
      b = Buffer{};
    }
    if (pool_memory != MAP_FAILED) munmap(pool_memory, pool_size);
    pool_memory = MAP_FAILED;
    buffer_width = buffer_height = 0;
  }

  bool MakeBuffers(int w, int h);
  void Present(Scene& scene);

  // ---- listeners ----
  static void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version) {
    auto* self = static_cast<Impl*>(data);
    const std::string_view which(interface);
    if (which == wl_shm_interface.name && self->shm == nullptr) {
      self->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (which == xdg_wm_base_interface.name && self->wm_base == nullptr) {
      // Version 2 has every event this file listens to and none it does not.
      self->wm_base = static_cast<xdg_wm_base*>(
          wl_registry_bind(registry, name, &xdg_wm_base_interface, std::min(version, 2u)));
    } else if (which == zxdg_exporter_v1_interface.name && self->exporter == nullptr) {
      self->exporter = static_cast<zxdg_exporter_v1*>(
          wl_registry_bind(registry, name, &zxdg_exporter_v1_interface, 1));
    }
  }
  static void GlobalRemove(void*, wl_registry*, std::uint32_t) {}

  static void Ping(void*, xdg_wm_base* base, std::uint32_t serial) {
    xdg_wm_base_pong(base, serial);
  }

  static void ToplevelConfigure(void* data, xdg_toplevel*, std::int32_t w, std::int32_t h,
                                wl_array* states) {
    auto* self = static_cast<Impl*>(data);
    self->proposed_full_screen = false;
    const auto* state = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof *state; ++i) {
      if (state[i] == XDG_TOPLEVEL_STATE_FULLSCREEN) self->proposed_full_screen = true;
    }
    self->proposed_width = w;
    self->proposed_height = h;
  }
  // The compositor's close request ends the game as the window manager's does on X11.
  static void ToplevelClose(void*, xdg_toplevel*) {
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
  }

  static void SurfaceConfigure(void* data, xdg_surface* role, std::uint32_t serial) {
    auto* self = static_cast<Impl*>(data);
    int w = self->proposed_width, h = self->proposed_height;
    if (w <= 0 || h <= 0) {
      // The client may choose: the display's size, as it asked for full screen. Sway answers
      // that request only once the window is mapped, so its first frame covers the screen
      // already.
      SDL_Rect bounds;
      if (SDL_GetDisplayBounds(0, &bounds) == 0) {
        w = bounds.w;
        h = bounds.h;
      } else {
        w = self->width;
        h = self->height;
      }
    }
    xdg_surface_ack_configure(role, serial);
    self->full_screen = self->proposed_full_screen;
    self->configured = true;
    if (w != self->width || h != self->height) {
      self->width = w;
      self->height = h;
      // SDL drops pointer motion outside the size it knows.
      SDL_SetWindowSize(self->sdl, w, h);
    }
  }

  static void Exported(void* data, zxdg_exported_v1*, const char* handle) {
    static_cast<Impl*>(data)->handle = handle;
  }

  static void Released(void* data, wl_buffer*) { static_cast<Buffer*>(data)->released = true; }

  static void FrameDone(void* data, wl_callback* callback, std::uint32_t) {
    auto* self = static_cast<Impl*>(data);
    wl_callback_destroy(callback);
    self->frame = nullptr;
  }
};

namespace {

const wl_registry_listener kRegistryListener{WaylandWindow::Impl::Global,
                                             WaylandWindow::Impl::GlobalRemove};
const xdg_wm_base_listener kWmBaseListener{WaylandWindow::Impl::Ping};
// Bound at version 2, the toplevel gets neither bounds nor capabilities.
const xdg_toplevel_listener kToplevelListener{WaylandWindow::Impl::ToplevelConfigure,
                                              WaylandWindow::Impl::ToplevelClose, nullptr, nullptr};
const xdg_surface_listener kSurfaceListener{WaylandWindow::Impl::SurfaceConfigure};
const wl_buffer_listener kBufferListener{WaylandWindow::Impl::Released};
const wl_callback_listener kFrameListener{WaylandWindow::Impl::FrameDone};
const zxdg_exported_v1_listener kExportedListener{WaylandWindow::Impl::Exported};

}  // namespace

bool WaylandWindow::Impl::MakeBuffers(int w, int h) {
  DropBuffers();
  const std::size_t stride = static_cast<std::size_t>(w) * 4;
  const std::size_t one = stride * static_cast<std::size_t>(h);
  const int fd = memfd_create("glomper-frames", MFD_CLOEXEC);
  if (fd < 0) return false;
  pool_size = one * kBuffers;
  if (ftruncate(fd, static_cast<off_t>(pool_size)) != 0) {
    close(fd);
    return false;
  }
  pool_memory = mmap(nullptr, pool_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (pool_memory == MAP_FAILED) {
    close(fd);
    return false;
  }
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(pool_size));
  close(fd);
  for (int i = 0; i < kBuffers; ++i) {
    Buffer& b = buffers[static_cast<std::size_t>(i)];
    b.buffer = wl_shm_pool_create_buffer(pool, static_cast<std::int32_t>(one * i), w, h,
                                         static_cast<std::int32_t>(stride), WL_SHM_FORMAT_XRGB8888);
    b.pixels = reinterpret_cast<std::uint32_t*>(static_cast<char*>(pool_memory) + one * i);
    b.released = true;
    wl_buffer_add_listener(b.buffer, &kBufferListener, &b);
  }
  wl_shm_pool_destroy(pool);
  buffer_width = w;
  buffer_height = h;
  damage.Reset();
  return true;
}

void WaylandWindow::Impl::Present(Scene& scene) {
  if (!configured || frame != nullptr) return;
  if (width != buffer_width || height != buffer_height) {
    if (!MakeBuffers(width, height)) return;
    scene.InvalidateAll();
  }
  if (!scene.NeedsCompose()) return;
  std::array<bool, kBuffers> released;
  for (int i = 0; i < kBuffers; ++i) released[i] = buffers[i].released;
  const int index = damage.Pick(released);
  if (index < 0) return;  // both held: the next tick tries again
  Buffer& target = buffers[static_cast<std::size_t>(index)];
  const PixelRect bounds{0, 0, width, height};
  if (const int newest = damage.Newest(); newest >= 0 && newest != index) {
    const std::uint32_t* from = buffers[static_cast<std::size_t>(newest)].pixels;
    for (const PixelRect& r : damage.Missed(index, bounds)) {
      for (int y = r.y0; y < r.y1; ++y) {
        const long row = static_cast<long>(y) * width;
        std::memcpy(target.pixels + row + r.x0, from + row + r.x0,
                    static_cast<std::size_t>(r.Width()) * 4);
      }
    }
  }
  const std::vector<PixelRect>& rects = scene.Compose(Canvas{target.pixels, width, height, width});
  damage.Drawn(index, rects);
  if (rects.empty()) return;
  wl_surface_attach(surface, target.buffer, 0, 0);
  for (const PixelRect& r : rects) {
    wl_surface_damage_buffer(surface, r.x0, r.y0, r.Width(), r.Height());
  }
  frame = wl_surface_frame(surface);
  wl_callback_add_listener(frame, &kFrameListener, this);
  target.released = false;
  wl_surface_commit(surface);
  wl_display_flush(display);
}

bool OnWayland() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver != nullptr && std::string_view(driver) == "wayland";
}

WaylandWindow::WaylandWindow(std::unique_ptr<Impl> impl)
    : impl_(std::move(impl)), sdl_(impl_->sdl) {}

WaylandWindow::~WaylandWindow() = default;

std::unique_ptr<WaylandWindow> WaylandWindow::Create(int width, int height) {
  if (!OnWayland()) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->width = width;
  impl->height = height;
  // Hidden, SDL never gives the surface a role of its own. (SDL 2.26 still makes it an
  // OpenGL window, whose unused EGL surface loads the GL driver: most of the memory the
  // game takes on Wayland. Marked for Vulkan instead, the Vulkan loader loads as much.)
  impl->sdl = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height,
                               SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS);
  if (impl->sdl == nullptr) return nullptr;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(impl->sdl, &info) || info.subsystem != SDL_SYSWM_WAYLAND) {
    return nullptr;
  }
  impl->display = info.info.wl.display;
  impl->surface = info.info.wl.surface;

  // The globals are bound on a queue of our own so that SDL's events wait meanwhile.
  wl_event_queue* queue = wl_display_create_queue(impl->display);
  auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(impl->display));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), queue);
  wl_registry* registry = wl_display_get_registry(wrapped);
  wl_proxy_wrapper_destroy(wrapped);
  wl_registry_add_listener(registry, &kRegistryListener, impl.get());
  wl_display_roundtrip_queue(impl->display, queue);
  wl_registry_destroy(registry);
  for (wl_proxy* bound :
       {reinterpret_cast<wl_proxy*>(impl->shm), reinterpret_cast<wl_proxy*>(impl->wm_base),
        reinterpret_cast<wl_proxy*>(impl->exporter)}) {
    if (bound != nullptr) wl_proxy_set_queue(bound, nullptr);  // SDL's loop dispatches them
  }
  wl_event_queue_destroy(queue);
  if (impl->shm == nullptr || impl->wm_base == nullptr) return nullptr;

  xdg_wm_base_add_listener(impl->wm_base, &kWmBaseListener, nullptr);
  impl->role = xdg_wm_base_get_xdg_surface(impl->wm_base, impl->surface);
  xdg_surface_add_listener(impl->role, &kSurfaceListener, impl.get());
  impl->toplevel = xdg_surface_get_toplevel(impl->role);
  xdg_toplevel_add_listener(impl->toplevel, &kToplevelListener, impl.get());
  xdg_toplevel_set_title(impl->toplevel, "");
  xdg_toplevel_set_app_id(impl->toplevel, kAppId);
  // Asked before the first commit, so the first configure already answers it.
  xdg_toplevel_set_fullscreen(impl->toplevel, nullptr);
  wl_surface_commit(impl->surface);
  wl_display_flush(impl->display);
  return std::unique_ptr<WaylandWindow>(new WaylandWindow(std::move(impl)));
}

bool WaylandWindow::FullScreen() const { return impl_->configured && impl_->full_screen; }

std::pair<int, int> WaylandWindow::Size() const { return {impl_->width, impl_->height}; }

std::string WaylandWindow::ExportHandle() {
  Impl& w = *impl_;
  if (w.exporter == nullptr) return {};
  if (w.exported == nullptr) {
    w.exported = zxdg_exporter_v1_export(w.exporter, w.surface);
    zxdg_exported_v1_add_listener(w.exported, &kExportedListener, &w);
  }
  // The compositor names it in answer to the request: one round trip. (SDL's own events that
  // arrive meanwhile go to SDL's queue as usual.)
  if (w.handle.empty()) wl_display_roundtrip(w.display);
  return w.handle;
}

void WaylandWindow::Present(Scene& scene) { impl_->Present(scene); }

void WaylandWindow::PresentNow(Scene& scene) {
  Impl& w = *impl_;
  if (w.frame != nullptr) {
    wl_callback_destroy(w.frame);
    w.frame = nullptr;
  }
  w.Present(scene);
  if (!scene.NeedsCompose()) return;
  // Both buffers were held: one round trip lets the compositor release the older one.
  wl_display_roundtrip(w.display);
  if (w.frame != nullptr) {
    wl_callback_destroy(w.frame);
    w.frame = nullptr;
  }
  w.Present(scene);
}

}  // namespace platform
