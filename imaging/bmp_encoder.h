// Writing gray pictures as 8-bit BMP files with a gray-ramp colour table: the
// file every reader of this library, and any BMP viewer, shows as the same
// gray levels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace dactyra {

// One colour table entry in the order of a logical palette.
struct PaletteEntry {
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
  std::uint8_t flags;
};

// Entry i is red i, green i, blue i, flags 0.
std::array<PaletteEntry, 256> GrayPalette();

// Bytes before the pixel rows: file header, 40-byte info header and the
// 256-entry colour table.
inline constexpr std::size_t kGrayBitmapHeaderSize = 1078;

// Size of the file SaveGrayBitmap writes for a picture of that size: 0 when
// width or height is 0. Throws dactyra::Exception for negative sizes and for
// pictures whose file would not fit in 2^31 - 1 bytes.
std::size_t GrayBitmapFileSize(std::int32_t width, std::int32_t height);

// Writes the file into `file`, which must hold exactly
// GrayBitmapFileSize(width, height) bytes. `pixels` holds the picture top row
// first, `width` bytes per row; it must hold at least width × height bytes
// (dactyra::Exception otherwise). Rows are stored bottom row first and padded
// with zeros to a multiple of 4 bytes.
void WriteGrayBitmap(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> pixels,
                     std::span<std::uint8_t> file);

// Appends the BMP file of the picture to `stream`; nothing when width or
// height is 0. Same checks as WriteGrayBitmap; on failure `stream` is left
// unchanged.
void SaveGrayBitmap(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> pixels,
                    std::vector<std::uint8_t>& stream);

}  // namespace dactyra
