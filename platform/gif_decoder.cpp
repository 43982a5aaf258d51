#include "platform/gif_decoder.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <vector>

namespace platform {

namespace {

constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;

constexpr std::uint8_t kHasColourTable = 0x80;   // in the screen's and the image's flags
constexpr std::uint8_t kInterlaced = 0x40;       // in the image's flags
constexpr std::uint8_t kHasTransparency = 0x01;  // in the graphic control's flags

constexpr int kMaxCodeBits = 12;
constexpr int kMaxCodes = 1 << kMaxCodeBits;

// Reads forward; a read past the end gives nothing rather than reading on.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::optional<std::span<const std::uint8_t>> Take(std::size_t count) {
    if (bytes_.size() - at_ < count) return std::nullopt;
    const auto taken = bytes_.subspan(at_, count);
    at_ += count;
    return taken;
  }
  std::optional<std::uint8_t> Byte() {
    const auto b = Take(1);
    return b ? std::optional<std::uint8_t>((*b)[0]) : std::nullopt;
  }
  std::optional<int> Word() {
    const auto b = Take(2);
    return b ? std::optional<int>((*b)[0] | (*b)[1] << 8) : std::nullopt;
  }
  // A run of sub-blocks up to its empty terminator, joined; nothing if it is cut short.
  std::optional<std::vector<std::uint8_t>> SubBlocks() {
    std::vector<std::uint8_t> joined;
    for (;;) {
      const auto size = Byte();
      if (!size) return std::nullopt;
      if (*size == 0) return joined;
      const auto block = Take(*size);
      if (!block) return std::nullopt;
      joined.insert(joined.end(), block->begin(), block->end());
    }
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

// Fills `indices` from an image's LZW codes. False when a code is not in the table yet, or
// when the codes end (by the end code or the data running out) before every pixel has its
// index; codes past the last pixel are not read.
bool Unpack(std::span<const std::uint8_t> data, int min_code_size,
            std::vector<std::uint8_t>& indices) {
  const int clear = 1 << min_code_size;
  const int end = clear + 1;
  // A code's string is its prefix code's string followed by one more index.
  std::array<std::uint16_t, kMaxCodes> prefix{};
  std::array<std::uint8_t, kMaxCodes> last{};
  std::array<std::uint8_t, kMaxCodes> first{};
  std::array<std::uint16_t, kMaxCodes> length{};
  for (int code = 0; code < clear; ++code) {
    last[static_cast<std::size_t>(code)] = static_cast<std::uint8_t>(code);
    first[static_cast<std::size_t>(code)] = static_cast<std::uint8_t>(code);
    length[static_cast<std::size_t>(code)] = 1;
  }

  int width = min_code_size + 1;
  int next = clear + 2;
  int previous = -1;  // none right after a clear code
  std::uint32_t held = 0;
  int held_bits = 0;
  std::size_t read = 0;
  std::size_t written = 0;
  while (written < indices.size()) {
    while (held_bits < width) {
      if (read == data.size()) return false;
      held |= std::uint32_t{data[read++]} << held_bits;
      held_bits += 8;
    }
    const int code = static_cast<int>(held & ((1u << width) - 1));
    held >>= width;
    held_bits -= width;

    if (code == clear) {
      width = min_code_size + 1;
      next = clear + 2;
      previous = -1;
      continue;
    }
    if (code == end) return false;
    if (code > next || (code == next && previous < 0)) return false;

    const auto c = static_cast<std::size_t>(code);
    if (previous >= 0 && next < kMaxCodes) {
      // The previous string plus the first index of this one; when this one is the code
      // being defined (c == n), that index is the previous string's first, set just above.
      const auto p = static_cast<std::size_t>(previous);
      const auto n = static_cast<std::size_t>(next);
      prefix[n] = static_cast<std::uint16_t>(previous);
      first[n] = first[p];
      last[n] = first[c];
      length[n] = static_cast<std::uint16_t>(length[p] + 1);
      ++next;
      // A full table stays at 12 bits until the encoder clears it.
      if (next == (1 << width) && width < kMaxCodeBits) ++width;
    }
    previous = code;

    // The string comes out last index first; what falls past the picture is dropped.
    const std::size_t string_end = written + length[c];
    std::size_t at = string_end;
    for (std::size_t s = c;; s = prefix[s]) {
      if (--at < indices.size()) indices[at] = last[s];
      if (length[s] == 1) break;
    }
    written = std::min(string_end, indices.size());
  }
  return true;
}

// The colour table that the flags announce (empty when there is none), opaque 0xFF000000 | rgb;
// nothing when it is cut short.
std::optional<std::vector<std::uint32_t>> ColourTable(Reader& in, std::uint8_t flags) {
  std::vector<std::uint32_t> colours;
  if (!(flags & kHasColourTable)) return colours;
  const auto table = in.Take(std::size_t{3} << ((flags & 7) + 1));
  if (!table) return std::nullopt;
  for (std::size_t at = 0; at < table->size(); at += 3) {
    colours.push_back(0xFF000000u | std::uint32_t{(*table)[at]} << 16 |
                      std::uint32_t{(*table)[at + 1]} << 8 | (*table)[at + 2]);
  }
  return colours;
}

// The picture row that each row of the image data fills: in order, or in the four passes of
// an interlaced image (every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd
// from 1).
std::vector<int> RowOrder(int height, bool interlaced) {
  std::vector<int> rows;
  rows.reserve(static_cast<std::size_t>(height));
  if (!interlaced) {
    for (int y = 0; y < height; ++y) rows.push_back(y);
    return rows;
  }
  // Each pass: the first row, and how many rows on the next one is.
  constexpr int kPasses[][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
  for (const auto& [start, step] : kPasses) {
    for (int y = start; y < height; y += step) rows.push_back(y);
  }
  return rows;
}

}  // namespace

PictureRef DecodeGif(std::span<const std::uint8_t> gif) {
  Reader in(gif);
  const auto signature = in.Take(6);
  if (!signature) return nullptr;
  const std::string_view version(reinterpret_cast<const char*>(signature->data()), 6);
  if (version != "GIF87a" && version != "GIF89a") return nullptr;

  const auto screen_width = in.Word();
  const auto screen_height = in.Word();
  const auto screen_flags = in.Byte();
  const auto background_and_aspect = in.Take(2);
  if (!screen_width || !screen_height || !screen_flags || !background_and_aspect) return nullptr;
  if (*screen_width == 0 || *screen_height == 0 || *screen_width > kGifMaxSide ||
      *screen_height > kGifMaxSide) {
    return nullptr;
  }

  std::optional<std::vector<std::uint32_t>> palette = ColourTable(in, *screen_flags);
  if (!palette) return nullptr;

  // Extensions before the image: only the graphic control's transparent index matters.
  int transparent = -1;
  for (;;) {
    const auto introducer = in.Byte();
    if (!introducer) return nullptr;
    if (*introducer == kImageSeparator) break;
    if (*introducer != kExtensionIntroducer)
      return nullptr;  // the trailer (no image), or not a GIF
    const auto label = in.Byte();
    const auto body = in.SubBlocks();
    if (!label || !body) return nullptr;
    if (*label == kGraphicControlLabel) {
      // Flags, delay (2 bytes), transparent index.
      if (body->size() < 4) return nullptr;
      transparent = ((*body)[0] & kHasTransparency) ? (*body)[3] : -1;
    }
  }

  const auto left = in.Word();
  const auto top = in.Word();
  const auto width = in.Word();
  const auto height = in.Word();
  const auto image_flags = in.Byte();
  if (!left || !top || !width || !height || !image_flags) return nullptr;
  if (*left != 0 || *top != 0 || *width != *screen_width || *height != *screen_height) {
    return nullptr;
  }
  if (*image_flags & kHasColourTable) {
    palette = ColourTable(in, *image_flags);
    if (!palette) return nullptr;
  }
  const auto min_code_size = in.Byte();
  if (!min_code_size || *min_code_size < 2 || *min_code_size > 8) return nullptr;
  const auto data = in.SubBlocks();
  if (!data) return nullptr;
  // What follows the image (the trailer, further frames) is not read.

  std::vector<std::uint8_t> indices(static_cast<std::size_t>(*width) *
                                    static_cast<std::size_t>(*height));
  if (!Unpack(*data, *min_code_size, indices)) return nullptr;
  std::vector<std::uint32_t> pixels(indices.size());
  const auto row_length = static_cast<std::size_t>(*width);
  const std::vector<int> rows = RowOrder(*height, (*image_flags & kInterlaced) != 0);
  for (std::size_t i = 0; i < indices.size(); ++i) {
    const std::uint8_t index = indices[i];
    std::uint32_t& pixel =
        pixels[static_cast<std::size_t>(rows[i / row_length]) * row_length + i % row_length];
    if (index == transparent) {
      pixel = 0;
    } else if (index < palette->size()) {
      pixel = (*palette)[index];
    } else {
      return nullptr;
    }
  }
  return std::make_shared<const Picture>(*width, *height, std::move(pixels));
}

}  // namespace platform
