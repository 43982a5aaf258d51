#include "tests/e2e/screenshot.h"

#include <X11/Xutil.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "platform/x11/x11_client.h"

namespace e2e {

namespace {

void PutBe32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  PutBe32(png, static_cast<std::uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  png += body;
  PutBe32(png, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                static_cast<uInt>(body.size()))));
}

// A channel of a pixel, scaled to 8 bits: 15- and 16-bit screens hold 5 or 6.
std::uint32_t Channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctzl(mask);
  return static_cast<std::uint32_t>(((pixel & mask) >> shift) * 255 / (mask >> shift));
}

// Copies `image`, read at (x, y) of the screen, into `out`, which holds `area`.
void CopyImage(XImage* image, int x, int y, const Area& area, std::vector<std::uint32_t>& out) {
  // A 4K screen has 8 million pixels: read 32-bit rows directly, not pixel by pixel.
  const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                      image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 &&
                      image->blue_mask == 0xFF;
  for (int row = 0; row < image->height; ++row) {
    const int oy = y + row - area.y;
    if (oy < 0 || oy >= area.height) continue;
    std::uint32_t* to = &out[static_cast<std::size_t>(oy) * static_cast<std::size_t>(area.width) +
                             static_cast<std::size_t>(x - area.x)];
    if (direct) {
      std::memcpy(to, image->data + static_cast<std::ptrdiff_t>(row) * image->bytes_per_line,
                  static_cast<std::size_t>(image->width) * 4);
      for (int column = 0; column < image->width; ++column) to[column] &= 0xFFFFFF;
    } else {
      for (int column = 0; column < image->width; ++column) {
        const unsigned long p = XGetPixel(image, column, row);
        to[column] = Channel(p, image->red_mask) << 16 | Channel(p, image->green_mask) << 8 |
                     Channel(p, image->blue_mask);
      }
    }
  }
}

// Reads the part of `area` that `window` (at x, y of the screen) covers into `out`.
void ReadWindow(Display* display, Window window, const Area& area,
                std::vector<std::uint32_t>& out) {
  XWindowAttributes a;
  int x = 0, y = 0;
  Window ignored;
  if (!XGetWindowAttributes(display, window, &a) || a.map_state != IsViewable ||
      a.c_class != InputOutput ||
      !XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &ignored)) {
    return;
  }
  const int x0 = std::max(area.x, x), y0 = std::max(area.y, y);
  const int x1 = std::min(area.x + area.width, x + a.width);
  const int y1 = std::min(area.y + area.height, y + a.height);
  if (x0 >= x1 || y0 >= y1) return;
  XImage* image = XGetImage(display, window, x0 - x, y0 - y, static_cast<unsigned>(x1 - x0),
                            static_cast<unsigned>(y1 - y0), AllPlanes, ZPixmap);
  if (image == nullptr) return;
  CopyImage(image, x0, y0, area, out);
  XDestroyImage(image);
}

}  // namespace

bool Screenshot::SavePng(const std::string& path) const {
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = At(x, y);
      raw += static_cast<char>(p >> 16);
      raw += static_cast<char>(p >> 8);
      raw += static_cast<char>(p);
    }
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                9) != Z_OK) {
    return false;
  }
  packed.resize(size);
  std::string header;
  PutBe32(header, static_cast<std::uint32_t>(width));
  PutBe32(header, static_cast<std::uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits a channel, RGB
  std::string png = "\x89PNG\r\n\x1a\n";
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", packed);
  Chunk(png, "IEND", "");
  std::ofstream out(path, std::ios::binary);
  out << png;
  return static_cast<bool>(out);
}

Screenshot Screenshot::Crop(int x, int y, int w, int h) const {
  Screenshot part;
  part.width = w;
  part.height = h;
  part.from = from;
  part.to = to;
  part.pixels.reserve(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  for (int row = y; row < y + h; ++row) {
    for (int column = x; column < x + w; ++column) part.pixels.push_back(At(column, row));
  }
  return part;
}

std::vector<std::uint32_t> ReadScreen(Display* display, const Area& area, bool root_shows_screen) {
  std::vector<std::uint32_t> out;
  if (display == nullptr) return out;
  const auto w = static_cast<unsigned>(area.width), h = static_cast<unsigned>(area.height);
  if (root_shows_screen) {
    XImage* image =
        XGetImage(display, DefaultRootWindow(display), area.x, area.y, w, h, AllPlanes, ZPixmap);
    if (image == nullptr) return out;
    out.resize(static_cast<std::size_t>(w) * h);
    CopyImage(image, area.x, area.y, area, out);
    XDestroyImage(image);
    return out;
  }
  out.assign(static_cast<std::size_t>(w) * h, 0);
  const std::vector<Window> clients = ClientsBottomUp(display);
  // A window may go between looking and reading: then it is no longer on the screen either.
  x11::ErrorTrap trap(display);
  for (const Window client : clients) ReadWindow(display, client, area, out);
  return out;
}

}  // namespace e2e
