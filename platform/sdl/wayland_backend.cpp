#include <SDL.h>
#include <SDL_syswm.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/buffer_damage.h"
#include "platform/scene.h"
#include "platform/sdl/window_backend.h"
#include "xdg-foreign-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace platform {

namespace {

constexpr int kBuffers = 2;  // one the compositor shows, one to draw in
constexpr const char* kAppId = "io.github.glomper.Glomper";  // the desktop entry's name

// The game window on a Wayland compositor. SDL keeps the surface and its input; the game gives
// the surface its toplevel role itself, so that full screen is asked for before the first
// frame and the compositor's answer (the configure) is known. Frames are drawn into
// shared-memory buffers, damaging only the rectangles that changed, at most one per compositor
// frame. SDL 2.30 and later, and SDL 3 under sdl2-compat, have given the surface a viewport
// and an opaque region sized from SDL's idea of the window (checked with SDL 2.26, 2.32 and
// 3.4): SDL is told each size the compositor configures before a buffer of that size is
// committed, and the window is made at the screen's size, so that the two always agree.
class WaylandBackend : public WindowBackend {
 public:
  struct Buffer {
    wl_buffer* buffer = nullptr;
    std::uint32_t* pixels = nullptr;
    bool released = true;
  };

  ~WaylandBackend() override;
  bool Open(int width, int height);

  void Create(const WindowSpec& spec, std::uint32_t user_time) override;
  bool Covered() const override { return configured_ && full_screen_ && sdl_size_ == Size(); }
  std::pair<int, int> Size() const override { return {width_, height_}; }
  void Present(Scene& scene, bool now) override;
  void OnSdlEvent(const SDL_Event&) override {}
  bool Follow(Scene*) override {
    TellSdlTheSize();
    return std::exchange(resized_, false);
  }
  std::vector<int> WatchFds() const override { return {wl_display_get_fd(display_)}; }
  bool ConnectionLost() const override { return wl_display_get_error(display_) != 0; }
  bool Reaches() override { return wl_display_roundtrip(display_) >= 0; }
  void Describe(BoxRequest& request) override {
    request.window_system = WindowSystem::kWayland;
    request.wayland_parent = ExportHandle();
  }

  // ---- listeners ----
  static void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version);
  static void GlobalRemove(void*, wl_registry*, std::uint32_t) {}
  static void Ping(void*, xdg_wm_base* base, std::uint32_t serial) {
    xdg_wm_base_pong(base, serial);
  }
  static void ToplevelConfigure(void* data, xdg_toplevel*, std::int32_t w, std::int32_t h,
                                wl_array* states);
  static void ToplevelClose(void*, xdg_toplevel*);
  static void SurfaceConfigure(void* data, xdg_surface* role, std::uint32_t serial);
  static void Exported(void* data, zxdg_exported_v1*, const char* handle) {
    static_cast<WaylandBackend*>(data)->handle_ = handle;
  }
  static void Released(void* data, wl_buffer*) { static_cast<Buffer*>(data)->released = true; }
  static void FrameDone(void* data, wl_callback* callback, std::uint32_t) {
    wl_callback_destroy(callback);
    static_cast<WaylandBackend*>(data)->frame_ = nullptr;
  }

 private:
  void TellSdlTheSize();
  void DropBuffers();
  bool MakeBuffers(int w, int h);
  void Draw(Scene& scene);
  std::string ExportHandle();

  wl_display* display_ = nullptr;
  wl_surface* surface_ = nullptr;
  SDL_Window* sdl_ = nullptr;
  std::pair<int, int> sdl_size_;  // what SDL was last told
  wl_shm* shm_ = nullptr;
  xdg_wm_base* wm_base_ = nullptr;
  xdg_surface* role_ = nullptr;
  xdg_toplevel* toplevel_ = nullptr;
  wl_callback* frame_ = nullptr;
  // The window named to other processes (the message boxes), once asked for.
  zxdg_exporter_v1* exporter_ = nullptr;
  zxdg_exported_v1* exported_ = nullptr;
  std::string handle_;

