// The GIF decoder: exact pixels from GIFs written here, and every malformed or cut-short input
// refused without reading past its bytes (run under the asan preset to see the reads).
#include "platform/gif_decoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "assets/sprite_set.h"

namespace platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kFullTable = 4096;

// Packs codes low bit first, as GIF does.
class CodePacker {
 public:
  void Put(int code, int width) {
    held_ |= static_cast<std::uint32_t>(code) << held_bits_;
    held_bits_ += width;
    while (held_bits_ >= 8) {
      bytes_.push_back(static_cast<std::uint8_t>(held_));
      held_ >>= 8;
      held_bits_ -= 8;
    }
  }
  Bytes Finish() {
    if (held_bits_ > 0) bytes_.push_back(static_cast<std::uint8_t>(held_));
    return bytes_;
  }

 private:
  Bytes bytes_;
  std::uint32_t held_ = 0;
  int held_bits_ = 0;
};

// LZW as a GIF encoder writes it. A code is one bit wider as soon as the decoder's table,
// which learns each entry one code after the encoder, has filled the narrower width.
Bytes Lzw(const Bytes& indices, int min_code_size, bool clear_when_full) {
  const int clear = 1 << min_code_size;
  CodePacker out;
  std::map<std::pair<int, int>, int> table;
  int width = min_code_size + 1;
  int next = clear + 2;
  out.Put(clear, width);
  int prefix = -1;
  for (const std::uint8_t index : indices) {
    if (prefix < 0) {
      prefix = index;
      continue;
    }
    if (const auto found = table.find({prefix, index}); found != table.end()) {
      prefix = found->second;
      continue;
    }
    out.Put(prefix, width);
    if (next < kFullTable) {
      table[{prefix, index}] = next++;
      if (next > (1 << width) && width < 12) ++width;
    } else if (clear_when_full) {
      out.Put(clear, width);
      table.clear();
      width = min_code_size + 1;
      next = clear + 2;
    }
    prefix = index;
  }
  if (prefix >= 0) out.Put(prefix, width);
  out.Put(clear + 1, width);
  return out.Finish();
}

// A GIF of one image, every field of which a test may set wrong.
struct Gif {
  std::string signature = "GIF89a";
  int screen_width = 5, screen_height = 3;
  bool global_table = true;  // the palette, or other colours when the image has its own
  bool local_table = false;  // the palette as the image's own table
  std::vector<std::uint32_t> palette = {0x102030, 0xFF0000, 0x00FF00, 0x0000FF};  // rgb
  int transparent = -1;  // a graphic control extension is written when 0 or more
  bool transparency_flag = true;
  Bytes before_image;  // further extensions
  int left = 0, top = 0, width = 5, height = 3;
  std::uint8_t image_flags = 0;  // besides the local table's
  int min_code_size = 2;
  Bytes indices = {0, 1, 2, 3, 0, 1, 1, 1, 1, 1, 3, 2, 1, 0, 3};
  bool clear_when_full = true;
  std::vector<std::pair<int, int>> codes;  // {code, bits}: when set, written instead of the LZW
  Bytes after_image = {0x3B};

  Bytes Write() const {
    Bytes b(signature.begin(), signature.end());
    auto word = [&](int v) {
      b.push_back(static_cast<std::uint8_t>(v & 0xFF));
      b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    };
    word(screen_width);
    word(screen_height);
    int size_bits = 0;  // a table holds 2 << size_bits colours
    while ((2u << size_bits) < palette.size()) ++size_bits;
    auto table = [&](std::uint32_t change) {
      for (std::size_t i = 0; i < (2u << size_bits); ++i) {
        const std::uint32_t rgb = (i < palette.size() ? palette[i] : 0x777777) ^ change;
        for (int shift : {16, 8, 0}) b.push_back(static_cast<std::uint8_t>(rgb >> shift));
      }
    };
    b.push_back(static_cast<std::uint8_t>((global_table ? 0x80 : 0) | size_bits));
    b.push_back(0);  // background
    b.push_back(0);  // aspect
    if (global_table) table(local_table ? 0xFFFFFF : 0);
    if (transparent >= 0) {
      b.insert(b.end(), {0x21, 0xF9, 4, static_cast<std::uint8_t>(transparency_flag ? 1 : 0), 0, 0,
                         static_cast<std::uint8_t>(transparent), 0});
    }
    b.insert(b.end(), before_image.begin(), before_image.end());
    b.push_back(0x2C);
    word(left);
    word(top);
    word(width);
    word(height);
    b.push_back(static_cast<std::uint8_t>(image_flags | (local_table ? 0x80 | size_bits : 0)));
    if (local_table) table(0);
    b.push_back(static_cast<std::uint8_t>(min_code_size));
    Bytes data;
    if (codes.empty()) {
      data = Lzw(indices, min_code_size, clear_when_full);
    } else {
      CodePacker packer;
      for (const auto& [code, bits] : codes) packer.Put(code, bits);
      data = packer.Finish();
    }
    for (std::size_t at = 0; at < data.size(); at += 255) {
      const std::size_t n = std::min<std::size_t>(255, data.size() - at);
      b.push_back(static_cast<std::uint8_t>(n));
      b.insert(b.end(), data.begin() + static_cast<long>(at),
               data.begin() + static_cast<long>(at + n));
    }
    b.push_back(0);
    b.insert(b.end(), after_image.begin(), after_image.end());
    return b;
  }

