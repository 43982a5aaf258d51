#include "platform/gif_decoder.h"

#include <SDL.h>
#include <SDL_image.h>

#include <memory>
#include <vector>

namespace platform {

namespace {

struct SurfaceDeleter {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

std::uint32_t Argb(const SDL_Color& c) {
  return 0xFF000000u | (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
}

}  // namespace

PictureRef DecodeGif(std::span<const std::uint8_t> gif) {
  SDL_RWops* rw = SDL_RWFromConstMem(gif.data(), static_cast<int>(gif.size()));
  if (rw == nullptr) return nullptr;
  SurfacePtr surface(IMG_LoadGIF_RW(rw));
  SDL_RWclose(rw);
  if (!surface) return nullptr;

  // SDL_image hands over palette indices and marks the transparent index as colour key.
  const SDL_Palette* palette = surface->format->palette;
  if (surface->format->BitsPerPixel != 8 || palette == nullptr) {
    surface.reset(SDL_ConvertSurfaceFormat(surface.get(), SDL_PIXELFORMAT_ARGB8888, 0));
    if (!surface) return nullptr;
    palette = nullptr;
  }
  Uint32 key = 0;
  const bool keyed = SDL_GetColorKey(surface.get(), &key) == 0;
  const int w = surface->w;
  const int h = surface->h;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * h);
  if (SDL_LockSurface(surface.get()) != 0) return nullptr;
  for (int y = 0; y < h; ++y) {
    const auto* row = static_cast<const std::uint8_t*>(surface->pixels) + y * surface->pitch;
    for (int x = 0; x < w; ++x) {
      std::uint32_t& out = pixels[static_cast<std::size_t>(y) * w + x];
      if (palette != nullptr) {
        const std::uint8_t index = row[x];
        out = (keyed && index == key) ? 0u : Argb(palette->colors[index % palette->ncolors]);
      } else {
        const auto argb = reinterpret_cast<const std::uint32_t*>(row)[x];
        out = ((keyed && argb == key) || (argb >> 24) == 0) ? 0u : (argb | 0xFF000000u);
      }
    }
  }
  SDL_UnlockSurface(surface.get());
  return std::make_shared<const Picture>(w, h, std::move(pixels));
}

}  // namespace platform
