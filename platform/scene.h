#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/geometry.h"
#include "platform/picture.h"

namespace platform {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
  std::uint32_t Pixel() const { return 0xFF000000u | (r << 16) | (g << 8) | b; }
};

// Pixel memory the scene composes into: 0xAARRGGBB, pitch in pixels.
struct Canvas {
  std::uint32_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int pitch = 0;

  std::uint32_t* Row(int y) const { return pixels + static_cast<long>(y) * pitch; }
  PixelRect Bounds() const { return {0, 0, width, height}; }
};

class Scene;
class Box;

// What every sprite has. Geometry is in twips; the game only sets properties and never draws.
class Sprite {
 public:
  Sprite(const Sprite&) = delete;
  Sprite& operator=(const Sprite&) = delete;

  double Left() const { return left_; }
  double Top() const { return top_; }
  double Width() const { return width_; }
  double Height() const { return height_; }
  bool Visible() const { return visible_; }

  void SetLeft(double twips) { Move(twips, top_); }
  void SetTop(double twips) { Move(left_, twips); }
  void SetWidth(double twips) { Resize(twips, height_); }
  void SetHeight(double twips) { Resize(width_, twips); }
  void Move(double left, double top);
  void Resize(double width, double height);
  void SetVisible(bool visible);

 protected:
  Sprite(Scene& scene, Box* parent, std::uint32_t z, bool is_box)
      : scene_(&scene), parent_(parent), z_(z), is_box_(is_box) {}
  ~Sprite() = default;
  // Queues the sprite for the next compose; `looks_different` when its pixels change even if
  // its place does not.
  void Changed(bool looks_different);

 private:
  friend class Scene;
  friend class Image;
  friend class Box;

  Scene* scene_;
  Box* parent_;
  double left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  std::uint32_t z_;
  bool is_box_;
  PixelRect placed_;  // unclipped, where its pixels go
  PixelRect drawn_;   // clipped part on screen when last composed
  bool queued_ = false;
  bool repaint_ = false;
};

class Image : public Sprite {
  struct Key;

 public:
  Image(const Key&, Scene& scene, Box* parent, std::uint32_t z) : Sprite(scene, parent, z, false) {}

  const PictureRef& GetPicture() const { return picture_; }
  // Without stretching the image takes the picture's size, as a picture box would.
  void SetPicture(PictureRef picture);
  bool Stretch() const { return stretch_; }
  void SetStretch(bool stretch);
  // Above every other image of its layer (boxes stay above all images).
  void ZOrderToFront();

 private:
  friend class Scene;
  struct Key {};

  PictureRef picture_;
  bool stretch_ = false;
  std::uint32_t stamp_ = 0;
  PixelRect indexed_;  // where the scene's spatial index holds it
};

// An opaque filled rectangle that may hold images; drawn above every image of the window.
class Box : public Sprite {
  struct Key;

 public:
  Box(const Key&, Scene& scene, std::uint32_t z) : Sprite(scene, nullptr, z, true) {}

  Rgb FillColor() const { return fill_; }
  void SetFillColor(Rgb fill);

 private:
  friend class Scene;
  struct Key {};

  Rgb fill_;
  std::vector<Image*> children_;
};

// A retained set of sprites that repaints only what changed since it last composed.
class Scene {
 public:
  Scene() = default;
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  Box& AddBox();
  Image& AddImage(Box* parent = nullptr);
  // A hidden copy of `prototype` in front of its siblings.
  Image& CopyOf(const Image& prototype);

  // Repaints the regions that changed since the last call and returns them: the rectangles
  // to push to the screen. A scene where nothing visible changed returns none.
  const std::vector<PixelRect>& Compose(const Canvas& canvas);
  bool NeedsCompose() const { return full_ || !queue_.empty(); }
  // Next compose repaints everything (a new or resized window, an exposed one).
  void InvalidateAll() { full_ = true; }

  std::size_t ImageCount() const { return images_.size(); }

 private:
  friend class Sprite;
  friend class Image;
  friend class Box;

  static constexpr int kCell = 64;  // spatial index cell, pixels

  void Queue(Sprite& sprite);
  std::uint32_t NextZ() { return ++z_counter_; }
  void Place(Sprite& sprite, const PixelRect& screen);
  // Places it and damages its old and new place if either changed or it looks different.
  void PlaceAndDamage(Sprite& sprite, const PixelRect& screen);
  void Reindex(Image& image);
  void RebuildIndex(int width, int height);
  void AddDamage(PixelRect rect);
  void Paint(const Canvas& canvas, const PixelRect& rect);
  static void Fill(const Canvas& canvas, const PixelRect& rect, std::uint32_t pixel);
  static void Draw(const Canvas& canvas, const Image& image, const PixelRect& clip);

  std::deque<Box> boxes_;  // in drawing order
  std::deque<Image> images_;
  std::vector<Sprite*> queue_;
  std::vector<PixelRect> damage_;
  std::vector<std::vector<Image*>> cells_;
  std::vector<Image*> scratch_;
  int grid_w_ = 0, grid_h_ = 0;
  int width_ = -1, height_ = -1;
  std::uint32_t z_counter_ = 0;
  std::uint32_t stamp_ = 0;
  bool full_ = true;
};

// Members addressed by index, as in a control array; new members are hidden copies of member 0.
class ImageGroup {
 public:
  ImageGroup(Scene& scene, Box* parent = nullptr) : scene_(&scene), parent_(parent) {}

  Image& operator()(int index) { return *members_.at(static_cast<std::size_t>(index)); }
  const Image& operator()(int index) const { return *members_.at(static_cast<std::size_t>(index)); }
  bool Exists(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < members_.size() &&
           members_[static_cast<std::size_t>(index)] != nullptr;
  }
  // A member made at design time, at any free index: shown, with no picture until given one.
  Image& AddMember(int index);
  // A member made at run time: a hidden copy of member 0.
  Image& Load(int index);
  int Size() const { return static_cast<int>(members_.size()); }

 private:
  Image*& Slot(int index);

  Scene* scene_;
  Box* parent_;
  std::vector<Image*> members_;
};

}  // namespace platform
