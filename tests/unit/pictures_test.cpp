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
};

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

std::vector<PictureCase> AllPictures() {
  std::vector<PictureCase> cases;
  for (int i = 0; i < kCreatureFrames; ++i) {
    cases.push_back(
        {"creature" + std::to_string(i), CreatureFrameGif, i, "GIF89a", 38, 35, 16, true});
  }
  cases.push_back({"block", Tile, 0, "GIF87a", 16, 16, 8, false});
  for (int d = 0; d < kDigits; ++d) {
    cases.push_back({"digit" + std::to_string(d), DigitGlyphGif, d, "GIF89a", 36, 48, 16, true});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryPicture, PicturesTest, ::testing::ValuesIn(AllPictures()),
                         [](const auto& info) { return info.param.name; });

TEST(PicturesTest, CreatureFramesAreThreeDistinctPoses) {
  const auto a = platform::DecodeGif(CreatureFrameGif(0));
  const auto b = platform::DecodeGif(CreatureFrameGif(1));
  const auto c = platform::DecodeGif(CreatureFrameGif(2));
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
