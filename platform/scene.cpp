#include "platform/scene.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace platform {

namespace {

constexpr std::uint32_t kBackground = 0xFF000000u;  // the window is black
constexpr std::size_t kMaxDamageRects = 16;         // past this, one bounding rectangle is cheaper

PixelRect PlacementOf(double left, double top, double width, double height) {
  return {PixelEdge(left), PixelEdge(top), PixelEdge(left + width), PixelEdge(top + height)};
}

}  // namespace

// ---- Sprite ----

void Sprite::Changed(bool looks_different) {
  repaint_ = repaint_ || looks_different;
  scene_->Queue(*this);
}

void Sprite::Move(double left, double top) {
  if (left == left_ && top == top_) return;
  left_ = left;
  top_ = top;
  Changed(/*looks_different=*/false);
}

void Sprite::Resize(double width, double height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  Changed(/*looks_different=*/false);
}

void Sprite::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  Changed(/*looks_different=*/false);
}

void Image::SetPicture(PictureRef picture) {
  const bool same_size = !picture || stretch_ ||
                         (width_ == picture->Width() * kTwipsPerPixel &&
                          height_ == picture->Height() * kTwipsPerPixel);
  if (picture == picture_ && same_size) return;  // nothing on the screen would change
  picture_ = std::move(picture);
  if (picture_ && !stretch_) {
    Resize(picture_->Width() * kTwipsPerPixel, picture_->Height() * kTwipsPerPixel);
  }
  Changed(/*looks_different=*/true);
}

void Image::SetStretch(bool stretch) {
  if (stretch == stretch_) return;
  stretch_ = stretch;
  Changed(/*looks_different=*/true);
}

void Image::ZOrderToFront() {
  z_ = scene_->NextZ();
  Changed(/*looks_different=*/true);
}

void Box::SetFillColor(Rgb fill) {
  if (fill == fill_) return;
  fill_ = fill;
  Changed(/*looks_different=*/true);
}

// ---- ImageGroup ----

Image*& ImageGroup::Slot(int index) {
  if (index < 0) throw std::out_of_range("negative group index");
  if (static_cast<std::size_t>(index) >= members_.size()) {
    members_.resize(static_cast<std::size_t>(index) + 1, nullptr);
  }
  Image*& slot = members_[static_cast<std::size_t>(index)];
  if (slot != nullptr) throw std::logic_error("group member already exists");
  return slot;
}

Image& ImageGroup::AddMember(int index) {
  Image*& slot = Slot(index);
  slot = &scene_->AddImage(parent_);
  return *slot;
}

Image& ImageGroup::Load(int index) {
  if (!Exists(0)) throw std::logic_error("group has no member 0 to copy");
  const Image& prototype = (*this)(0);
  Image*& slot = Slot(index);
  slot = &scene_->CopyOf(prototype);
  return *slot;
}

// ---- Scene ----

Box& Scene::AddBox() {
  Box& box = boxes_.emplace_back(Box::Key{}, *this, NextZ());
  Queue(box);
  return box;
}

Image& Scene::AddImage(Box* parent) {
  Image& image = images_.emplace_back(Image::Key{}, *this, parent, NextZ());
  if (parent != nullptr) parent->children_.push_back(&image);
  Queue(image);
  return image;
}

Image& Scene::CopyOf(const Image& prototype) {
  Image& image = AddImage(prototype.parent_);
  image.left_ = prototype.left_;
  image.top_ = prototype.top_;
  image.width_ = prototype.width_;
  image.height_ = prototype.height_;
  image.picture_ = prototype.picture_;
  image.stretch_ = prototype.stretch_;
  image.visible_ = false;
  return image;
}

void Scene::Queue(Sprite& sprite) {
  if (sprite.queued_) return;
  sprite.queued_ = true;
  queue_.push_back(&sprite);
}

// Works out where a sprite lands on a screen and keeps the index in step.
void Scene::Place(Sprite& sprite, const PixelRect& screen) {
  const Box* parent = sprite.parent_;
  PixelRect placed;
  PixelRect limit = screen;
  bool visible = sprite.visible_;
  if (parent == nullptr) {
    placed = PlacementOf(sprite.left_, sprite.top_, sprite.width_, sprite.height_);
  } else {
    const PixelRect outer =
        PlacementOf(parent->left_, parent->top_, parent->width_, parent->height_);
    const PixelRect inner = PlacementOf(sprite.left_, sprite.top_, sprite.width_, sprite.height_);
    placed = {outer.x0 + inner.x0, outer.y0 + inner.y0, outer.x0 + inner.x1, outer.y0 + inner.y1};
    limit = limit.Intersect(outer);
    visible = visible && parent->visible_;
  }
  sprite.placed_ = placed;
  sprite.drawn_ = visible ? placed.Intersect(limit) : PixelRect{};
}

void Scene::PlaceAndDamage(Sprite& sprite, const PixelRect& screen) {
  const PixelRect was_placed = sprite.placed_, was_drawn = sprite.drawn_;
  Place(sprite, screen);
  // A twip more or less that moves no pixel edge repaints nothing.
  if (sprite.repaint_ || sprite.placed_ != was_placed || sprite.drawn_ != was_drawn) {
    AddDamage(was_drawn);
    AddDamage(sprite.drawn_);
  }
}

