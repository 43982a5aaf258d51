// Every picture built into the program: format, size, palette and transparency.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assets/sprite_set.h"
#include "platform/gif_decoder.h"

namespace glomper::assets {
namespace {

struct GifFacts {
  std::string version;
  int width = 0, height = 0;
  int global_colours = 0;  // 0 if no global colour table
  bool local_table = false;
  int images = 0;
  int transparent_index = -1;
  bool has_extensions = false;
};

// Reads a GIF's structure from its bytes, independently of the decoder the game uses.
GifFacts Inspect(std::span<const std::uint8_t> bytes) {
  const std::vector<std::uint8_t> b(bytes.begin(), bytes.end());  // bounds-checked reads
  GifFacts f;
  auto u16 = [&](std::size_t at) { return b[at] | (b[at + 1] << 8); };
  f.version.assign(b.begin(), b.begin() + 6);
  f.width = u16(6);
  f.height = u16(8);
  std::size_t at = 13;
  if (b[10] & 0x80) {
    f.global_colours = 2 << (b[10] & 7);
    at += 3 * f.global_colours;
  }
  auto skip_sub_blocks = [&] {
    while (b.at(at) != 0) at += b[at] + 1;
    ++at;
  };
  while (at < b.size() && b[at] != 0x3B) {
    if (b[at] == 0x21) {  // extension
      f.has_extensions = true;
      if (b.at(at + 1) == 0xF9 && (b.at(at + 3) & 1)) f.transparent_index = b.at(at + 6);
      at += 2;
      skip_sub_blocks();
    } else if (b[at] == 0x2C) {  // image descriptor
      ++f.images;
      f.local_table = f.local_table || (b.at(at + 9) & 0x80);
      at += 11;  // descriptor and LZW minimum code size
      skip_sub_blocks();
    } else {
      ADD_FAILURE() << "unexpected block " << int(b[at]);
      break;
    }
  }
  EXPECT_LT(at, b.size()) << "missing trailer";
  return f;
}

struct PictureCase {
  std::string name;
  std::span<const std::uint8_t> (*bytes)(int);
  int index;
  std::string version;
  int width, height, colours;
  bool transparent;
  // The pixels as SDL_image 2.6 decoded them, before the game read its GIFs itself: FNV-1a
  // over every 0xAARRGGBB word, low byte first, and the number of transparent pixels.
  std::uint64_t pixels_fnv1a;
  int transparent_pixels;
};

std::uint64_t Fnv1a(const platform::Picture& p) {
  std::uint64_t hash = 14695981039346656037u;
  for (int y = 0; y < p.Height(); ++y) {
    for (int x = 0; x < p.Width(); ++x) {
      for (int shift = 0; shift < 32; shift += 8) {
        hash = (hash ^ ((p.At(x, y) >> shift) & 0xFF)) * 1099511628211u;
      }
    }
  }
  return hash;
}

std::span<const std::uint8_t> Tile(int) { return BlockTileGif(); }

class PicturesTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(PicturesTest, HasTheFormatItsHolderExpects) {
  const PictureCase& c = GetParam();
  const auto bytes = c.bytes(c.index);
  const GifFacts f = Inspect(bytes);
  EXPECT_EQ(f.version, c.version);
  EXPECT_EQ(f.width, c.width);
  EXPECT_EQ(f.height, c.height);
  EXPECT_EQ(f.global_colours, c.colours);
  EXPECT_FALSE(f.local_table);
  EXPECT_EQ(f.images, 1);
  EXPECT_EQ(f.transparent_index >= 0, c.transparent);
  if (c.version == "GIF87a") {
    EXPECT_FALSE(f.has_extensions);
  }