  // The picture these indices make, in row order.
  std::vector<std::uint32_t> Pixels() const {
    std::vector<std::uint32_t> pixels;
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
      const int index = indices.at(i);
      pixels.push_back(index == transparent && transparency_flag
                           ? 0u
                           : 0xFF000000u | palette.at(static_cast<std::size_t>(index)));
    }
    return pixels;
  }
};

// Pseudo-random indices with runs, the same on every machine.
Bytes Noise(std::size_t count, int colours) {
  Bytes indices;
  std::uint32_t state = 12345;
  while (indices.size() < count) {
    state = state * 1103515245u + 12345u;
    const auto index = static_cast<std::uint8_t>((state >> 16) % static_cast<unsigned>(colours));
    const std::size_t run = (state >> 8) % 5 == 0 ? (state >> 4) % 9 : 1;
    for (std::size_t r = 0; r <= run && indices.size() < count; ++r) indices.push_back(index);
  }
  return indices;
}

std::vector<std::uint32_t> PixelsOf(const Picture& p) {
  std::vector<std::uint32_t> pixels;
  for (int y = 0; y < p.Height(); ++y) pixels.insert(pixels.end(), p.Row(y), p.Row(y) + p.Width());
  return pixels;
}

struct ReadCase {
  std::string name;
  std::function<void(Gif&)> make;
};

class GifDecoderTest : public ::testing::TestWithParam<ReadCase> {
 protected:
  // Each input in a buffer of exactly its size, so a read past it is caught.
  static PictureRef Decode(const Bytes& bytes) {
    const Bytes exact(bytes.begin(), bytes.end());
    return DecodeGif(exact);
  }
  Gif MakeGif() const {
    Gif gif;
    GetParam().make(gif);
    return gif;
  }
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

std::string CaseName(const ::testing::TestParamInfo<ReadCase>& info) { return info.param.name; }

Gif Sized(Gif g, int width, int height) {
  g.screen_width = g.width = width;
  g.screen_height = g.height = height;
  g.indices = Noise(static_cast<std::size_t>(width) * height, static_cast<int>(g.palette.size()));
  return g;
}

std::vector<std::uint32_t> SixteenColours() {
  std::vector<std::uint32_t> palette;
  for (std::uint32_t i = 0; i < 16; ++i) palette.push_back(i * 0x0F0D0B);
  return palette;
}

// ---- GIFs the decoder reads, to the exact pixel ----

using GifDecoderReadsTest = GifDecoderTest;

TEST_P(GifDecoderReadsTest, GivesEveryPixelItsPaletteColourOrTransparency) {
  const Gif gif = MakeGif();
  const PictureRef picture = Decode(gif.Write());
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->Width(), gif.width);
  EXPECT_EQ(picture->Height(), gif.height);
  EXPECT_EQ(PixelsOf(*picture), gif.Pixels());
}

