#include <SDL.h>

#include <memory>
#include <utility>
#include <vector>

#include "platform/sdl/window_backend.h"

namespace platform {

namespace {

struct SurfaceDeleter {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};

// Where SDL runs on neither X11 nor Wayland (a console's KMS, a driver chosen by hand): SDL's
// own full-screen window, drawn through its window surface, pushing the changed rectangles.
class SurfaceBackend : public WindowBackend {
 public:
  ~SurfaceBackend() override {
    staging_.reset();
    if (window_ != nullptr) SDL_DestroyWindow(window_);
  }

  void Create(const WindowSpec& spec, std::uint32_t) override {
    window_ =
        MakeSdlWindow(spec, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, spec.client_width_px,
                      spec.client_height_px, SDL_WINDOW_BORDERLESS | SDL_WINDOW_FULLSCREEN_DESKTOP);
    SDL_RaiseWindow(window_);
  }

  // Exposed and placed exactly over its display: the size SDL reports in full-screen mode
  // proves nothing by itself (it is the display's from creation on).
  bool Covered() const override {
    SDL_Rect bounds;
    const int display = window_ != nullptr ? SDL_GetWindowDisplayIndex(window_) : -1;
    if (!exposed_ || display < 0 || SDL_GetDisplayBounds(display, &bounds) != 0) return false;
    int x = 0, y = 0;
    SDL_GetWindowPosition(window_, &x, &y);
    const auto [w, h] = Size();
    return x == bounds.x && y == bounds.y && w == bounds.w && h == bounds.h;
  }

  std::pair<int, int> Size() const override {
    int w = 0, h = 0;
    if (window_ != nullptr) SDL_GetWindowSize(window_, &w, &h);
    return {w, h};
  }

  void Present(Scene& scene, bool) override {
    if (window_ == nullptr || !(SDL_GetWindowFlags(window_) & SDL_WINDOW_SHOWN)) return;
    if (surface_ == nullptr && !MakeSurface(scene)) return;
    SDL_Surface* target = staging_ ? staging_.get() : surface_;
    if (scene.NeedsCompose()) {
      const Canvas canvas{static_cast<std::uint32_t*>(target->pixels), target->w, target->h,
                          target->pitch / 4};
      rects_.clear();
      for (const PixelRect& r : scene.Compose(canvas)) {
        rects_.push_back({r.x0, r.y0, r.Width(), r.Height()});
      }
      if (staging_) {
        for (SDL_Rect r : rects_) SDL_BlitSurface(staging_.get(), &r, surface_, &r);
      }
      if (!push_all_ && !rects_.empty()) {
        SDL_UpdateWindowSurfaceRects(window_, rects_.data(), static_cast<int>(rects_.size()));
      }
    }
    if (push_all_) {
      push_all_ = false;
      SDL_UpdateWindowSurface(window_);
    }
  }

  void OnSdlEvent(const SDL_Event& event) override {
    if (event.type != SDL_WINDOWEVENT) return;
    switch (event.window.event) {
      case SDL_WINDOWEVENT_EXPOSED:
        exposed_ = true;
        // Painted again at once, also while a box is open and the game does not tick.
        if (surface_ != nullptr) {
          SDL_UpdateWindowSurface(window_);
        } else {
          push_all_ = true;
        }
        break;
      case SDL_WINDOWEVENT_SIZE_CHANGED:
        surface_ = nullptr;  // SDL makes a new one at the new size
        resized_ = true;
        break;
      case SDL_WINDOWEVENT_HIDDEN:
        exposed_ = false;
        break;
      default:
        break;
    }
  }

  bool Follow(Scene*) override { return std::exchange(resized_, false); }
  std::vector<int> WatchFds() const override { return {}; }
  bool ConnectionLost() const override { return false; }
  bool Reaches() override { return true; }
  void Describe(BoxRequest& request) override { request.window_system = WindowSystem::kOther; }

 private:
  bool MakeSurface(Scene& scene) {
    surface_ = SDL_GetWindowSurface(window_);
    if (surface_ == nullptr) return false;
    scene.InvalidateAll();
    staging_.reset();
    // Compose straight into the window's pixels when they are 32-bit XRGB.
    if (surface_->format->format != SDL_PIXELFORMAT_RGB888 &&
        surface_->format->format != SDL_PIXELFORMAT_ARGB8888) {
      staging_.reset(SDL_CreateRGBSurfaceWithFormat(0, surface_->w, surface_->h, 32,
                                                    SDL_PIXELFORMAT_ARGB8888));
      if (!staging_) return false;
    }
    return true;
  }

  SDL_Window* window_ = nullptr;
  SDL_Surface* surface_ = nullptr;
  std::unique_ptr<SDL_Surface, SurfaceDeleter> staging_;
  std::vector<SDL_Rect> rects_;
  bool exposed_ = false;
  bool push_all_ = false;
  bool resized_ = false;
};

}  // namespace

std::unique_ptr<WindowBackend> MakeSurfaceBackend() { return std::make_unique<SurfaceBackend>(); }

}  // namespace platform