  // What the compositor proposes, applied when it ends the configure sequence.
  bool proposed_full_screen_ = false;
  int proposed_width_ = 0, proposed_height_ = 0;
  bool configured_ = false;
  bool full_screen_ = false;
  bool resized_ = false;
  int width_ = 0, height_ = 0;

  // Buffers of the current size, in one shared-memory pool.
  int buffer_width_ = 0, buffer_height_ = 0;
  void* pool_memory_ = MAP_FAILED;
  std::size_t pool_size_ = 0;
  std::array<Buffer, kBuffers> buffers_;
  BufferDamage damage_{kBuffers};
};

const wl_registry_listener kRegistryListener{WaylandBackend::Global, WaylandBackend::GlobalRemove};
const xdg_wm_base_listener kWmBaseListener{WaylandBackend::Ping};
// Bound at version 2, the toplevel gets neither bounds nor capabilities.
const xdg_toplevel_listener kToplevelListener{WaylandBackend::ToplevelConfigure,
                                              WaylandBackend::ToplevelClose, nullptr, nullptr};
const xdg_surface_listener kSurfaceListener{WaylandBackend::SurfaceConfigure};
const wl_buffer_listener kBufferListener{WaylandBackend::Released};
const wl_callback_listener kFrameListener{WaylandBackend::FrameDone};
const zxdg_exported_v1_listener kExportedListener{WaylandBackend::Exported};

