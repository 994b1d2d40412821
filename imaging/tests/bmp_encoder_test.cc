// The gray bitmap encoder: the exact file layout, its limits, and round trips
// through the decoder.
#include "imaging/bmp_encoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "imaging/bmp_decoder.h"
#include "support/exception.h"

namespace dactyra {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Get(const Bytes& b, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | b.at(at + i);
  return value;
}

Bytes Picture(std::int32_t width, std::int32_t height, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes p(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (auto& v : p) v = static_cast<std::uint8_t>(random());
  return p;
}

Bytes Save(std::int32_t width, std::int32_t height, const Bytes& pixels) {
  Bytes stream;
  SaveGrayBitmap(width, height, pixels, stream);
  return stream;
}

TEST(BmpEncoder, HeadersOf320By365) {
  const Bytes pixels = Picture(320, 365, 1);
  const Bytes file = Save(320, 365, pixels);
  const std::uint32_t s = 320 * 365;
  ASSERT_EQ(file.size(), 1078u + s);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Get(file, 2, 4), 1078u + s);
  EXPECT_EQ(Get(file, 6, 2), 0u);
  EXPECT_EQ(Get(file, 8, 2), 0u);
  EXPECT_EQ(Get(file, 10, 4), 1078u);
  EXPECT_EQ(Get(file, 14, 4), 40u);
  EXPECT_EQ(Get(file, 18, 4), 320u);
  EXPECT_EQ(Get(file, 22, 4), 365u);
  EXPECT_EQ(Get(file, 26, 2), 1u);
  EXPECT_EQ(Get(file, 28, 2), 8u);
  EXPECT_EQ(Get(file, 30, 4), 0u);
  EXPECT_EQ(Get(file, 34, 4), s);
  EXPECT_EQ(Get(file, 38, 4), 0u);
  EXPECT_EQ(Get(file, 42, 4), 0u);
  EXPECT_EQ(Get(file, 46, 4), 256u);
  EXPECT_EQ(Get(file, 50, 4), 0u);
  for (std::uint32_t i = 0; i < 256; ++i) {
    EXPECT_EQ(Get(file, 54 + 4 * i, 4), i | i << 8 | i << 16) << i;
  }
  // Unpadded rows, bottom row first.
  for (std::size_t stored = 0; stored < 365; ++stored) {
    const std::size_t row = 364 - stored;
    ASSERT_TRUE(std::equal(pixels.begin() + row * 320, pixels.begin() + row * 320 + 320,
                           file.begin() + 1078 + stored * 320))
        << stored;
  }
}

TEST(BmpEncoder, ThreeByTwoHasFourByteRows) {
  const Bytes pixels = {1, 2, 3, 4, 5, 6};
  const Bytes file = Save(3, 2, pixels);
  ASSERT_EQ(file.size(), 1086u);
  EXPECT_EQ(Get(file, 2, 4), 1086u);
  EXPECT_EQ(Get(file, 34, 4), 8u);
  EXPECT_EQ(Bytes(file.begin() + 1078, file.end()), (Bytes{4, 5, 6, 0, 1, 2, 3, 0}));
}

TEST(BmpEncoder, EmptyPicturesWriteNothing) {
  for (auto [w, h] : {std::pair{0, 0}, std::pair{0, 5}, std::pair{5, 0}}) {
    EXPECT_EQ(GrayBitmapFileSize(w, h), 0u);
    Bytes stream = {9};
    SaveGrayBitmap(w, h, {}, stream);
    EXPECT_EQ(stream, Bytes{9});
  }
}

TEST(BmpEncoder, BadArgumentsThrowAndLeaveTheStream) {
  const Bytes pixels(12, 7);
  struct Case {
    std::int32_t width, height;
    std::size_t pixels;
  };
  for (const Case c : {Case{-1, 2, 12}, Case{2, -1, 12}, Case{4, 4, 12}, Case{3, 4, 11},
                       Case{65536, 65536, 12}, Case{0x7FFFFFFF, 2, 12}}) {
    Bytes stream = {1, 2};
    EXPECT_THROW(SaveGrayBitmap(c.width, c.height, std::span(pixels).first(c.pixels), stream),
                 Exception)
        << c.width << "x" << c.height;
    EXPECT_EQ(stream, (Bytes{1, 2}));
  }
}

TEST(BmpEncoder, RoundTripsThroughTheDecoder) {
  std::uint32_t seed = 0;
  for (std::int32_t width : {1, 2, 3, 4, 5, 7, 8, 127, 320, 500}) {
    for (std::int32_t height : {1, 2, 3, 365}) {
      const Bytes pixels = Picture(width, height, ++seed);
      const Bytes file = Save(width, height, pixels);
      GrayPicture picture;
      ASSERT_EQ(DecodeGrayBmp(file, picture), BmpFault::kNone) << width << "x" << height;
      EXPECT_EQ(picture.width, width);
      EXPECT_EQ(picture.height, height);
      EXPECT_EQ(picture.pixels, pixels) << width << "x" << height;
    }
  }
}

}  // namespace
}  // namespace dactyra
