#include "imaging/gray_image.h"

#include <gtest/gtest.h>

#include <new>
#include <type_traits>

#include "support/exception.h"

namespace dactyra {
namespace {

GrayImagePtr Picture(std::int32_t width, std::int32_t height, std::int32_t resolution,
                     std::uint8_t seed) {
  GrayImagePtr image = CreateGrayImage(width, height, resolution);
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x)
      image->Bits[y][x] = static_cast<std::uint8_t>(seed + 7 * x + 13 * y);
  return image;
}

void ExpectSamePixels(const TGrayImage& a, const TGrayImage& b) {
  ASSERT_EQ(a.Width, b.Width);
  ASSERT_EQ(a.Height, b.Height);
  EXPECT_TRUE(a.Bits == b.Bits);
}

// The size of an image and of its pixels cannot be changed apart: neither the
// fields nor the grid can be assigned, and an image is copied only through
// CopyGrayImage (which resets the reader type).
static_assert(!std::is_assignable_v<decltype((std::declval<TGrayImage&>().Width)), int>);
static_assert(!std::is_assignable_v<decltype((std::declval<TGrayImage&>().Height)), int>);
static_assert(!std::is_copy_assignable_v<TByteGrid> && !std::is_move_assignable_v<TByteGrid>);
static_assert(!std::is_copy_constructible_v<TGrayImage>);

TEST(GrayImage, CreateSizesOneBlockRowAfterRowAndZeroesEveryPixel) {
  GrayImagePtr image = CreateGrayImage(5, 3, 500);
  EXPECT_EQ(image->Width, 5);
  EXPECT_EQ(image->Height, 3);
  EXPECT_EQ(image->Resolution, 500);
  EXPECT_EQ(image->TipoLeitor, 0);
  ASSERT_EQ(image->Bits.Pixels().size(), 15u);
  for (std::uint8_t pixel : image->Bits.Pixels()) EXPECT_EQ(pixel, 0);
  // Row y begins y × Width bytes into the block.
  for (std::size_t y = 0; y < 3; ++y) {
    EXPECT_EQ(image->Bits[y].size(), 5u);
    EXPECT_EQ(image->Bits[y].data(), image->Bits.Pixels().data() + 5 * y);
  }
}

TEST(GrayImage, EmptyImagesWorkThroughout) {
  for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 4}, std::pair{4, 0}}) {
    GrayImagePtr image = CreateGrayImage(w, h, 440);
    GrayImagePtr copy = CopyGrayImage(image.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Width, w);
    EXPECT_EQ(copy->Height, h);
    EXPECT_TRUE(copy->Bits.Pixels().empty());
    GrayImagePtr target;
    AssignGrayImage(image.get(), target);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->Width, w);
  }
}

TEST(GrayImage, BadSizesAreRefusedWithoutLeavingAnything) {
  EXPECT_THROW(CreateGrayImage(-1, 3, 500), Exception);
  EXPECT_THROW(CreateGrayImage(3, -1, 500), Exception);
  EXPECT_THROW(CreateGrayImage(-5, 2, 500), Exception);
  // More pixels than one buffer with a 32-bit length can carry.
  EXPECT_THROW(CreateGrayImage(65536, 65536, 500), std::bad_alloc);
}

TEST(GrayImage, CopyOfNullIsNull) { EXPECT_EQ(CopyGrayImage(nullptr), nullptr); }

TEST(GrayImage, CopyHasTheSamePictureAndReaderTypeZero) {
  GrayImagePtr source = Picture(7, 4, 500, 3);
  source->TipoLeitor = 9;
  GrayImagePtr copy = CopyGrayImage(source.get());
  ASSERT_NE(copy.get(), source.get());
  EXPECT_EQ(copy->Resolution, 500);
  EXPECT_EQ(copy->TipoLeitor, 0);
  ExpectSamePixels(*copy, *source);
  // The pixels are its own.
  source->Bits[0][0] ^= 0xFF;
  EXPECT_NE(copy->Bits[0][0], source->Bits[0][0]);
}

TEST(GrayImage, AssignOntoTheSameSizeReusesTheTarget) {
  GrayImagePtr source = Picture(6, 5, 500, 1);
  GrayImagePtr target = CreateGrayImage(6, 5, 440);
  target->TipoLeitor = 3;
  const TGrayImage* before = target.get();
  const auto* pixels_before = target->Bits.Pixels().data();
  AssignGrayImage(source.get(), target);
  EXPECT_EQ(target.get(), before);
  EXPECT_EQ(target->Bits.Pixels().data(), pixels_before);
  EXPECT_EQ(target->TipoLeitor, 3);
  EXPECT_EQ(target->Resolution, 500);
  ExpectSamePixels(*target, *source);
}

TEST(GrayImage, AssignOntoNullOrAnotherSizeStoresAFreshCopy) {
  GrayImagePtr source = Picture(6, 5, 500, 2);
  source->TipoLeitor = 4;
  GrayImagePtr target;
  AssignGrayImage(source.get(), target);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->TipoLeitor, 0);
  ExpectSamePixels(*target, *source);

  // Same pixel count, other shape: still a new record. (ASan reports the old
  // one should it leak.)
  for (auto [w, h] : {std::pair{5, 6}, std::pair{6, 4}, std::pair{7, 5}}) {
    target = CreateGrayImage(w, h, 440);
    target->TipoLeitor = 8;
    AssignGrayImage(source.get(), target);
    EXPECT_EQ(target->TipoLeitor, 0);
    EXPECT_EQ(target->Resolution, 500);
    ExpectSamePixels(*target, *source);
  }
}

TEST(GrayImage, AssignRefusesANullSourceAndToleratesItself) {
  GrayImagePtr target = CreateGrayImage(2, 2, 440);
  const TGrayImage* before = target.get();
  EXPECT_THROW(AssignGrayImage(nullptr, target), Exception);
  EXPECT_EQ(target.get(), before);
  target->Bits[1][1] = 77;
  AssignGrayImage(target.get(), target);
  EXPECT_EQ(target.get(), before);
  EXPECT_EQ(target->Bits[1][1], 77);
}

}  // namespace
}  // namespace dactyra
