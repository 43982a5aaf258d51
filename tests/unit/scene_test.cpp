// The retained scene: what it draws, in which order, and how little it pushes.
#include "platform/scene.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "assets/sprite_set.h"
#include "platform/gif_decoder.h"

namespace platform {
namespace {

constexpr std::uint32_t kBlack = 0xFF000000u;
constexpr double kPx = kTwipsPerPixel;

PictureRef Solid(int w, int h, std::uint32_t pixel) {
  return std::make_shared<const Picture>(w, h, std::vector<std::uint32_t>(w * h, pixel));
}

class SceneTest : public ::testing::Test {
 protected:
  void SetSize(int w, int h) {
    pixels_.assign(static_cast<std::size_t>(w) * h, 0xDEADBEEF);
    canvas_ = {pixels_.data(), w, h, w};
  }
  std::vector<PixelRect> Compose() { return scene_.Compose(canvas_); }
  std::uint32_t At(int x, int y) const { return canvas_.Row(y)[x]; }
  long Area(const std::vector<PixelRect>& rects) const {
    long area = 0;
    for (const PixelRect& r : rects) area += r.Area();
    return area;
  }
  Image& PlacedImage(PictureRef picture, int x, int y) {
    Image& image = scene_.AddImage();
    image.SetPicture(std::move(picture));
    image.Move(x * kPx, y * kPx);
    return image;
  }

  Scene scene_;
  std::vector<std::uint32_t> pixels_;
  Canvas canvas_;
  void SetUp() override { SetSize(200, 100); }
};

TEST_F(SceneTest, FirstComposePaintsTheWholeWindowBlack) {
  EXPECT_EQ(Compose(), (std::vector<PixelRect>{{0, 0, 200, 100}}));
  EXPECT_EQ(At(0, 0), kBlack);
  EXPECT_EQ(At(199, 99), kBlack);
}

TEST_F(SceneTest, BoxesStayAboveImagesWhateverTheOrderOfCreation) {
  Box& box = scene_.AddBox();
  box.Resize(20 * kPx, 20 * kPx);
  box.SetFillColor({0, 192, 0});
  Image& image = PlacedImage(Solid(30, 30, 0xFFFF0000u), 10, 10);
  image.ZOrderToFront();
  Compose();
  EXPECT_EQ(At(15, 15), 0xFF00C000u) << "box over image";
  EXPECT_EQ(At(25, 25), 0xFFFF0000u) << "image outside the box";
}

TEST_F(SceneTest, LaterImagesAndImagesBroughtToFrontDrawOnTop) {
  Image& first = PlacedImage(Solid(10, 10, 0xFF0000FFu), 0, 0);
  PlacedImage(Solid(10, 10, 0xFF00FF00u), 5, 0);
  Compose();
  EXPECT_EQ(At(7, 5), 0xFF00FF00u);
  first.ZOrderToFront();
  Compose();
  EXPECT_EQ(At(7, 5), 0xFF0000FFu);
}

TEST_F(SceneTest, TransparentPixelsOfAGlyphShowWhatLiesBeneath) {
  const PictureRef glyph = DecodeGif(glomper::assets::DigitGlyphGif(8));
  ASSERT_TRUE(glyph && glyph->HasTransparency());
  PlacedImage(Solid(36, 48, 0xFF402060u), 0, 0);
  PlacedImage(glyph, 0, 0);
  Compose();
  int see_through = 0, covered = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 36; ++x) {
      if (Picture::Opaque(glyph->At(x, y))) {
        EXPECT_EQ(At(x, y), glyph->At(x, y));
        ++covered;
      } else {
        EXPECT_EQ(At(x, y), 0xFF402060u);
        ++see_through;
      }
    }
  }
  EXPECT_GT(see_through, 0);
  EXPECT_GT(covered, 0);
}

