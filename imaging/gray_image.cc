#include "imaging/gray_image.h"

#include <algorithm>
#include <limits>
#include <new>
#include <string>

#include "support/exception.h"

namespace dactyra {

namespace {

TByteGrid NewGrid(std::int32_t width, std::int32_t height) {
  if (width < 0 || height < 0) {
    throw Exception(u"Dimensões de imagem inválidas: " +
                    platform::FromUtf8(std::to_string(width) + " x " + std::to_string(height)));
  }
  // Pixels leave the library as one buffer of Width × Height bytes with a
  // 32-bit signed length.
  if (static_cast<std::int64_t>(width) * height > std::numeric_limits<std::int32_t>::max()) {
    throw std::bad_alloc();
  }
  return TByteGrid(static_cast<std::size_t>(height),
                   std::vector<std::uint8_t>(static_cast<std::size_t>(width), 0));
}

template <typename Image>
Image* NewImage(std::int32_t width, std::int32_t height, std::int32_t resolution) {
  // The grid is built first, so that a failure leaves nothing behind.
  TByteGrid bits = NewGrid(width, height);
  auto image = std::make_unique<Image>();
  image->Width = width;
  image->Height = height;
  image->Resolution = resolution;
  image->Bits = std::move(bits);
  return image.release();
}

// Rows 0 to Height - 1, bytes 0 to Width - 1 of each. The fields are open to
// every holder, so the rows actually present bound the copy.
template <typename Target>
void CopyPixels(const TGrayImage& source, Target& target) {
  const std::size_t rows = std::min({static_cast<std::size_t>(std::max(source.Height, 0)),
                                     source.Bits.size(), target.Bits.size()});
  for (std::size_t y = 0; y < rows; ++y) {
    const auto& from = source.Bits[y];
    auto& to = target.Bits[y];
    const std::size_t bytes =
        std::min({static_cast<std::size_t>(std::max(source.Width, 0)), from.size(), to.size()});
    std::copy_n(from.begin(), bytes, to.begin());
  }
}

}  // namespace

PGrayImage CreateGrayImage(std::int32_t Width, std::int32_t Height, std::int32_t Resolution) {
  return NewImage<TGrayImage>(Width, Height, Resolution);
}

void FreeGrayImage(PGrayImage image) { std::unique_ptr<TGrayImage> owned(image); }

PGrayImage CopyGrayImage(const TGrayImage* image) {
  if (!image) return nullptr;
  GrayImagePtr copy(CreateGrayImage(image->Width, image->Height, image->Resolution));
  CopyPixels(*image, *copy);
  return copy.release();
}

void AssignGrayImage(const TGrayImage* source, PGrayImage& target) {
  if (!source) throw Exception(u"Imagem de origem não informada.");
  if (source == target) return;
  if (target && target->Width == source->Width && target->Height == source->Height) {
    target->Resolution = source->Resolution;
    CopyPixels(*source, *target);
    return;
  }
  // The copy is made before the old image goes, so that a failure leaves the
  // target as it was.
  PGrayImage copy = CopyGrayImage(source);
  FreeGrayImage(target);
  target = copy;
}

namespace bibgi {

PGrayImage CreateGrayImage(std::int32_t Width, std::int32_t Height, std::int32_t Resolution) {
  return NewImage<TGrayImage>(Width, Height, Resolution);
}

void FreeGrayImage(PGrayImage image) { std::unique_ptr<TGrayImage> owned(image); }

PGrayImage CopyGrayImage(const dactyra::TGrayImage* image) {
  if (!image) return nullptr;
  GrayImagePtr copy(CreateGrayImage(image->Width, image->Height, image->Resolution));
  CopyPixels(*image, *copy);
  return copy.release();
}

}  // namespace bibgi

}  // namespace dactyra