void WaylandBackend::Global(void* data, wl_registry* registry, std::uint32_t name,
                            const char* interface, std::uint32_t version) {
  auto* self = static_cast<WaylandBackend*>(data);
  const std::string_view which(interface);
  if (which == wl_shm_interface.name && self->shm_ == nullptr) {
    self->shm_ = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (which == xdg_wm_base_interface.name && self->wm_base_ == nullptr) {
    // Version 2 has every event this file listens to and none it does not.
    self->wm_base_ = static_cast<xdg_wm_base*>(
        wl_registry_bind(registry, name, &xdg_wm_base_interface, std::min(version, 2u)));
  } else if (which == zxdg_exporter_v1_interface.name && self->exporter_ == nullptr) {
    self->exporter_ = static_cast<zxdg_exporter_v1*>(
        wl_registry_bind(registry, name, &zxdg_exporter_v1_interface, 1));
  }
}

void WaylandBackend::ToplevelConfigure(void* data, xdg_toplevel*, std::int32_t w, std::int32_t h,
                                       wl_array* states) {
  auto* self = static_cast<WaylandBackend*>(data);
  self->proposed_full_screen_ = false;
  const auto* state = static_cast<const std::uint32_t*>(states->data);
  for (std::size_t i = 0; i < states->size / sizeof *state; ++i) {
    if (state[i] == XDG_TOPLEVEL_STATE_FULLSCREEN) self->proposed_full_screen_ = true;
  }
  self->proposed_width_ = w;
  self->proposed_height_ = h;
}

// The compositor's close request ends the game as the window manager's does on X11.
void WaylandBackend::ToplevelClose(void*, xdg_toplevel*) {
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
}

// Runs inside SDL's event pump: it only takes note (telling SDL the size there would make
// SDL 3 read the compositor again from within its own read).
void WaylandBackend::SurfaceConfigure(void* data, xdg_surface* role, std::uint32_t serial) {
  auto* self = static_cast<WaylandBackend*>(data);
  // A size left to the client: the screen's, which the window was made at, since it asked for
  // full screen. Sway answers that request only once the window is mapped, so its first frame
  // covers the screen already.
  const int w = self->proposed_width_ > 0 ? self->proposed_width_ : self->width_;
  const int h = self->proposed_height_ > 0 ? self->proposed_height_ : self->height_;
  xdg_surface_ack_configure(role, serial);
  self->full_screen_ = self->proposed_full_screen_;
  self->configured_ = true;
  if (w != self->width_ || h != self->height_) {
    self->width_ = w;
    self->height_ = h;
    self->resized_ = true;
  }
}

// SDL drops pointer motion outside the size it knows, and sizes the surface's viewport from it.
void WaylandBackend::TellSdlTheSize() {
  // SDL 3 reads the compositor while it resizes: a configure may come in meanwhile.
  while (sdl_size_ != Size()) {
    sdl_size_ = Size();
    SDL_SetWindowSize(sdl_, width_, height_);
  }
}

WaylandBackend::~WaylandBackend() {
  DropBuffers();
  if (frame_ != nullptr) wl_callback_destroy(frame_);
  if (exported_ != nullptr) zxdg_exported_v1_destroy(exported_);
  if (exporter_ != nullptr) zxdg_exporter_v1_destroy(exporter_);
  // The role goes before SDL destroys the surface.
  if (toplevel_ != nullptr) xdg_toplevel_destroy(toplevel_);
  if (role_ != nullptr) xdg_surface_destroy(role_);
  if (wm_base_ != nullptr) xdg_wm_base_destroy(wm_base_);
  if (shm_ != nullptr) wl_shm_destroy(shm_);
  if (sdl_ != nullptr) SDL_DestroyWindow(sdl_);
}

void WaylandBackend::DropBuffers() {
  for (Buffer& b : buffers_) {
    if (b.buffer != nullptr) wl_buffer_destroy(b.buffer);
    b = Buffer{};
  }
  if (pool_memory_ != MAP_FAILED) munmap(pool_memory_, pool_size_);
  pool_memory_ = MAP_FAILED;
  buffer_width_ = buffer_height_ = 0;
}

bool WaylandBackend::MakeBuffers(int w, int h) {
  DropBuffers();
  const std::size_t stride = static_cast<std::size_t>(w) * 4;
  const std::size_t one = stride * static_cast<std::size_t>(h);
  const int fd = memfd_create("glomper-frames", MFD_CLOEXEC);
  if (fd < 0) return false;
  pool_size_ = one * kBuffers;
  if (ftruncate(fd, static_cast<off_t>(pool_size_)) != 0) {
    close(fd);
    return false;
  }
  pool_memory_ = mmap(nullptr, pool_size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (pool_memory_ == MAP_FAILED) {
    close(fd);
    return false;
  }
  wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, static_cast<std::int32_t>(pool_size_));
  close(fd);
  for (int i = 0; i < kBuffers; ++i) {
    Buffer& b = buffers_[static_cast<std::size_t>(i)];
    b.buffer = wl_shm_pool_create_buffer(pool, static_cast<std::int32_t>(one * i), w, h,
                                         static_cast<std::int32_t>(stride), WL_SHM_FORMAT_XRGB8888);
    b.pixels = reinterpret_cast<std::uint32_t*>(static_cast<char*>(pool_memory_) + one * i);
    b.released = true;
    wl_buffer_add_listener(b.buffer, &kBufferListener, &b);
  }
  wl_shm_pool_destroy(pool);
  buffer_width_ = w;
  buffer_height_ = h;
  damage_.Reset();
  return true;
}

void WaylandBackend::Draw(Scene& scene) {
  if (!configured_ || frame_ != nullptr) return;
  TellSdlTheSize();
  if (width_ != buffer_width_ || height_ != buffer_height_) {
    if (!MakeBuffers(width_, height_)) return;
    scene.InvalidateAll();
  }
  if (!scene.NeedsCompose()) return;
  std::array<bool, kBuffers> released;
  for (int i = 0; i < kBuffers; ++i) released[i] = buffers_[i].released;
  const int index = damage_.Pick(released);
  if (index < 0) return;  // both held: the next tick tries again
  Buffer& target = buffers_[static_cast<std::size_t>(index)];
  const PixelRect bounds{0, 0, width_, height_};
  if (const int newest = damage_.Newest(); newest >= 0 && newest != index) {
    const std::uint32_t* from = buffers_[static_cast<std::size_t>(newest)].pixels;
    for (const PixelRect& r : damage_.Missed(index, bounds)) {
      for (int y = r.y0; y < r.y1; ++y) {
        const long row = static_cast<long>(y) * width_;
        std::memcpy(target.pixels + row + r.x0, from + row + r.x0,
                    static_cast<std::size_t>(r.Width()) * 4);
      }
    }
  }
  const std::vector<PixelRect>& rects =
      scene.Compose(Canvas{target.pixels, width_, height_, width_});
  damage_.Drawn(index, rects);
  if (rects.empty()) return;
  wl_surface_attach(surface_, target.buffer, 0, 0);
  for (const PixelRect& r : rects) {
    wl_surface_damage_buffer(surface_, r.x0, r.y0, r.Width(), r.Height());
  }
  frame_ = wl_surface_frame(surface_);
  wl_callback_add_listener(frame_, &kFrameListener, this);
  target.released = false;
  wl_surface_commit(surface_);
  wl_display_flush(display_);
}

void WaylandBackend::Present(Scene& scene, bool now) {
  if (!now) return Draw(scene);
  // The last picture before a box, after which nothing is drawn: not left for the
  // compositor's next frame.
  for (int attempt = 0; attempt < 2 && scene.NeedsCompose(); ++attempt) {
    if (frame_ != nullptr) {
      wl_callback_destroy(frame_);
      frame_ = nullptr;
    }
    Draw(scene);
    // Both buffers were held: one round trip lets the compositor release the older one.
    if (scene.NeedsCompose()) wl_display_roundtrip(display_);
  }
}

bool WaylandBackend::Open(int width, int height) {
  width_ = width;
  height_ = height;
  // Hidden, SDL never gives the surface a role of its own. (SDL before 2.30 still makes it an
  // OpenGL window, whose unused EGL surface loads the GL driver: most of the memory the game
  // takes on Wayland there.)
  sdl_ = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height,
                          SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS);
  if (sdl_ == nullptr) return false;
  sdl_size_ = {width, height};
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(sdl_, &info) || info.subsystem != SDL_SYSWM_WAYLAND) return false;
  display_ = info.info.wl.display;
  surface_ = info.info.wl.surface;

  // The globals are bound on a queue of our own so that SDL's events wait meanwhile.
  wl_event_queue* queue = wl_display_create_queue(display_);
  auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(display_));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), queue);
  wl_registry* registry = wl_display_get_registry(wrapped);
  wl_proxy_wrapper_destroy(wrapped);
  wl_registry_add_listener(registry, &kRegistryListener, this);
  wl_display_roundtrip_queue(display_, queue);
  wl_registry_destroy(registry);
  for (wl_proxy* bound : {reinterpret_cast<wl_proxy*>(shm_), reinterpret_cast<wl_proxy*>(wm_base_),
                          reinterpret_cast<wl_proxy*>(exporter_)}) {
    if (bound != nullptr) wl_proxy_set_queue(bound, nullptr);  // SDL's loop dispatches them
  }
  wl_event_queue_destroy(queue);
  if (shm_ == nullptr || wm_base_ == nullptr) return false;
  xdg_wm_base_add_listener(wm_base_, &kWmBaseListener, nullptr);
  return true;
}

