// Gray images: creation with checked sizes, copies and assignment.
#include "imaging/gray_image.h"

#include <algorithm>
#include <limits>
#include <new>
#include <string>

#include "support/exception.h"

namespace dactyra {

TByteGrid::TByteGrid(std::int32_t width, std::int32_t height) {
  if (width < 0 || height < 0) {
    throw Exception(u"Dimensões de imagem inválidas: " +
                    platform::FromUtf8(std::to_string(width) + " x " + std::to_string(height)));
  }
  // Pixels leave the library as one buffer of Width × Height bytes with a
  // 32-bit signed length.
  if (static_cast<std::int64_t>(width) * height > std::numeric_limits<std::int32_t>::max()) {
    throw std::bad_alloc();
  }
  width_ = static_cast<std::size_t>(width);
  data_.resize(width_ * static_cast<std::size_t>(height));
}

TGrayImage::TGrayImage(std::int32_t width, std::int32_t height, std::int32_t resolution)
    : Width(width), Height(height), Resolution(resolution), Bits(width, height) {}

GrayImagePtr CreateGrayImage(std::int32_t Width, std::int32_t Height, std::int32_t Resolution) {
  return std::make_unique<TGrayImage>(Width, Height, Resolution);
}

GrayImagePtr CopyGrayImage(const TGrayImage* image) {
  if (!image) return nullptr;
  GrayImagePtr copy = CreateGrayImage(image->Width, image->Height, image->Resolution);
  std::ranges::copy(image->Bits.Pixels(), copy->Bits.Pixels().begin());
  return copy;
}

void AssignGrayImage(const TGrayImage* source, GrayImagePtr& target) {
  if (!source) throw Exception(u"Imagem de origem não informada.");
  if (source == target.get()) return;
  if (target && target->Width == source->Width && target->Height == source->Height) {
    target->Resolution = source->Resolution;
    std::ranges::copy(source->Bits.Pixels(), target->Bits.Pixels().begin());
    return;
  }
  // The copy is made before the old image goes, so that a failure leaves the
  // target as it was.
  target = CopyGrayImage(source);
}

}  // namespace dactyra
