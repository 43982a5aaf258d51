#pragma once

#include <memory>
#include <string>
#include <utility>

struct SDL_Window;

namespace platform {

class Scene;

// The game window on a Wayland compositor. SDL keeps the surface and its input; the game
// gives the surface its toplevel role itself, so that full screen is asked for before the
// first frame and the compositor's answer (the configure) is known. Frames are drawn into
// shared-memory buffers, damaging only the rectangles that changed, at most one per
// compositor frame.
class WaylandWindow {
 public:
  // A hidden SDL window with the role; null when SDL does not run on Wayland or the
  // compositor lacks what is needed. `width` × `height` is the size until configured.
  static std::unique_ptr<WaylandWindow> Create(int width, int height);
  ~WaylandWindow();
  WaylandWindow(const WaylandWindow&) = delete;
  WaylandWindow& operator=(const WaylandWindow&) = delete;

  SDL_Window* Sdl() const { return sdl_; }
  // The compositor's last configure, once acknowledged, made the window full screen.
  bool FullScreen() const;
  std::pair<int, int> Size() const;
  // Draws what changed into a free buffer and commits it, unless the compositor has not yet
  // shown the previous frame (the changes then wait in the scene).
  void Present(Scene& scene);
  // Draws what changed at once, not waiting for the compositor's next frame: the last
  // picture before a modal box, after which nothing is drawn.
  void PresentNow(Scene& scene);
  // The window's name for another process (xdg-foreign), by which a message box says it
  // belongs to the window; empty where the compositor offers none. It stays valid as long as
  // the window.
  std::string ExportHandle();

  struct Impl;

 private:
  explicit WaylandWindow(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
  SDL_Window* sdl_ = nullptr;
};

// The video driver SDL runs on is Wayland.
bool OnWayland();

}  // namespace platform
