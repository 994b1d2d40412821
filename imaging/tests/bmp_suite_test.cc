// The decoder against BMP Suite 2.8. Expected indices come from the test's own
// reading of each file, with the geometry of every good 8-bit file written
// down here rather than parsed, and from the suite's design: many files store
// the same picture in different ways and must give the same indices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "imaging/bmp_decoder.h"

namespace dactyra {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

fs::path SuiteDir() { return fs::path(DACTYRA_BMPSUITE_DIR); }

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct KnownFile {
  const char* name;
  std::int32_t width;
  std::int32_t height;
  std::size_t pixel_offset;
  bool top_down;
};

// Geometry read off the files by hand: pixel offset from the file header,
// rows padded to 4 bytes.
const KnownFile kGood8Bit[] = {
    {"g/pal8-0.bmp", 127, 64, 1078, false},   {"g/pal8.bmp", 127, 64, 1062, false},
    {"g/pal8gs.bmp", 127, 64, 1062, false},   {"g/pal8nonsquare.bmp", 127, 32, 1062, false},
    {"g/pal8os2.bmp", 127, 64, 794, false},   {"g/pal8topdown.bmp", 127, 64, 1062, true},
    {"g/pal8v4.bmp", 127, 64, 1130, false},   {"g/pal8v5.bmp", 127, 64, 1146, false},
    {"g/pal8w124.bmp", 124, 61, 1062, false}, {"g/pal8w125.bmp", 125, 62, 1062, false},
    {"g/pal8w126.bmp", 126, 63, 1062, false}, {"b/pal8badindex.bmp", 127, 64, 458, false},
};

// Questionable and bad files that hold g/pal8.bmp's picture, 8-bit and
// uncompressed: a gap before the rows, a short OS/2 colour table, wrong size
// fields, an oversized or absurd colours-used count.
const char* const kSameAsPal8[] = {
    "g/pal8-0.bmp",          "g/pal8os2.bmp",        "g/pal8topdown.bmp",  "g/pal8v4.bmp",
    "g/pal8v5.bmp",          "q/pal8offs.bmp",       "q/pal8os2-hs.bmp",   "q/pal8os2-sz.bmp",
    "q/pal8os2sp.bmp",       "q/pal8os2v2-40sz.bmp", "q/pal8os2v2-sz.bmp", "q/pal8os2v2.bmp",
    "q/pal8oversizepal.bmp", "b/badpalettesize.bmp",
};

Bytes ExpectedIndices(const Bytes& file, const KnownFile& known) {
  const std::size_t stride = (static_cast<std::size_t>(known.width) + 3) / 4 * 4;
  Bytes out;
  for (std::int32_t y = 0; y < known.height; ++y) {
    const std::size_t stored = known.top_down ? y : known.height - 1 - y;
    const std::size_t at = known.pixel_offset + stored * stride;
    for (std::int32_t x = 0; x < known.width; ++x) out.push_back(file.at(at + x));
  }
  return out;
}

GrayPicture MustDecode(const std::string& name) {
  const Bytes file = ReadFile(SuiteDir() / name);
  GrayPicture picture;
  EXPECT_EQ(DecodeGrayBmp(file, picture), BmpFault::kNone) << name;
  return picture;
}

TEST(BmpSuite, IsPresent) {
  ASSERT_TRUE(fs::is_regular_file(SuiteDir() / "g/pal8.bmp"))
      << "BMP Suite not found at " << SuiteDir() << " (set DACTYRA_BMPSUITE)";
}

TEST(BmpSuite, Good8BitFilesLoadTheirStoredIndices) {
  for (const KnownFile& known : kGood8Bit) {
    SCOPED_TRACE(known.name);
    const Bytes file = ReadFile(SuiteDir() / known.name);
    GrayPicture picture;
    ASSERT_EQ(DecodeGrayBmp(file, picture), BmpFault::kNone);
    EXPECT_EQ(picture.width, known.width);
    EXPECT_EQ(picture.height, known.height);
    EXPECT_EQ(picture.pixels, ExpectedIndices(file, known));
  }
}

TEST(BmpSuite, VariantsOfOnePictureGiveOneBuffer) {
  const GrayPicture reference = MustDecode("g/pal8.bmp");
  ASSERT_EQ(reference.pixels.size(), 127u * 64u);
  for (const char* name : kSameAsPal8) {
    SCOPED_TRACE(name);
    const GrayPicture picture = MustDecode(name);
    EXPECT_EQ(picture.width, 127);
    EXPECT_EQ(picture.height, 64);
    EXPECT_EQ(picture.pixels, reference.pixels);
  }
}

TEST(BmpSuite, OtherGoodFilesAreRefusedForDepthOrCompression) {
  std::set<std::string> good8;
  for (const KnownFile& known : kGood8Bit) good8.insert(known.name);
  int refused = 0;
  for (const auto& entry : fs::directory_iterator(SuiteDir() / "g")) {
    const std::string name = "g/" + entry.path().filename().string();
    if (good8.count(name)) continue;
    SCOPED_TRACE(name);
    const Bytes file = ReadFile(entry.path());
    GrayPicture picture;
    picture.width = 7;
    const BmpFault fault = DecodeGrayBmp(file, picture);
    const BmpFault expected =
        name == "g/pal8rle.bmp" ? BmpFault::kCompression : BmpFault::kBitDepth;
    EXPECT_EQ(fault, expected);
    EXPECT_EQ(picture.width, 7);
    EXPECT_TRUE(picture.pixels.empty());
    ++refused;
  }
  EXPECT_EQ(refused, 16);
}

// Every questionable or bad file, and every prefix of it, is either refused
// or loads exactly as expected. Each input lives in a buffer of exactly its
// size so that AddressSanitizer sees any read past the end.
TEST(BmpSuite, QuestionableAndBadFilesAndTheirPrefixes) {
  std::set<std::string> loadable(std::begin(kSameAsPal8), std::end(kSameAsPal8));
  loadable.insert("b/pal8badindex.bmp");
  const GrayPicture pal8 = MustDecode("g/pal8.bmp");
  const GrayPicture badindex = MustDecode("b/pal8badindex.bmp");
  int files = 0;
  for (const char* dir : {"q", "b"}) {
    for (const auto& entry : fs::directory_iterator(SuiteDir() / dir)) {
      const std::string name = std::string(dir) + "/" + entry.path().filename().string();
      SCOPED_TRACE(name);
      const Bytes file = ReadFile(entry.path());
      ++files;
      GrayPicture whole;
      const BmpFault fault = DecodeGrayBmp(file, whole);
      if (!loadable.count(name)) {
        EXPECT_NE(fault, BmpFault::kNone);
        continue;
      }
      ASSERT_EQ(fault, BmpFault::kNone);
      EXPECT_EQ(whole.pixels, name == "b/pal8badindex.bmp" ? badindex.pixels : pal8.pixels);
      for (std::size_t length = 0; length < file.size(); length += 7) {
        const auto prefix = std::make_unique<std::uint8_t[]>(length);
        std::copy_n(file.begin(), length, prefix.get());
        GrayPicture part;
        if (DecodeGrayBmp({prefix.get(), length}, part) == BmpFault::kNone) {
          EXPECT_EQ(part.pixels, whole.pixels) << length;
        }
      }
    }
  }
  EXPECT_EQ(files, 63);
}

// The rows end 9253 bytes into g/pal8.bmp: the last row needs its 127 pixels
// but not its padding byte.
TEST(BmpSuite, TruncationBoundaryOfPal8) {
  const Bytes file = ReadFile(SuiteDir() / "g/pal8.bmp");
  ASSERT_EQ(file.size(), 9254u);
  for (std::size_t length : {std::size_t{0}, std::size_t{2}, std::size_t{17}, std::size_t{54},
                             std::size_t{1062}, std::size_t{9252}}) {
    const Bytes prefix(file.begin(), file.begin() + length);
    GrayPicture picture;
    EXPECT_NE(DecodeGrayBmp(prefix, picture), BmpFault::kNone) << length;
  }
  const Bytes prefix(file.begin(), file.begin() + 9253);
  GrayPicture picture;
  ASSERT_EQ(DecodeGrayBmp(prefix, picture), BmpFault::kNone);
  EXPECT_EQ(picture.pixels, MustDecode("g/pal8.bmp").pixels);
}

}  // namespace
}  // namespace dactyra
