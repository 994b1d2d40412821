#include "imaging/gray_image.h"

#include <gtest/gtest.h>

#include <new>

#include "support/exception.h"

namespace dactyra {
namespace {

GrayImagePtr Picture(std::int32_t width, std::int32_t height, std::int32_t resolution,
                     std::uint8_t seed) {
  GrayImagePtr image(CreateGrayImage(width, height, resolution));
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width; ++x)
      image->Bits[y][x] = static_cast<std::uint8_t>(seed + 7 * x + 13 * y);
  return image;
}

void ExpectSamePixels(const TGrayImage& a, const TGrayImage& b) {
  ASSERT_EQ(a.Width, b.Width);
  ASSERT_EQ(a.Height, b.Height);
  EXPECT_EQ(a.Bits, b.Bits);
}

TEST(GrayImage, CreateSizesEveryRowAndZeroesEveryPixel) {
  GrayImagePtr image(CreateGrayImage(5, 3, 500));
  EXPECT_EQ(image->Width, 5);
  EXPECT_EQ(image->Height, 3);
  EXPECT_EQ(image->Resolution, 500);
  EXPECT_EQ(image->TipoLeitor, 0);
  ASSERT_EQ(image->Bits.size(), 3u);
  for (const auto& row : image->Bits) EXPECT_EQ(row, std::vector<std::uint8_t>(5, 0));
}

TEST(GrayImage, EmptyImagesWorkThroughout) {
  for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 4}, std::pair{4, 0}}) {
    PGrayImage image = CreateGrayImage(w, h, 440);
    PGrayImage copy = CopyGrayImage(image);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Width, w);
    EXPECT_EQ(copy->Height, h);
    EXPECT_EQ(copy->Bits.size(), static_cast<size_t>(h));
    PGrayImage target = nullptr;
    AssignGrayImage(image, target);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->Width, w);
    FreeGrayImage(target);
    FreeGrayImage(copy);
    FreeGrayImage(image);
  }
}

TEST(GrayImage, BadSizesAreRefusedWithoutLeavingAnything) {
  EXPECT_THROW(CreateGrayImage(-1, 3, 500), Exception);
  EXPECT_THROW(CreateGrayImage(3, -1, 500), Exception);
  EXPECT_THROW(bibgi::CreateGrayImage(-5, 2, 500), Exception);
  // More pixels than one buffer with a 32-bit length can carry.
  EXPECT_THROW(CreateGrayImage(65536, 65536, 500), std::bad_alloc);
}

TEST(GrayImage, NullIsIgnoredByFreeAndCopy) {
  FreeGrayImage(nullptr);
  bibgi::FreeGrayImage(nullptr);
  EXPECT_EQ(CopyGrayImage(nullptr), nullptr);
  EXPECT_EQ(bibgi::CopyGrayImage(nullptr), nullptr);
}

TEST(GrayImage, CopyHasTheSamePictureAndReaderTypeZero) {
  GrayImagePtr source = Picture(7, 4, 500, 3);
  source->TipoLeitor = 9;
  GrayImagePtr copy(CopyGrayImage(source.get()));
  ASSERT_NE(copy.get(), source.get());
  EXPECT_EQ(copy->Resolution, 500);
  EXPECT_EQ(copy->TipoLeitor, 0);
  ExpectSamePixels(*copy, *source);
  // The rows are its own.
  source->Bits[0][0] ^= 0xFF;
  EXPECT_NE(copy->Bits[0][0], source->Bits[0][0]);
}

TEST(GrayImage, AssignOntoTheSameSizeReusesTheTarget) {
  GrayImagePtr source = Picture(6, 5, 500, 1);
  PGrayImage target = CreateGrayImage(6, 5, 440);
  target->TipoLeitor = 3;
  const PGrayImage before = target;
  const auto* row_before = target->Bits[0].data();
  AssignGrayImage(source.get(), target);
  EXPECT_EQ(target, before);
  EXPECT_EQ(target->Bits[0].data(), row_before);
  EXPECT_EQ(target->TipoLeitor, 3);
  EXPECT_EQ(target->Resolution, 500);
  ExpectSamePixels(*target, *source);
  FreeGrayImage(target);
}

TEST(GrayImage, AssignOntoNullOrAnotherSizeStoresAFreshCopy) {
  GrayImagePtr source = Picture(6, 5, 500, 2);
  source->TipoLeitor = 4;
  PGrayImage target = nullptr;
  AssignGrayImage(source.get(), target);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->TipoLeitor, 0);
  ExpectSamePixels(*target, *source);
  FreeGrayImage(target);

  // Same pixel count, other shape: still a new record. (ASan reports the old
  // one should it leak.)
  for (auto [w, h] : {std::pair{5, 6}, std::pair{6, 4}, std::pair{7, 5}}) {
    target = CreateGrayImage(w, h, 440);
    target->TipoLeitor = 8;
    AssignGrayImage(source.get(), target);
    EXPECT_EQ(target->TipoLeitor, 0);
    EXPECT_EQ(target->Resolution, 500);
    ExpectSamePixels(*target, *source);
    FreeGrayImage(target);
  }
}

TEST(GrayImage, AssignRefusesANullSourceAndToleratesItself) {
  PGrayImage target = CreateGrayImage(2, 2, 440);
  const PGrayImage before = target;
  EXPECT_THROW(AssignGrayImage(nullptr, target), Exception);
  EXPECT_EQ(target, before);
  target->Bits[1][1] = 77;
  AssignGrayImage(target, target);
  EXPECT_EQ(target, before);
  EXPECT_EQ(target->Bits[1][1], 77);
  FreeGrayImage(target);
}

TEST(GrayImage, CopyingRecordsWhoseRowsDisagreeWithTheirSizeStaysInside) {
  // The fields are open; a holder that shrank the rows must not make a copy
  // read or write past them.
  GrayImagePtr source = Picture(8, 3, 500, 5);
  source->Bits[1].resize(2);
  source->Bits.pop_back();
  GrayImagePtr copy(CopyGrayImage(source.get()));
  EXPECT_EQ(copy->Bits[0], source->Bits[0]);
  EXPECT_EQ(copy->Bits[1][1], source->Bits[1][1]);
  EXPECT_EQ(copy->Bits[1][2], 0);
  EXPECT_EQ(copy->Bits[2], std::vector<std::uint8_t>(8, 0));
}

TEST(ShortGrayImage, CopyOfTheFullFormKeepsSizeResolutionAndPixels) {
  GrayImagePtr source = Picture(9, 4, 440, 6);
  source->TipoLeitor = 2;
  bibgi::GrayImagePtr copy(bibgi::CopyGrayImage(source.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Width, 9);
  EXPECT_EQ(copy->Height, 4);
  EXPECT_EQ(copy->Resolution, 440);
  EXPECT_EQ(copy->Bits, source->Bits);

  bibgi::GrayImagePtr fresh(bibgi::CreateGrayImage(3, 2, 500));
  EXPECT_EQ(fresh->Bits, bibgi::TByteGrid(2, std::vector<std::uint8_t>(3, 0)));
}

}  // namespace
}  // namespace dactyra
