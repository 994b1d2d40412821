// The gray image every fingerprint becomes once it has left a capture
// module: one byte of gray level per pixel, 0 black to 255 white.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace dactyra {

// The pixels of one image in one block: Height rows of Width bytes, row 0 at
// the top, without padding, the form in which pixels travel everywhere
// else (plug-in images, Java arrays, the engine), so they are handed on
// without re-packing. A pixel is Bits[y][x]. Its size is fixed when it is
// made and it is neither copied nor assigned, so it always agrees with the
// Width and Height of its image (and an image is copied only through
// CopyGrayImage).
class TByteGrid {
 public:
  TByteGrid(const TByteGrid&) = delete;
  TByteGrid& operator=(const TByteGrid&) = delete;

  // Row y, Width bytes; y must lie below Height.
  std::span<std::uint8_t> operator[](std::size_t y) { return {data_.data() + y * width_, width_}; }
  std::span<const std::uint8_t> operator[](std::size_t y) const {
    return {data_.data() + y * width_, width_};
  }
  // Every row, one after another.
  std::span<std::uint8_t> Pixels() { return data_; }
  std::span<const std::uint8_t> Pixels() const { return data_; }

  friend bool operator==(const TByteGrid&, const TByteGrid&) = default;

 private:
  friend struct TGrayImage;
  // Checks the size before anything is allocated (see TGrayImage).
  TByteGrid(std::int32_t width, std::int32_t height);

  std::size_t width_ = 0;
  std::vector<std::uint8_t> data_;
};

// Made by CreateGrayImage and owned through a GrayImagePtr. The size is
// fixed at creation; the resolution may change (AssignGrayImage).
struct TGrayImage {
  // Every pixel 0, TipoLeitor 0. Throws dactyra::Exception for a negative
  // width or height and std::bad_alloc when memory runs out or the picture
  // would hold more than 2^31 - 1 pixels (it could not travel as one
  // buffer with a 32-bit length).
  TGrayImage(std::int32_t width, std::int32_t height, std::int32_t resolution);

  const std::int32_t Width;
  const std::int32_t Height;
  // Dots per inch.
  std::int32_t Resolution;
  TByteGrid Bits;
  // The reader type: 0 when created and never changed by the library.
  std::int32_t TipoLeitor = 0;
};

// The one owner of an image. Whoever hands an image to a handler or another
// part keeps it; a receiver that keeps it takes a copy.
using GrayImagePtr = std::unique_ptr<TGrayImage>;

GrayImagePtr CreateGrayImage(std::int32_t Width, std::int32_t Height, std::int32_t Resolution);

// A new image with the same size, resolution and pixels and TipoLeitor 0;
// null for null.
GrayImagePtr CopyGrayImage(const TGrayImage* image);

// Makes `target` hold the source's picture. A target of the same width and
// height keeps its record and TipoLeitor and takes the resolution and pixels;
// any other target (null included) is replaced by a copy. A null source is
// refused with dactyra::Exception and leaves the target alone.
void AssignGrayImage(const TGrayImage* source, GrayImagePtr& target);

}  // namespace dactyra