void Scene::Reindex(Image& image) {
  if (image.parent_ != nullptr || image.indexed_ == image.drawn_) return;
  auto for_cells = [this](const PixelRect& r, auto&& fn) {
    if (r.Empty()) return;
    for (int cy = r.y0 / kCell; cy <= (r.y1 - 1) / kCell; ++cy) {
      for (int cx = r.x0 / kCell; cx <= (r.x1 - 1) / kCell; ++cx) {
        fn(cells_[static_cast<std::size_t>(cy) * grid_w_ + cx]);
      }
    }
  };
  for_cells(image.indexed_, [&image](std::vector<Image*>& cell) {
    cell.erase(std::find(cell.begin(), cell.end(), &image));
  });
  for_cells(image.drawn_, [&image](std::vector<Image*>& cell) { cell.push_back(&image); });
  image.indexed_ = image.drawn_;
}

void Scene::RebuildIndex(int width, int height) {
  width_ = width;
  height_ = height;
  grid_w_ = (width + kCell - 1) / kCell;
  grid_h_ = (height + kCell - 1) / kCell;
  cells_.assign(static_cast<std::size_t>(grid_w_) * grid_h_, {});
  for (Image& image : images_) image.indexed_ = {};
}

void Scene::AddDamage(PixelRect rect) {
  if (rect.Empty()) return;
  for (std::size_t i = 0; i < damage_.size();) {
    if (damage_[i].Overlaps(rect)) {
      rect = rect.Union(damage_[i]);
      damage_.erase(damage_.begin() + static_cast<long>(i));
      i = 0;
    } else {
      ++i;
    }
  }
  damage_.push_back(rect);
  if (damage_.size() > kMaxDamageRects) {
    PixelRect all;
    for (const PixelRect& r : damage_) all = all.Union(r);
    damage_.assign(1, all);
  }
}

const std::vector<PixelRect>& Scene::Compose(const Canvas& canvas) {
  damage_.clear();
  const PixelRect screen = canvas.Bounds();
  if (canvas.width != width_ || canvas.height != height_) {
    RebuildIndex(canvas.width, canvas.height);
    full_ = true;
  }
  if (full_) {
    for (Box& box : boxes_) Place(box, screen);
    for (Image& image : images_) {
      Place(image, screen);
      Reindex(image);
    }
    for (Sprite* sprite : queue_) sprite->queued_ = sprite->repaint_ = false;
    queue_.clear();
    AddDamage(screen);
    full_ = false;
  } else {
    for (Sprite* sprite : queue_) {
      sprite->queued_ = false;
      PlaceAndDamage(*sprite, screen);
      sprite->repaint_ = false;
      if (sprite->is_box_) {
        // Children move and hide with their box. A child's own change may wait further down
        // the queue; placed here, its entry would find nothing new, so its damage is taken
        // now, whichever of the two was queued first.
        for (Image* child : static_cast<Box*>(sprite)->children_) PlaceAndDamage(*child, screen);
      } else {
        Reindex(static_cast<Image&>(*sprite));
      }
    }
    queue_.clear();
  }
  for (const PixelRect& rect : damage_) Paint(canvas, rect);
  return damage_;
}

void Scene::Paint(const Canvas& canvas, const PixelRect& rect) {
  Fill(canvas, rect, kBackground);

  scratch_.clear();
  ++stamp_;
  for (int cy = rect.y0 / kCell; cy <= (rect.y1 - 1) / kCell; ++cy) {
    for (int cx = rect.x0 / kCell; cx <= (rect.x1 - 1) / kCell; ++cx) {
      for (Image* image : cells_[static_cast<std::size_t>(cy) * grid_w_ + cx]) {
        if (image->stamp_ == stamp_) continue;
        image->stamp_ = stamp_;
        if (image->drawn_.Overlaps(rect)) scratch_.push_back(image);
      }
    }
  }
  std::sort(scratch_.begin(), scratch_.end(),
            [](const Image* a, const Image* b) { return a->z_ < b->z_; });
  for (const Image* image : scratch_) Draw(canvas, *image, image->drawn_.Intersect(rect));

  // A box's order is fixed when it is made: later boxes draw above earlier ones.
  for (const Box& box : boxes_) {
    const PixelRect area = box.drawn_.Intersect(rect);
    if (area.Empty()) continue;
    Fill(canvas, area, box.fill_.Pixel());
    scratch_.assign(box.children_.begin(), box.children_.end());
    std::sort(scratch_.begin(), scratch_.end(),
              [](const Image* a, const Image* b) { return a->z_ < b->z_; });
    for (const Image* child : scratch_) Draw(canvas, *child, child->drawn_.Intersect(area));
  }
}

void Scene::Fill(const Canvas& canvas, const PixelRect& rect, std::uint32_t pixel) {
  for (int y = rect.y0; y < rect.y1; ++y) {
    std::fill(canvas.Row(y) + rect.x0, canvas.Row(y) + rect.x1, pixel);
  }
}

void Scene::Draw(const Canvas& canvas, const Image& image, const PixelRect& clip) {
  const PixelRect& at = image.placed_;
  if (clip.Empty() || !image.picture_ || at.Empty()) return;
  const Picture& picture =
      image.stretch_ ? image.picture_->ScaledTo(at.Width(), at.Height()) : *image.picture_;
  if (picture.Width() <= 0 || picture.Height() <= 0) return;
  const PixelRect area =
      clip.Intersect({at.x0, at.y0, at.x0 + picture.Width(), at.y0 + picture.Height()});
  const int n = area.Width();
  for (int y = area.y0; y < area.y1; ++y) {
    const std::uint32_t* src = picture.Row(y - at.y0) + (area.x0 - at.x0);
    std::uint32_t* dst = canvas.Row(y) + area.x0;
    if (!picture.HasTransparency()) {
      std::memcpy(dst, src, static_cast<std::size_t>(n) * sizeof *dst);
      continue;
    }
    for (int x = 0; x < n; ++x) {
      if (Picture::Opaque(src[x])) dst[x] = src[x];
    }
  }
}

}  // namespace platform