void WaylandBackend::Create(const WindowSpec&, std::uint32_t) {
  role_ = xdg_wm_base_get_xdg_surface(wm_base_, surface_);
  xdg_surface_add_listener(role_, &kSurfaceListener, this);
  toplevel_ = xdg_surface_get_toplevel(role_);
  xdg_toplevel_add_listener(toplevel_, &kToplevelListener, this);
  xdg_toplevel_set_title(toplevel_, "");
  xdg_toplevel_set_app_id(toplevel_, kAppId);
  // Asked before the first commit, so the first configure already answers it.
  xdg_toplevel_set_fullscreen(toplevel_, nullptr);
  wl_surface_commit(surface_);
  wl_display_flush(display_);
}

std::string WaylandBackend::ExportHandle() {
  if (exporter_ == nullptr || toplevel_ == nullptr) return {};
  if (exported_ == nullptr) {
    exported_ = zxdg_exporter_v1_export(exporter_, surface_);
    zxdg_exported_v1_add_listener(exported_, &kExportedListener, this);
  }
  // The compositor names it in answer to the request: one round trip. (SDL's own events that
  // arrive meanwhile go to SDL's queue as usual.)
  if (handle_.empty()) wl_display_roundtrip(display_);
  return handle_;
}

}  // namespace

std::unique_ptr<WindowBackend> MakeWaylandBackend(int width, int height) {
  auto backend = std::make_unique<WaylandBackend>();
  if (width <= 0 || height <= 0 || !backend->Open(width, height)) return nullptr;
  return backend;
}

}  // namespace platform