TEST_F(SceneTest, StretchingScalesTheTileToFillItsWholeBlock) {
  const PictureRef tile = DecodeGif(glomper::assets::BlockTileGif());
  ASSERT_TRUE(tile);
  ASSERT_EQ(tile->Width(), 16);
  Image& block = scene_.AddImage();
  block.SetStretch(true);
  block.Resize(33 * kPx, 33 * kPx);
  block.SetPicture(tile);
  EXPECT_EQ(block.Width(), 33 * kPx) << "a stretched image keeps its own size";
  Compose();
  for (int y = 0; y < 33; ++y) {
    for (int x = 0; x < 33; ++x) {
      ASSERT_EQ(At(x, y), tile->At(x * 16 / 33, y * 16 / 33)) << x << "," << y;
    }
  }
  EXPECT_EQ(At(33, 0), kBlack);
  EXPECT_EQ(At(0, 33), kBlack);
}

TEST_F(SceneTest, APictureWhosePixelsDoNotMatchItsSizeIsRefusedInEveryBuild) {
  EXPECT_THROW(Picture(2, 2, std::vector<std::uint32_t>(3)), std::invalid_argument);
  EXPECT_THROW(Picture(-1, -4, std::vector<std::uint32_t>(4)), std::invalid_argument);
  EXPECT_EQ(Picture(2, 3, std::vector<std::uint32_t>(6)).Height(), 3);
}

TEST_F(SceneTest, WithoutStretchingAnImageTakesItsPicturesSize) {
  Image& cell = scene_.AddImage();
  cell.Resize(735, 855);
  cell.SetPicture(Solid(36, 48, 0xFF00FF00u));
  EXPECT_EQ(cell.Width(), 540);
  EXPECT_EQ(cell.Height(), 720);
}

TEST_F(SceneTest, ImagesInsideABoxMoveWithItAndAreClippedToIt) {
  Box& box = scene_.AddBox();
  box.Move(10 * kPx, 10 * kPx);
  box.Resize(20 * kPx, 20 * kPx);
  Image& inner = scene_.AddImage(&box);
  inner.SetPicture(Solid(30, 30, 0xFFFFFF00u));
  Compose();
  EXPECT_EQ(At(10, 10), 0xFFFFFF00u);
  EXPECT_EQ(At(29, 29), 0xFFFFFF00u);
  EXPECT_EQ(At(30, 30), kBlack) << "clipped to the box";
  box.Move(50 * kPx, 10 * kPx);
  Compose();
  EXPECT_EQ(At(10, 10), kBlack);
  EXPECT_EQ(At(50, 10), 0xFFFFFF00u);
  box.SetVisible(false);
  Compose();
  EXPECT_EQ(At(50, 10), kBlack) << "hidden with its box";
}

TEST_F(SceneTest, PushesOnlyTheOldAndNewPlaceOfAMovedSprite) {
  Box& box = scene_.AddBox();
  box.Resize(40 * kPx, 40 * kPx);
  box.SetFillColor({255, 255, 255});
  PlacedImage(Solid(200, 100, 0xFF101010u), 0, 0);
  Compose();
  box.Move(3 * kPx, 0);
  const auto rects = Compose();
  EXPECT_EQ(Area(rects), 43 * 40);
  EXPECT_EQ(At(1, 1), 0xFF101010u) << "the uncovered strip is repainted from the image below";
  EXPECT_EQ(At(42, 1), 0xFFFFFFFFu);

  box.Move(150 * kPx, 50 * kPx);
  EXPECT_EQ(Area(Compose()), 2 * 40 * 40) << "two separate rectangles";
}

TEST_F(SceneTest, AChangeThatShowsNothingNewPushesNothing) {
  Box& box = scene_.AddBox();
  box.Resize(40 * kPx, 40 * kPx);
  Image& hidden = PlacedImage(Solid(5, 5, 0xFFFFFFFFu), 100, 50);
  hidden.SetVisible(false);
  Compose();
  EXPECT_TRUE(Compose().empty()) << "nothing changed";
  box.Move(0, 0);
  box.SetFillColor({0, 0, 0});
  hidden.Move(120 * kPx, 60 * kPx);
  EXPECT_TRUE(Compose().empty()) << "same values, or a hidden sprite moving";
}

