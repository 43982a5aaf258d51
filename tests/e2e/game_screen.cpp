#include "tests/e2e/game_screen.h"

#include <cmath>

#include "assets/sprite_set.h"
#include "platform/geometry.h"
#include "platform/gif_decoder.h"

namespace e2e {

namespace {

constexpr int kDigitsLeft = 1024 - 4 * 36;
constexpr int kGlyphW = 36, kGlyphH = 48;

const std::vector<platform::PictureRef>& Glyphs() {
  static const std::vector<platform::PictureRef> glyphs = [] {
    std::vector<platform::PictureRef> g;
    for (int d = 0; d < 10; ++d)
      g.push_back(platform::DecodeGif(glomper::assets::DigitGlyphGif(d)));
    return g;
  }();
  return glyphs;
}

bool UnderBar(int x, int y) { return x < 521 && y < 17; }

bool Orange(std::uint32_t p) {
  const int r = p >> 16, g = (p >> 8) & 0xFF, b = p & 0xFF;
  return r > 200 && g > 90 && g < 200 && b < 90;
}

// Where the orange body's middle lies in the 40 × 40 box, averaged over the three frames.
Point BodyOffsetInBox() {
  static const Point offset = [] {
    double sx = 0, sy = 0, n = 0;
    for (int frame = 0; frame < 3; ++frame) {
      const auto picture = platform::DecodeGif(glomper::assets::CreatureFrameGif(frame));
      for (int y = 0; y < picture->Height(); ++y) {
        for (int x = 0; x < picture->Width(); ++x) {
          if (platform::Picture::Opaque(picture->At(x, y)) && Orange(picture->At(x, y))) {
            sx += x;
            sy += y;
            ++n;
          }
        }
      }
    }
    return Point{static_cast<int>(sx / n + 0.5), static_cast<int>(sy / n + 0.5)};
  }();
  return offset;
}

}  // namespace

int BarWidth(const Screenshot& s) {
  const std::uint32_t colour = s.At(0, 8);
  int width = 0;
  while (width < s.width && s.At(width, 8) == colour) ++width;
  return width;
}

std::pair<int, int> BarWidthsWithin(long ticks) {
  return {platform::PixelEdge(kBarStartTwips - static_cast<double>(ticks)),
          platform::PixelEdge(kBarStartTwips)};
}

long TicksWithin(Clock::duration elapsed) { return static_cast<long>(elapsed / kTick) + 1; }

std::optional<Point> FindCreature(const Screenshot& s) {
  long sx = 0, sy = 0, n = 0;
  for (int y = 0; y < s.height; ++y) {
    for (int x = 0; x < s.width; ++x) {
      if (Orange(s.At(x, y))) {
        sx += x;
        sy += y;
        ++n;
      }
    }
  }
  if (n < 50) return std::nullopt;
  const Point body = BodyOffsetInBox();
  return Point{static_cast<int>(sx / n) - body.x + 20, static_cast<int>(sy / n) - body.y + 20};
}

double ChaseDistance(XSession& x, Point target, Ms timeout) {
  x.MovePointer(target.x, target.y);
  double nearest = 1e9;
  WaitFor(
      [&] {
        if (const auto at = FindCreature(x.Shoot())) {
          nearest = std::min(nearest, std::hypot(at->x - target.x, at->y - target.y));
        }
        return nearest < 40;
      },
      timeout, Ms(20));
  return nearest;
}

std::optional<std::string> ReadDigits(const Screenshot& s) {
  std::string text;
  for (int cell = 0; cell < 4; ++cell) {
    const int left = s.width - (4 - cell) * kGlyphW;  // against the right edge, at any width
    int found = -1;
    for (int d = 0; d < 10 && found < 0; ++d) {
      const platform::Picture& glyph = *Glyphs()[static_cast<std::size_t>(d)];
      bool all = true;
      for (int y = 0; y < kGlyphH && all; ++y) {
        for (int x = 0; x < kGlyphW && all; ++x) {
          const std::uint32_t p = glyph.At(x, y);
          if (platform::Picture::Opaque(p)) all = s.At(left + x, y) == (p & 0xFFFFFF);
        }
      }
      if (all) found = d;
    }
    if (found < 0) return std::nullopt;
    text += static_cast<char>('0' + found);
  }
  return text;
}

BlockSamples::BlockSamples() {
  auto glyph_may_cover = [](int x, int y) {
    if (x < kDigitsLeft || y >= kGlyphH) return false;
    for (const auto& glyph : Glyphs()) {
      if (platform::Picture::Opaque(glyph->At((x - kDigitsLeft) % kGlyphW, y))) return true;
    }
    return false;
  };
  for (int block = 0; block < kBlocks; ++block) {
    const int x0 = block % kColumns * kBlockPx, y0 = block / kColumns * kBlockPx;
    Point chosen{-1, -1};
    for (int y = std::min(y0 + 16, 767); y >= y0 && chosen.x < 0; --y) {
      for (int x = std::min(x0 + 16, 1023); x >= x0 && chosen.x < 0; --x) {
        if (!UnderBar(x, y) && !glyph_may_cover(x, y)) chosen = {x, y};
      }
    }
    for (int y = y0 + 17; y < std::min(y0 + kBlockPx, 768) && chosen.x < 0; ++y) {
      for (int x = x0; x < std::min(x0 + kBlockPx, 1024) && chosen.x < 0; ++x) {
        if (!UnderBar(x, y) && !glyph_may_cover(x, y)) chosen = {x, y};
      }
    }
    points_.push_back(chosen);
  }
}

}  // namespace e2e
