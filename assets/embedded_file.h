#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace glomper::assets {

// A file built into the program (cmake/EmbedFiles.cmake writes the table).
struct EmbeddedFile {
  std::string_view name;
  std::span<const std::uint8_t> bytes;
};
extern const EmbeddedFile kEmbeddedFiles[];
extern const std::size_t kEmbeddedFileCount;

}  // namespace glomper::assets