const ReadCase kReadable[] = {
    {"FourColours", [](Gif&) {}},
    {"TransparentIndex", [](Gif& g) { g.transparent = 1; }},
    {"LocalColourTableInPlaceOfTheGlobalOne",
     [](Gif& g) {
       g.local_table = true;
       g.global_table = false;
     }},
    {"LocalColourTableOverTheGlobalOne", [](Gif& g) { g.local_table = true; }},
    {"TransparentIndexNotFlagged",
     [](Gif& g) {
       g.transparent = 1;
       g.transparency_flag = false;
     }},
    {"TransparentIndexPastThePalette",
     [](Gif& g) {
       g.min_code_size = 3;
       g.transparent = 6;
       g.indices[4] = g.indices[9] = 6;
     }},
    {"EightBitCodesForSixteenColoursAsThePicturesAre",
     [](Gif& g) {
       g.palette = SixteenColours();
       g.min_code_size = 8;
       g.transparent = 0;
       g = Sized(g, 38, 35);
     }},
    {"CodesWidenToTwelveBitsAndAFullTableIsCleared",
     [](Gif& g) {
       g.palette = SixteenColours();
       g.min_code_size = 4;
       g = Sized(g, 128, 128);
     }},
    {"AFullTableStaysAtTwelveBitsWhenNeverCleared",
     [](Gif& g) {
       g.palette = SixteenColours();
       g.min_code_size = 4;
       g.clear_when_full = false;
       g = Sized(g, 128, 128);
     }},
    {"ACodeDefinedByItsOwnUse",  // clear, 1, then 6 while it is being defined: 1 1
     [](Gif& g) {
       g = Sized(g, 3, 1);
       g.indices = {1, 1, 1};
       g.codes = {{4, 3}, {1, 3}, {6, 3}, {5, 3}};
     }},
    {"OtherExtensionsAreSkipped",
     [](Gif& g) {
       g.before_image = {0x21, 0xFE, 3,   'h', 'i', '!', 0,  // comment
                         0x21, 0xFF, 11,  'N', 'E', 'T', 'S', 'C', 'A', 'P',
                         'E',  '2',  '.', '0', 3,   1,   0,   0,   0};
     }},
    {"GarbageAfterTheTrailer",
     [](Gif& g) {
       // The trailer, then bytes that make no picture.
       g.after_image = {0x3B, 0xFF, 0x2C, 0x00, 0x21};
     }},
    {"NoTrailer", [](Gif& g) { g.after_image.clear(); }},
    {"FurtherFramesAreNotRead",
     [](Gif& g) {
       Gif second = g;
       second.indices.assign(second.indices.size(), 3);
       const Bytes b = second.Write();
       g.after_image.assign(b.begin() + 13 + 3 * 4, b.end());
     }},
    {"CodesPastTheLastPixelAreDropped",
     [](Gif& g) {
       // Five more pixels than the picture has.
       g.indices.insert(g.indices.end(), {3, 3, 2, 2, 1});
     }},
    {"AsWideAsAllowed", [](Gif& g) { g = Sized(g, kGifMaxSide, 1); }},
    {"AsTallAsAllowed", [](Gif& g) { g = Sized(g, 1, kGifMaxSide); }},
};

INSTANTIATE_TEST_SUITE_P(Gifs, GifDecoderReadsTest, ::testing::ValuesIn(kReadable), CaseName);

// ---- GIFs it refuses ----

using GifDecoderRefusesTest = GifDecoderTest;

TEST_P(GifDecoderRefusesTest, ReturnsNull) { EXPECT_FALSE(Decode(MakeGif().Write())); }

const ReadCase kRefused[] = {
    {"UnknownVersion", [](Gif& g) { g.signature = "GIF88a"; }},
    {"NotAGif", [](Gif& g) { g.signature = "\x89PNG\r\n"; }},
    {"ZeroWidth", [](Gif& g) { g = Sized(g, 0, 3); }},
    {"ZeroHeight", [](Gif& g) { g = Sized(g, 5, 0); }},
    {"WiderThanAllowed", [](Gif& g) { g = Sized(g, kGifMaxSide + 1, 1); }},
    {"TallerThanAllowed", [](Gif& g) { g = Sized(g, 1, kGifMaxSide + 1); }},
    {"HugeSidesWithLittleData",
     [](Gif& g) { g.screen_width = g.width = g.screen_height = g.height = 65535; }},
    {"NoColourTable", [](Gif& g) { g.global_table = false; }},
    {"LocalColourTableCutShort",
     [](Gif& g) {
       g.image_flags = 0x87;  // a table of 256, of which the image data is the start
       g.after_image.clear();
     }},
    {"ImageShiftedRight", [](Gif& g) { g.left = 1; }},
    {"ImageShiftedDown", [](Gif& g) { g.top = 1; }},
    {"ImageSmallerThanTheScreen", [](Gif& g) { g.screen_height = 4; }},
    {"ImageLargerThanTheScreen", [](Gif& g) { g.screen_width = 4; }},
    {"CodeSizeOne",  // 2-bit codes, cleared before they would widen: 0 1, 1 0
     [](Gif& g) {
       g = Sized(g, 4, 1);
       g.min_code_size = 1;
       g.codes = {{2, 2}, {0, 2}, {1, 2}, {2, 2}, {1, 2}, {0, 2}, {3, 2}};
     }},
    {"CodeSizeNine", [](Gif& g) { g.min_code_size = 9; }},
    // The codes past the table below were defined before the clear: a decoder that keeps
    // its old entries would make a whole picture of them.
    {"CodeNotYetDefinedRightAfterAClear",  // 1, 6 = 11, clear, 6
     [](Gif& g) {
       g = Sized(g, 5, 1);
       g.codes = {{4, 3}, {1, 3}, {6, 3}, {4, 3}, {6, 3}, {5, 3}};
     }},
    {"CodePastTheTable",  // 1, 6 = 11, 7 = 111, clear (4 bits by now), 1, then 7 where 6 is next
     [](Gif& g) {
       g = Sized(g, 10, 1);
       g.codes = {{4, 3}, {1, 3}, {6, 3}, {7, 3}, {4, 4}, {1, 3}, {7, 3}, {5, 3}};
     }},
    {"ColourIndexPastThePalette",
     [](Gif& g) {
       g.min_code_size = 3;
       g.indices[7] = 4;
     }},
    {"ColourIndexPastThePaletteWithAnotherTransparent",
     [](Gif& g) {
       g.min_code_size = 3;
       g.transparent = 5;
       g.indices[7] = 4;
     }},
    {"EndCodeBeforeThePictureIsFull", [](Gif& g) { g.indices.resize(14); }},
    {"CodesAfterTheEndCodeAreNotPartOfIt",
     [](Gif& g) {
       g = Sized(g, 3, 1);
       g.codes = {{4, 3}, {0, 3}, {1, 3}, {5, 3}, {2, 3}};
     }},
    {"DataEndsBeforeThePictureIsFull",  // 9 bits of codes; the padding reads as two zeros
     [](Gif& g) {
       g = Sized(g, 8, 1);
       g.codes = {{4, 3}, {1, 3}, {2, 3}};
     }},
    {"GraphicControlShorterThanItsFields",
     [](Gif& g) { g.before_image = {0x21, 0xF9, 3, 1, 0, 0, 0}; }},
    {"ExtensionCutShortBeforeTheImage",
     [](Gif& g) { g.before_image = {0x21, 0xFE, 200, 'a', 'b', 0}; }},
    {"TrailerBeforeTheImage", [](Gif& g) { g.before_image = {0x3B}; }},
    {"UnknownBlockBeforeTheImage", [](Gif& g) { g.before_image = {0x00}; }},
};

