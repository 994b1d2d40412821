// Header handling of the decoder on files built here field by field.
#include "imaging/bmp_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace dactyra {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& b, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) b.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

// An 8-bit file with a 40-byte header and `colours` table entries; pixel i of
// the picture (top row first) is (i * 7 + 3) & 0xFF, padding bytes are 0xEE.
struct FileSpec {
  std::int32_t width = 5;
  std::int32_t height = 3;
  std::uint32_t colours = 4;
  std::uint32_t gap = 0;  // bytes between colour table and rows
};

Bytes Pixel(const FileSpec& s) {
  Bytes p(static_cast<std::size_t>(s.width) * static_cast<std::size_t>(std::abs(s.height)));
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return p;
}

Bytes Build(const FileSpec& s) {
  const std::size_t rows = static_cast<std::size_t>(std::abs(s.height));
  const std::size_t stride = (static_cast<std::size_t>(s.width) + 3) / 4 * 4;
  const std::size_t offset = 54 + 4 * s.colours + s.gap;
  Bytes b(offset + stride * rows, 0xEE);
  b[0] = 'B';
  b[1] = 'M';
  Put(b, 2, static_cast<std::uint32_t>(b.size()), 4);
  Put(b, 6, 0, 4);
  Put(b, 10, static_cast<std::uint32_t>(offset), 4);
  Put(b, 14, 40, 4);
  Put(b, 18, static_cast<std::uint32_t>(s.width), 4);
  Put(b, 22, static_cast<std::uint32_t>(s.height), 4);
  Put(b, 26, 1, 2);
  Put(b, 28, 8, 2);
  Put(b, 30, 0, 4);
  Put(b, 34, static_cast<std::uint32_t>(stride * rows), 4);
  Put(b, 38, 0, 4);
  Put(b, 42, 0, 4);
  Put(b, 46, s.colours, 4);
  Put(b, 50, 0, 4);
  const Bytes pixels = Pixel(s);
  for (std::size_t r = 0; r < rows; ++r) {
    const std::size_t stored = s.height < 0 ? r : rows - 1 - r;
    for (std::int32_t x = 0; x < s.width; ++x)
      b[offset + stored * stride + x] = pixels[r * s.width + x];
  }
  return b;
}

BmpFault Decode(const Bytes& file, GrayPicture& picture) {
  // An exactly sized copy: AddressSanitizer catches any read past the end.
  auto exact = std::make_unique<std::uint8_t[]>(file.size());
  std::copy(file.begin(), file.end(), exact.get());
  return DecodeGrayBmp({exact.get(), file.size()}, picture);
}

BmpFault Fault(const Bytes& file) {
  GrayPicture picture;
  return Decode(file, picture);
}

TEST(BmpDecoder, ZeroPixelOffsetMeansRightAfterTheColourTable) {
  for (std::uint32_t colours : {2u, 0u}) {
    FileSpec s;
    s.colours = colours == 0 ? 256 : colours;
    Bytes file = Build(s);
    Put(file, 10, 0, 4);
    Put(file, 46, colours, 4);
    GrayPicture picture;
    ASSERT_EQ(Decode(file, picture), BmpFault::kNone) << colours;
    EXPECT_EQ(picture.pixels, Pixel(s));
  }
}

TEST(BmpDecoder, PixelOffsetInsideTheHeadersIsRefused) {
  Bytes file = Build({});
  Put(file, 10, 53, 4);
  EXPECT_EQ(Fault(file), BmpFault::kPixelOffset);
  Put(file, 10, 54, 4);  // colour table overlapping the rows is harmless
  EXPECT_EQ(Fault(file), BmpFault::kNone);
}

TEST(BmpDecoder, CoreHeaderWithThreeByteEntries) {
  const std::int32_t width = 6, height = 2;
  const std::size_t offset = 14 + 12 + 256 * 3;
  Bytes file(offset + 8 * height, 0);
  file[0] = 'B';
  file[1] = 'M';
  Put(file, 10, static_cast<std::uint32_t>(offset), 4);
  Put(file, 14, 12, 4);
  Put(file, 18, width, 2);
  Put(file, 20, height, 2);
  Put(file, 22, 1, 2);
  Put(file, 24, 8, 2);
  for (int i = 0; i < 8 * height; ++i) file[offset + i] = static_cast<std::uint8_t>(i);
  GrayPicture picture;
  ASSERT_EQ(Decode(file, picture), BmpFault::kNone);
  EXPECT_EQ(picture.width, width);
  EXPECT_EQ(picture.height, height);
  EXPECT_EQ(picture.pixels, (Bytes{8, 9, 10, 11, 12, 13, 0, 1, 2, 3, 4, 5}));
  Put(file, 10, 0, 4);  // no offset: 256 entries of 3 bytes are skipped
  ASSERT_EQ(Decode(file, picture), BmpFault::kNone);
  EXPECT_EQ(picture.pixels[0], 8);
}

