// The PNG writer and the marks drawn for people.
#include "sim/fingerprint/picture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace dactyra::sim::fingerprint {
namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Picture, WritesGrayAndRgbPngsAndReportsFailures) {
  const std::string dir = ::testing::TempDir();
  const Impression imp = Finger::Generate(2).Render(64, 48);
  Canvas c = Canvas::FromGray(64, 48, imp.pixels);
  DrawTruth(c, imp);
  std::string error;
  ASSERT_TRUE(WritePng(dir + "/gray.png", 64, 48, 1, imp.pixels.data(), &error)) << error;
  ASSERT_TRUE(WritePng(dir + "/rgb.png", 64, 48, 3, c.rgb().data(), &error)) << error;
  for (const char* name : {"/gray.png", "/rgb.png"}) {
    const auto bytes = ReadAll(dir + name);
    ASSERT_GT(bytes.size(), 33u);
    const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_TRUE(std::equal(signature, signature + 8, bytes.begin()));
    // IHDR: width and height, big-endian, then depth 8 and the colour type.
    EXPECT_EQ(bytes[19], 64);
    EXPECT_EQ(bytes[23], 48);
    EXPECT_EQ(bytes[24], 8);
    EXPECT_EQ(bytes[25], name[1] == 'g' ? 0 : 2);
    std::remove((dir + name).c_str());
  }
  EXPECT_FALSE(WritePng(dir + "/no/such/folder/x.png", 64, 48, 1, imp.pixels.data(), &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos);
  EXPECT_FALSE(WritePng(dir + "/x.png", 0, 48, 1, imp.pixels.data(), &error));
  EXPECT_FALSE(WritePng(dir + "/x.png", 64, 48, 2, imp.pixels.data(), &error));
}

TEST(Picture, MarksStayInsideTheCanvas) {
  Canvas c(20, 10);
  // Marks that reach past every edge draw only what falls inside.
  c.Mark(1, 1, 2.5, MinutiaType::kEnding, {255, 0, 0});
  c.Mark(19, 9, -0.5, MinutiaType::kBifurcation, {0, 255, 0});
  c.Triangle(-5, 20, 30, {0, 0, 255});
  EXPECT_EQ(c.rgb().size(), 20u * 10 * 3);
  size_t marked = 0;
  for (size_t i = 0; i < c.rgb().size(); i += 3)
    marked += c.rgb()[i] != 255 || c.rgb()[i + 1] != 255;
  EXPECT_GT(marked, 5u);
}

}  // namespace
}  // namespace dactyra::sim::fingerprint