INSTANTIATE_TEST_SUITE_P(Gifs, GifDecoderRefusesTest, ::testing::ValuesIn(kRefused), CaseName);

// ---- the game's own pictures, cut short or damaged ----

struct BuiltIn {
  std::string name;
  std::span<const std::uint8_t> bytes;
};

std::vector<BuiltIn> BuiltInPictures() {
  using namespace glomper::assets;
  std::vector<BuiltIn> all{{"block", BlockTileGif()}};
  for (int i = 0; i < kCreatureFrames; ++i) {
    all.push_back({"creature" + std::to_string(i), CreatureFrameGif(i)});
  }
  for (int d = 0; d < kDigits; ++d) all.push_back({"digit" + std::to_string(d), DigitGlyphGif(d)});
  return all;
}

void PrintTo(const BuiltIn& b, std::ostream* os) { *os << b.name; }

class GifDecoderBuiltInTest : public ::testing::TestWithParam<BuiltIn> {
 protected:
  Bytes Whole() const { return Bytes(GetParam().bytes.begin(), GetParam().bytes.end()); }
};

TEST_P(GifDecoderBuiltInTest, EveryCutBeforeTheTrailerIsRefusedAndOnlyTheTrailerMayGo) {
  const Bytes whole = Whole();
  ASSERT_EQ(whole.back(), 0x3B) << "the image data ends just before the trailer";
  const PictureRef full = DecodeGif(whole);
  ASSERT_TRUE(full);
  for (std::size_t n = 0; n + 1 < whole.size(); ++n) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(n));
    ASSERT_FALSE(DecodeGif(cut)) << "cut to " << n << " bytes";
  }
  const Bytes no_trailer(whole.begin(), whole.end() - 1);
  const PictureRef picture = DecodeGif(no_trailer);
  ASSERT_TRUE(picture);
  EXPECT_EQ(PixelsOf(*picture), PixelsOf(*full));
}

TEST_P(GifDecoderBuiltInTest, AnyOneByteChangedIsReadSafely) {
  const Bytes whole = Whole();
  for (std::size_t at = 0; at < whole.size(); ++at) {
    for (const int change : {0x00, 0xFF, whole[at] ^ 0x01, whole[at] ^ 0x80}) {
      Bytes damaged = whole;
      damaged[at] = static_cast<std::uint8_t>(change);
      const PictureRef picture = DecodeGif(damaged);
      if (picture) {
        ASSERT_LE(picture->Width(), kGifMaxSide);
        ASSERT_LE(picture->Height(), kGifMaxSide);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryPicture, GifDecoderBuiltInTest,
                         ::testing::ValuesIn(BuiltInPictures()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace platform