  const platform::PictureRef decoded = platform::DecodeGif(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->Width(), c.width);
  EXPECT_EQ(decoded->Height(), c.height);
  EXPECT_EQ(decoded->HasTransparency(), c.transparent);
}

TEST_P(PicturesTest, DecodesToExactlyThePixelsTheGameHasAlwaysShown) {
  const PictureCase& c = GetParam();
  const platform::PictureRef decoded = platform::DecodeGif(c.bytes(c.index));
  ASSERT_TRUE(decoded);
  int transparent = 0;
  for (int y = 0; y < decoded->Height(); ++y) {
    for (int x = 0; x < decoded->Width(); ++x) {
      const std::uint32_t pixel = decoded->At(x, y);
      transparent += pixel == 0;
      ASSERT_TRUE(pixel == 0 || (pixel >> 24) == 0xFF) << "at " << x << "," << y;
    }
  }
  EXPECT_EQ(transparent, c.transparent_pixels);
  EXPECT_EQ(Fnv1a(*decoded), c.pixels_fnv1a);
}

std::vector<PictureCase> AllPictures() {
  constexpr std::uint64_t kCreatureFnv[kCreatureFrames] = {0x2d74af12de7d65f6, 0x26183835358e2f2a,
                                                           0xdfce8042f3b3e6ba};
  constexpr int kCreatureTransparent[kCreatureFrames] = {629, 605, 556};
  constexpr std::uint64_t kDigitFnv[kDigits] = {
      0xa140ef19a74c3f95, 0x036c05668c2670cf, 0x706d68f48a33a0e2, 0x3b79ab2065e0b6c9,
      0x10fbd2a37fa9a70a, 0x7677b81adc7c3ab2, 0xe70787ba3966c0df, 0x5debc7d65bb90746,
      0xa80874052fa50cce, 0x1d8b343a6d9af535};
  constexpr int kDigitTransparent[kDigits] = {840, 1045, 863, 805, 997, 804, 877, 1077, 800, 877};
  std::vector<PictureCase> cases;
  for (int i = 0; i < kCreatureFrames; ++i) {
    cases.push_back({"creature" + std::to_string(i), CreatureFrameGif, i, "GIF89a", 38, 35, 16,
                     true, kCreatureFnv[i], kCreatureTransparent[i]});
  }
  cases.push_back({"block", Tile, 0, "GIF87a", 16, 16, 8, false, 0xd94ede90533bd7d3, 0});
  for (int d = 0; d < kDigits; ++d) {
    cases.push_back({"digit" + std::to_string(d), DigitGlyphGif, d, "GIF89a", 36, 48, 16, true,
                     kDigitFnv[d], kDigitTransparent[d]});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryPicture, PicturesTest, ::testing::ValuesIn(AllPictures()),
                         [](const auto& info) { return info.param.name; });

TEST(PicturesTest, CreatureFramesAreThreeDistinctPoses) {
  const auto a = platform::DecodeGif(CreatureFrameGif(0));
  const auto b = platform::DecodeGif(CreatureFrameGif(1));
  const auto c = platform::DecodeGif(CreatureFrameGif(2));
  ASSERT_TRUE(a && b && c);
  auto differs = [](const platform::Picture& x, const platform::Picture& y) {
    int n = 0;
    for (int yy = 0; yy < x.Height(); ++yy)
      for (int xx = 0; xx < x.Width(); ++xx) n += x.At(xx, yy) != y.At(xx, yy);
    return n;
  };
  EXPECT_GT(differs(*a, *b), 30);
  EXPECT_GT(differs(*b, *c), 30);
  EXPECT_GT(differs(*a, *c), 30);
}

TEST(PicturesTest, IconIsA32By32OpaqueTrueColourBitmap) {
  const auto bmp = IconBmp();
  ASSERT_GE(bmp.size(), 54u);
  auto u32 = [&](std::size_t at) {
    return bmp[at] | (bmp[at + 1] << 8) | (bmp[at + 2] << 16) | (bmp[at + 3] << 24);
  };
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(u32(18), 32u);
  EXPECT_EQ(u32(22), 32u);
  EXPECT_EQ(bmp[28], 24) << "bits per pixel";
  EXPECT_EQ(u32(30), 0u) << "uncompressed";
  EXPECT_GE(bmp.size(), u32(10) + 32u * 32u * 3u);
}

TEST(PicturesTest, DialogArtIsFortyEightSquareWithAlpha) {
  const platform::DialogArt art = DialogArt();
  for (auto rgba : {art.information_rgba, art.critical_rgba}) {
    ASSERT_EQ(rgba.size(), 48u * 48u * 4u);
    EXPECT_EQ(rgba[3], 0) << "corner is transparent";
    EXPECT_EQ(rgba[(24 * 48 + 24) * 4 + 3], 255) << "centre is opaque";
  }
}

}  // namespace
}  // namespace glomper::assets