TEST_F(SceneTest, OneTwipMoreOrLessCountsOnlyWhenItCrossesAPixel) {
  SetSize(600, 20);
  Box& bar = scene_.AddBox();
  bar.Resize(7815, 255);
  bar.SetFillColor({0, 192, 0});
  Compose();
  EXPECT_EQ(At(520, 0), 0xFF00C000u);
  bar.SetWidth(7814);
  EXPECT_EQ(bar.Width(), 7814) << "a one-twip change is kept";
  EXPECT_TRUE(Compose().empty()) << "no pixel edge moved, nothing to push";
  EXPECT_EQ(At(520, 0), 0xFF00C000u) << "520.9 pixels still cover pixel 520";
  bar.SetWidth(7807);
  Compose();
  EXPECT_EQ(At(520, 0), kBlack) << "520.5 pixels round to 520";
}

TEST_F(SceneTest, ASizeChangeRepaintsEverythingOnce) {
  PlacedImage(Solid(10, 10, 0xFFFFFFFFu), 0, 0);
  Compose();
  SetSize(300, 150);
  EXPECT_EQ(Compose(), (std::vector<PixelRect>{{0, 0, 300, 150}}));
  EXPECT_EQ(At(5, 5), 0xFFFFFFFFu);
  EXPECT_EQ(At(299, 149), kBlack);
  EXPECT_TRUE(Compose().empty());
}

TEST_F(SceneTest, GroupMembersAreHiddenCopiesOfMemberZeroInFront) {
  ImageGroup group(scene_);
  Image& prototype = group.AddMember(0);
  prototype.SetStretch(true);
  prototype.Resize(495, 495);
  prototype.Move(30, 45);
  prototype.SetPicture(Solid(16, 16, 0xFF00FFFFu));
  Image& copy = group.Load(1);
  EXPECT_FALSE(copy.Visible());
  EXPECT_EQ(copy.Left(), 30);
  EXPECT_EQ(copy.Top(), 45);
  EXPECT_EQ(copy.Width(), 495);
  EXPECT_TRUE(copy.Stretch());
  EXPECT_EQ(copy.GetPicture(), prototype.GetPicture());
  EXPECT_TRUE(group.Exists(1));
  EXPECT_FALSE(group.Exists(2));
  EXPECT_FALSE(group.Exists(-1));
  EXPECT_THROW(group.Load(1), std::logic_error);
}

TEST_F(SceneTest, ManyStaticSpritesAreNotRepaintedWhenOneSmallOneChanges) {
  SetSize(1024, 768);
  const PictureRef tile = Solid(33, 33, 0xFF402060u);
  std::vector<Image*> blocks;
  for (int y = 0; y < 768; y += 33) {
    for (int x = 0; x < 1024; x += 33) blocks.push_back(&PlacedImage(tile, x, y));
  }
  Compose();
  blocks[40]->SetVisible(false);
  const auto rects = Compose();
  EXPECT_EQ(Area(rects), 33 * 33);
  EXPECT_EQ(At(PixelEdge(blocks[40]->Left()) + 1, PixelEdge(blocks[40]->Top()) + 1), kBlack);
}

TEST_F(SceneTest, AChildsChangeQueuedAfterAChangeOfItsBoxIsPainted) {
  Box& box = scene_.AddBox();
  box.Resize(40 * kPx, 40 * kPx);
  Image& child = scene_.AddImage(&box);
  child.SetPicture(Solid(10, 10, 0xFFFF0000u));
  child.SetVisible(false);
  Compose();
  box.Move(1, 0);  // one twip: no pixel edge moves
  child.SetVisible(true);
  Compose();
  EXPECT_EQ(At(5, 5), 0xFFFF0000u);
}