TEST(BmpDecoder, HeaderSizes) {
  FileSpec s;
  s.gap = 200;  // room for the longest header before the rows
  Bytes file = Build(s);
  for (std::uint32_t size : {0u, 11u, 13u, 16u, 39u, 0xFFFFFFFFu, 0xFFFFFFF2u}) {
    Put(file, 14, size, 4);
    EXPECT_EQ(Fault(file), BmpFault::kHeaderSize) << size;
  }
  // Larger headers (V4, V5, OS/2 2.x) are accepted as long as they fit.
  for (std::uint32_t size : {41u, 64u, 108u, 124u}) {
    Put(file, 14, size, 4);
    EXPECT_EQ(Fault(file), BmpFault::kNone) << size;
  }
  Put(file, 14, static_cast<std::uint32_t>(file.size() - 13), 4);
  EXPECT_EQ(Fault(file), BmpFault::kHeaderSize);
}

TEST(BmpDecoder, SignatureAndShortInputs) {
  EXPECT_EQ(Fault({}), BmpFault::kTooShort);
  EXPECT_EQ(Fault({'B'}), BmpFault::kTooShort);
  EXPECT_EQ(Fault({'B', 'M'}), BmpFault::kTooShort);
  EXPECT_EQ(Fault({'M', 'B', 0, 0}), BmpFault::kSignature);
  Bytes file = Build({});
  file[1] = 'A';
  EXPECT_EQ(Fault(file), BmpFault::kSignature);
  file = Build({});
  EXPECT_EQ(Fault(Bytes(file.begin(), file.begin() + 17)), BmpFault::kTooShort);
  EXPECT_EQ(Fault(Bytes(file.begin(), file.begin() + 53)), BmpFault::kHeaderSize);
}

TEST(BmpDecoder, PlanesDepthAndCompression) {
  Bytes file = Build({});
  Put(file, 26, 2, 2);
  EXPECT_EQ(Fault(file), BmpFault::kPlanes);
  Put(file, 26, 1, 2);
  for (std::uint32_t bits : {0u, 1u, 4u, 16u, 24u, 32u, 9u}) {
    Put(file, 28, bits, 2);
    EXPECT_EQ(Fault(file), BmpFault::kBitDepth) << bits;
  }
  Put(file, 28, 8, 2);
  for (std::uint32_t compression : {1u, 2u, 3u, 4u, 5u, 6u}) {
    Put(file, 30, compression, 4);
    EXPECT_EQ(Fault(file), BmpFault::kCompression) << compression;
  }
}

TEST(BmpDecoder, BadDimensions) {
  const std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  for (auto [w, h] : {std::pair{0, 3}, std::pair{-5, 3}, std::pair{5, 0}, std::pair{5, kMin},
                      std::pair{kMin, 3}}) {
    Bytes file = Build({});
    Put(file, 18, static_cast<std::uint32_t>(w), 4);
    Put(file, 22, static_cast<std::uint32_t>(h), 4);
    EXPECT_EQ(Fault(file), BmpFault::kDimensions) << w << "x" << h;
  }
}

// Sizes that would ask for terabytes are refused from the file length alone.
TEST(BmpDecoder, HugeSizesInASmallFileAreRefusedWithoutAllocating) {
  Bytes file = Build({});
  file.resize(24 * 1024, 0);
  const std::pair<std::int32_t, std::int32_t> sizes[] = {
      {3000000, 2000000},
      {3000000, -2000000},
      {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max()},
      {std::numeric_limits<std::int32_t>::max(), 1},
      {1, std::numeric_limits<std::int32_t>::max()}};
  for (auto [w, h] : sizes) {
    Put(file, 18, static_cast<std::uint32_t>(w), 4);
    Put(file, 22, static_cast<std::uint32_t>(h), 4);
    EXPECT_EQ(Fault(file), BmpFault::kTruncated) << w << "x" << h;
  }
  Put(file, 18, 5, 4);
  Put(file, 22, 3, 4);
  Put(file, 10, 0xFFFFFFF0u, 4);
  EXPECT_EQ(Fault(file), BmpFault::kTruncated);
}

TEST(BmpDecoder, LastRowMayLackItsPadding) {
  const Bytes file = Build({});  // 5 wide: 3 padding bytes per row
  GrayPicture picture;
  EXPECT_EQ(Decode(Bytes(file.begin(), file.end() - 3), picture), BmpFault::kNone);
  EXPECT_EQ(picture.pixels, Pixel({}));
  EXPECT_EQ(Fault(Bytes(file.begin(), file.end() - 4)), BmpFault::kTruncated);
}

TEST(BmpDecoder, FailureLeavesOutputsUnchanged) {
  Bytes file = Build({});
  Put(file, 28, 24, 2);
  GrayBmpLayout layout;
  layout.width = 11;
  layout.pixel_offset = 99;
  EXPECT_EQ(ParseGrayBmp(file, layout), BmpFault::kBitDepth);
  EXPECT_EQ(layout.width, 11);
  EXPECT_EQ(layout.pixel_offset, 99u);
  GrayPicture picture{2, 1, {4, 5}};
  EXPECT_EQ(Decode(file, picture), BmpFault::kBitDepth);
  EXPECT_EQ(picture.width, 2);
  EXPECT_EQ(picture.height, 1);
  EXPECT_EQ(picture.pixels, (Bytes{4, 5}));
}

}  // namespace
}  // namespace dactyra
