// Reading 8-bit uncompressed BMP files as gray pictures: the palette index of
// every pixel is its gray level and the colour table is never looked at.
//
// The decoder works on the file's bytes alone, never reads outside them and
// never allocates more than the file can hold: a header's sizes are trusted
// only once the pixel rows they describe are known to lie inside the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace dactyra {

// Why a file was refused.
enum class BmpFault : std::uint8_t {
  kNone,
  kTooShort,     // shorter than the file header and the header size field
  kSignature,    // does not begin with "BM"
  kHeaderSize,   // info header neither 12 bytes nor 40 or more, or past the end
  kPlanes,       // planes other than 1
  kBitDepth,     // not 8 bits per pixel
  kCompression,  // pixel data not stored uncompressed
  kDimensions,   // width or height zero, negative width, or out of range
  kPixelOffset,  // pixel data said to start inside the headers
  kTruncated,    // the rows do not fit in the file
};

// Where the rows of an accepted file lie. Row r (0 = top) of the picture is
// the first `width` bytes at `RowOffset(r)`.
struct GrayBmpLayout {
  std::int32_t width = 0;
  std::int32_t height = 0;       // always positive
  std::size_t pixel_offset = 0;  // first stored row
  std::size_t stride = 0;        // stored row length, a multiple of 4
  bool top_down = false;         // rows stored top row first

  std::size_t RowOffset(std::int32_t row) const {
    const auto stored = static_cast<std::size_t>(top_down ? row : height - 1 - row);
    return pixel_offset + stored * stride;
  }
  std::size_t PixelCount() const {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  }
};

// Checks the headers and finds the rows. On success `layout` describes rows
// that lie wholly inside `file`; on failure `layout` is left unchanged.
BmpFault ParseGrayBmp(std::span<const std::uint8_t> file, GrayBmpLayout& layout);

// Copies the picture, top row first and without padding, into `pixels`, which
// must hold exactly `layout.PixelCount()` bytes. `layout` must come from
// ParseGrayBmp over the same `file`.
void CopyGrayRows(std::span<const std::uint8_t> file, const GrayBmpLayout& layout,
                  std::span<std::uint8_t> pixels);

// A decoded picture: width × height palette indices, top row first.
struct GrayPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> pixels;
};

// ParseGrayBmp and CopyGrayRows in one step; `picture` is changed only on
// success.
BmpFault DecodeGrayBmp(std::span<const std::uint8_t> file, GrayPicture& picture);

}  // namespace dactyra
