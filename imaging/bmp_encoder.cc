#include "imaging/bmp_encoder.h"

#include <cstring>
#include <limits>

#include "support/exception.h"

namespace dactyra {

namespace {

constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kColours = 256;

void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::size_t PaddedRow(std::int32_t width) {
  return (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
}

}  // namespace

std::array<PaletteEntry, 256> GrayPalette() {
  std::array<PaletteEntry, 256> palette{};
  for (std::size_t i = 0; i < palette.size(); ++i) {
    const auto level = static_cast<std::uint8_t>(i);
    palette[i] = PaletteEntry{level, level, level, 0};
  }
  return palette;
}

std::size_t GrayBitmapFileSize(std::int32_t width, std::int32_t height) {
  if (width < 0 || height < 0) throw Exception(u"Negative picture size");
  if (width == 0 || height == 0) return 0;
  // 64-bit product: 2^31 × 2^31 cannot wrap.
  const std::uint64_t size =
      kGrayBitmapHeaderSize + std::uint64_t{PaddedRow(width)} * static_cast<std::uint64_t>(height);
  if (size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    throw Exception(u"Picture too large for a BMP file");
  }
  return static_cast<std::size_t>(size);
}

void WriteGrayBitmap(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> pixels,
                     std::span<std::uint8_t> file) {
  const std::size_t file_size = GrayBitmapFileSize(width, height);
  if (file.size() != file_size) throw Exception(u"BMP output of the wrong size");
  if (file_size == 0) return;
  const auto row_length = static_cast<std::size_t>(width);
  const auto rows = static_cast<std::size_t>(height);
  if (pixels.size() / row_length < rows) throw Exception(u"Too few pixels for the picture size");

  const std::size_t stride = PaddedRow(width);
  const auto image_size = static_cast<std::uint32_t>(stride * rows);
  std::uint8_t* out = file.data();
  std::memset(out, 0, kGrayBitmapHeaderSize);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out + 2, static_cast<std::uint32_t>(file_size));
  Put32(out + 10, kGrayBitmapHeaderSize);
  Put32(out + 14, kInfoHeaderSize);
  Put32(out + 18, static_cast<std::uint32_t>(width));
  Put32(out + 22, static_cast<std::uint32_t>(height));  // positive: bottom row first
  Put16(out + 26, 1);
  Put16(out + 28, 8);
  Put32(out + 34, image_size);
  Put32(out + 46, kColours);

  // The colour table stores blue, green, red, reserved.
  std::uint8_t* table = out + 54;
  for (const PaletteEntry& entry : GrayPalette()) {
    table[0] = entry.blue;
    table[1] = entry.green;
    table[2] = entry.red;
    table[3] = 0;
    table += 4;
  }

  std::uint8_t* stored = out + kGrayBitmapHeaderSize;
  for (std::size_t r = rows; r-- > 0;) {
    std::memcpy(stored, pixels.data() + r * row_length, row_length);
    std::memset(stored + row_length, 0, stride - row_length);
    stored += stride;
  }
}

void SaveGrayBitmap(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> pixels,
                    std::vector<std::uint8_t>& stream) {
  const std::size_t file_size = GrayBitmapFileSize(width, height);
  if (file_size == 0) return;
  const std::size_t start = stream.size();
  stream.resize(start + file_size);
  try {
    WriteGrayBitmap(width, height, pixels, std::span(stream).subspan(start));
  } catch (...) {
    stream.resize(start);
    throw;
  }
}

}  // namespace dactyra
