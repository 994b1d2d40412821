#include "imaging/bmp_decoder.h"

#include <cstring>
#include <limits>

#include "platform/byte_order.h"

namespace dactyra {

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kUncompressed = 0;

std::uint16_t U16(std::span<const std::uint8_t> b, std::size_t at) {
  return platform::LoadLe16(b.subspan(at, 2).data());
}

std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
  return platform::LoadLe32(b.subspan(at, 4).data());
}

std::int32_t I32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int32_t>(U32(b, at));
}

}  // namespace

BmpFault ParseGrayBmp(std::span<const std::uint8_t> file, GrayBmpLayout& layout) {
  if (file.size() < 2) return BmpFault::kTooShort;
  if (file[0] != 'B' || file[1] != 'M') return BmpFault::kSignature;
  if (file.size() < kFileHeaderSize + 4) return BmpFault::kTooShort;

  const std::uint32_t data_offset = U32(file, 10);
  const std::uint32_t header_size = U32(file, 14);
  const bool core = header_size == kCoreHeaderSize;
  if (!core && header_size < kInfoHeaderSize) return BmpFault::kHeaderSize;
  // 64-bit sums: a header size near 4 GiB must not wrap around.
  const std::uint64_t headers_end = std::uint64_t{kFileHeaderSize} + header_size;
  if (headers_end > file.size()) return BmpFault::kHeaderSize;

  std::uint64_t width = 0;
  std::uint64_t height = 0;
  bool top_down = false;
  std::uint16_t planes = 0;
  std::uint16_t bit_count = 0;
  std::uint32_t compression = kUncompressed;
  std::uint64_t table_bytes = 0;
  if (core) {
    // The core header's sizes are unsigned 16-bit: always bottom-up. Its
    // colour table has one 3-byte entry per possible index.
    width = U16(file, 18);
    height = U16(file, 20);
    planes = U16(file, 22);
    bit_count = U16(file, 24);
    table_bytes = 256 * 3;
  } else {
    const std::int32_t w = I32(file, 18);
    const std::int32_t h = I32(file, 22);
    // Bad sizes stay 0 and are refused after planes, depth and compression,
    // so that a 24-bit file is refused for its depth whatever its sizes.
    if (w > 0 && h != 0 && h != std::numeric_limits<std::int32_t>::min()) {
      width = static_cast<std::uint64_t>(w);
      height = static_cast<std::uint64_t>(h < 0 ? -h : h);
      top_down = h < 0;
    }
    planes = U16(file, 26);
    bit_count = U16(file, 28);
    compression = U32(file, 30);
    const std::uint32_t colours_used = U32(file, 46);
    table_bytes = std::uint64_t{colours_used == 0 ? 256u : colours_used} * 4;
  }
  if (planes != 1) return BmpFault::kPlanes;
  if (bit_count != 8) return BmpFault::kBitDepth;
  if (compression != kUncompressed) return BmpFault::kCompression;
  if (width == 0 || height == 0) return BmpFault::kDimensions;

  // The file header says where the rows start; that is what places them
  // correctly when a writer leaves a gap or shortens the colour table. Only
  // a writer that left the field 0 gets the rows right after the table.
  std::uint64_t pixels_at = data_offset;
  if (data_offset == 0) {
    pixels_at = headers_end + table_bytes;
  } else if (data_offset < headers_end) {
    return BmpFault::kPixelOffset;
  }

  // Every row but the last must be there with its padding; the last one
  // needs only its pixels, as some writers drop the final padding.
  const std::uint64_t stride = (width + 3) & ~std::uint64_t{3};
  const std::uint64_t needed = pixels_at + stride * (height - 1) + width;
  if (needed > file.size()) return BmpFault::kTruncated;

  layout.width = static_cast<std::int32_t>(width);
  layout.height = static_cast<std::int32_t>(height);
  layout.pixel_offset = static_cast<std::size_t>(pixels_at);
  layout.stride = static_cast<std::size_t>(stride);
  layout.top_down = top_down;
  return BmpFault::kNone;
}

void CopyGrayRows(std::span<const std::uint8_t> file, const GrayBmpLayout& layout,
                  std::span<std::uint8_t> pixels) {
  const auto width = static_cast<std::size_t>(layout.width);
  for (std::int32_t row = 0; row < layout.height; ++row) {
    const auto source = file.subspan(layout.RowOffset(row), width);
    const auto target = pixels.subspan(static_cast<std::size_t>(row) * width, width);
    std::memcpy(target.data(), source.data(), width);
  }
}

BmpFault DecodeGrayBmp(std::span<const std::uint8_t> file, GrayPicture& picture) {
  GrayBmpLayout layout;
  if (const BmpFault fault = ParseGrayBmp(file, layout); fault != BmpFault::kNone) return fault;
  std::vector<std::uint8_t> pixels(layout.PixelCount());
  CopyGrayRows(file, layout, pixels);
  picture.width = layout.width;
  picture.height = layout.height;
  picture.pixels = std::move(pixels);
  return BmpFault::kNone;
}

}  // namespace dactyra
