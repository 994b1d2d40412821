// The gray image every fingerprint becomes once it has left a capture
// module: one byte of gray level per pixel, 0 black to 255 white.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace dactyra {

// Rows from the top, each a separate array of Width bytes without padding;
// a pixel is Bits[y][x].
using TByteGrid = std::vector<std::vector<std::uint8_t>>;

struct TGrayImage {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  // Dots per inch.
  std::int32_t Resolution = 0;
  TByteGrid Bits;
  // The reader type: 0 when created and never changed by the library.
  std::int32_t TipoLeitor = 0;
};

// Owned by the holder of the pointer, released with FreeGrayImage.
using PGrayImage = TGrayImage*;

// Every pixel 0, TipoLeitor 0. Throws dactyra::Exception for a negative width
// or height and std::bad_alloc when memory runs out or the picture would hold
// more than 2^31 - 1 pixels (it could not travel as one buffer); nothing is
// left allocated then.
PGrayImage CreateGrayImage(std::int32_t Width, std::int32_t Height, std::int32_t Resolution);

// Releases the record and its rows; null is ignored.
void FreeGrayImage(PGrayImage image);

// A new image with the same size, resolution and pixels and TipoLeitor 0;
// null for null.
PGrayImage CopyGrayImage(const TGrayImage* image);

// Makes `target` hold the source's picture. A target of the same width and
// height keeps its record and TipoLeitor and takes the resolution and pixels;
// any other target (null included) is freed and replaced by a copy. A null
// source is refused with dactyra::Exception and leaves the target alone.
void AssignGrayImage(const TGrayImage* source, PGrayImage& target);

// For holders that want the release done for them.
struct GrayImageDeleter {
  void operator()(TGrayImage* image) const { FreeGrayImage(image); }
};
using GrayImagePtr = std::unique_ptr<TGrayImage, GrayImageDeleter>;

// Short form, as the Java-facing scanner keeps its images: the first four
// fields only.
namespace bibgi {

using TByteGrid = dactyra::TByteGrid;

struct TGrayImage {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t Resolution = 0;
  TByteGrid Bits;
};

using PGrayImage = TGrayImage*;

// As the full form's CreateGrayImage, without the reader type.
PGrayImage CreateGrayImage(std::int32_t Width, std::int32_t Height, std::int32_t Resolution);
void FreeGrayImage(PGrayImage image);
// A short-form copy of a full-form image; null for null.
PGrayImage CopyGrayImage(const dactyra::TGrayImage* image);

struct GrayImageDeleter {
  void operator()(TGrayImage* image) const { FreeGrayImage(image); }
};
using GrayImagePtr = std::unique_ptr<TGrayImage, GrayImageDeleter>;

}  // namespace bibgi

}  // namespace dactyra