// Twin scenes take the same random edits; one composes only what changed, as the game does,
// the other repaints everything every frame. Both must show the same pixels after each frame.
TEST_F(SceneTest, RepaintingOnlyWhatChangedShowsWhatARepaintOfEverythingShows) {
  constexpr int kScenes = 1000, kFrames = 8, kWidth = 64, kHeight = 48;
  std::vector<std::uint32_t> see_through(12 * 9, 0xFF30A0F0u);
  for (std::size_t i = 0; i < see_through.size(); i += 3) see_through[i] = 0;
  const PictureRef pictures[] = {Solid(7, 5, 0xFFFF0000u), Solid(20, 16, 0xFF00FF00u),
                                 std::make_shared<const Picture>(12, 9, see_through)};
  struct Twin {
    Scene scene;
    std::vector<Sprite*> sprites;  // boxes, their children, then loose images
    std::vector<Box*> boxes;       // by the same index, or null
    std::vector<Image*> images;
    void Add(Box* box, Image* image) {
      sprites.push_back(box ? static_cast<Sprite*>(box) : image);
      boxes.push_back(box);
      images.push_back(image);
    }
    std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(kWidth * kHeight, 0xDEADBEEF);
    std::vector<PixelRect> Compose() {
      return scene.Compose({pixels.data(), kWidth, kHeight, kWidth});
    }
  };
  for (int seed = 0; seed < kScenes; ++seed) {
    std::mt19937 rng(static_cast<std::uint32_t>(seed));
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Twin twins[2];  // [0] composes incrementally, [1] repaints everything
    for (Twin& twin : twins) {
      for (int b = 0; b < 2; ++b) {
        Box& box = twin.scene.AddBox();
        box.Resize(30 * kPx, 20 * kPx);
        box.Move((5 + 25 * b) * kPx, (5 + 15 * b) * kPx);
        twin.Add(&box, nullptr);
        for (int c = 0; c < 2; ++c) {
          Image& child = twin.scene.AddImage(&box);
          child.SetPicture(pictures[c]);
          child.Move(c * 4 * kPx, c * 3 * kPx);
          twin.Add(nullptr, &child);
        }
      }
      for (int k = 0; k < 4; ++k) {
        Image& image = twin.scene.AddImage();
        image.SetPicture(pictures[k % 3]);
        image.Move(k * 14 * kPx, k * 9 * kPx);
        twin.Add(nullptr, &image);
      }
    }
    for (int frame = 0; frame < kFrames; ++frame) {
      for (int edits = pick(1, 5); edits > 0; --edits) {
        const auto which = static_cast<std::size_t>(pick(0, 9));
        const int what = pick(0, 6);
        // Sub-pixel steps as well as jumps, some of them past the edges.
        const int dx = pick(0, 1) ? pick(-20, 20) : pick(-40, 80) * 15;
        const int dy = pick(0, 1) ? pick(-20, 20) : pick(-30, 60) * 15;
        const int value = pick(0, 255);
        for (Twin& twin : twins) {
          Sprite& sprite = *twin.sprites[which];
          Image* image = twin.images[which];
          Box* box = twin.boxes[which];
          switch (what) {
            case 0:
              sprite.Move(sprite.Left() + dx, sprite.Top() + dy);
              break;
            case 1:
              sprite.Move(dx, dy);
              break;
            case 2:
              sprite.Resize(std::abs(dx), std::abs(dy));
              break;
            case 3:
              sprite.SetVisible(!sprite.Visible());
              break;
            case 4:
              if (box) box->SetFillColor({static_cast<std::uint8_t>(value), 40, 90});
              if (image) image->SetPicture(pictures[value % 3]);
              break;
            case 5:
              if (image) image->SetStretch(!image->Stretch());
              break;
            default:
              if (image) image->ZOrderToFront();
          }
        }
      }
      twins[0].Compose();
      twins[1].scene.InvalidateAll();
      twins[1].Compose();
      for (std::size_t i = 0; i < twins[0].pixels.size(); ++i) {
        ASSERT_EQ(twins[0].pixels[i], twins[1].pixels[i])
            << "seed " << seed << ", frame " << frame << ", pixel (" << i % kWidth << ", "
            << i / kWidth << ")";
      }
    }
  }
}

}  // namespace
}  // namespace platform
