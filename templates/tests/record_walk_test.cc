#include "templates/record_walk.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace dactyra::templates {
namespace {

using Bytes = std::vector<uint8_t>;

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// A record with `c` minutiae of `s` bytes each, a skipped block of m bytes,
// then the core, delta and double-core blocks (header bytes and items).
struct Layout {
  uint8_t flags = 0;
  uint8_t c = 0;
  uint8_t s = 4;
  Bytes minutiae{};
  int16_t m = 0;
  Bytes cores{};    // count, size, items
  Bytes deltas{};   // count, size, items
  Bytes doubles{};  // count, size, items
};

Bytes Build(const Layout& l) {
  Bytes r(22, 0xAA);  // header, not read
  r.push_back(l.flags);
  r.push_back(0xBB);
  r.push_back(l.c);
  r.push_back(l.s);
  Append(r, l.minutiae);
  r.push_back(0xCC);
  r.push_back(static_cast<uint8_t>(l.m & 0xFF));
  r.push_back(static_cast<uint8_t>((l.m >> 8) & 0xFF));
  if (l.m > 0) r.insert(r.end(), static_cast<size_t>(l.m), 0xDD);
  Append(r, l.cores);
  Append(r, l.deltas);
  Append(r, l.doubles);
  return r;
}

std::vector<RecordItem> Items(const Bytes& r, int32_t type) {
  const auto block = FindBlock(r, type);
  return block ? ReadItems(r, *block) : std::vector<RecordItem>{};
}

TEST(RecordWalkTest, ShortestRecords) {
  Bytes r25(25, 0);
  for (int t = -1; t <= 4; ++t) EXPECT_EQ(ItemCount(r25, t), 0) << t;
  Bytes r26(26, 0);
  r26[24] = 9;
  r26[25] = 4;
  EXPECT_EQ(ItemCount(r26, kMinutia), 9) << "the count byte, unchecked";
  EXPECT_TRUE(Items(r26, kMinutia).empty()) << "none of the nine lies inside";
  for (int t = 1; t <= 3; ++t) EXPECT_EQ(ItemCount(r26, t), 0) << t;
  EXPECT_EQ(ItemCount({}, kMinutia), 0);
}

TEST(RecordWalkTest, MinutiaExampleAndOptionalBytesInFlagOrder) {
  Bytes r = Build(
      {.flags = 0, .c = 2, .s = 4, .minutiae = {0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF}});
  auto items = Items(r, kMinutia);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].x, 145);
  EXPECT_EQ(items[0].y, 1301);
  EXPECT_EQ(items[0].minutiaType, 2);
  EXPECT_EQ(items[0].angle, 120);
  EXPECT_EQ(items[0].quality, 255);
  EXPECT_EQ(items[0].curvature, 255);
  EXPECT_EQ(items[0].g, 255);
  EXPECT_EQ(items[1].x, 2047);  // the next starts 4 bytes later
  EXPECT_EQ(items[1].y, 2047);
  EXPECT_EQ(items[1].minutiaType, 3);
  EXPECT_EQ(items[1].angle, 255);

  // Flags 5: quality then G, stride 6; bits above 2 are not read.
  r = Build({.flags = 0xF5,
             .c = 2,
             .s = 6,
             .minutiae = {0x78, 0x56, 0x34, 0x12, 10, 20, 0x01, 0x00, 0x00, 0x00, 30, 40}});
  items = Items(r, kMinutia);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].quality, 10);
  EXPECT_EQ(items[0].curvature, 255);
  EXPECT_EQ(items[0].g, 20);
  EXPECT_EQ(items[1].angle, 1);
  EXPECT_EQ(items[1].quality, 30);
  EXPECT_EQ(items[1].g, 40);

  r = Build({.flags = 7, .c = 1, .s = 7, .minutiae = {0, 0, 0, 0, 1, 2, 3}});
  items = Items(r, kMinutia);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].quality, 1);
  EXPECT_EQ(items[0].curvature, 2);
  EXPECT_EQ(items[0].g, 3);
}

TEST(RecordWalkTest, MinutiaStrideComesFromTheFlagsNotTheSizeByte) {
  // The size byte says 8 but flags 0 make a stride of 4: the second minutia
  // is read from byte 30.
  Bytes r = Build({.c = 2, .s = 8, .minutiae = {0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}});
  auto items = Items(r, kMinutia);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1].angle, 5);
}

TEST(RecordWalkTest, EveryBlockReachedWithItsStride) {
  Layout l;
  l.c = 1;
  l.s = 4;
  l.minutiae = {1, 2, 3, 4};
  l.m = 3;
  // Two cores of 5 bytes: angle of the second read 5 bytes after the first.
  l.cores = {2, 5, 0x11, 0, 0, 0, 0xEE, 0x22, 0, 0, 0, 0xEE};
  // One delta: w, then the three angles.
  l.deltas = {1, 8, 0x00, 0x04, 0x20, 0x00, 7, 8, 9, 0xEE};
  // Two double cores in a block of size byte 4: from R + 2 and R + 6.
  l.doubles = {2, 4, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x40, 0x00};
  const Bytes r = Build(l);
  const size_t p = 29 + 4 + 3;

  EXPECT_EQ(ItemCount(r, kCore), 2);
  auto cores = Items(r, kCore);
  ASSERT_EQ(cores.size(), 2u);
  EXPECT_EQ(cores[0].angle, 0x11);
  EXPECT_EQ(cores[1].angle, 0x22);
  EXPECT_EQ(FindBlock(r, kCore)->first, p + 2);

  auto deltas = Items(r, kDelta);
  ASSERT_EQ(deltas.size(), 1u);
  EXPECT_EQ(deltas[0].y, 0x01);  // bits 10-20 of 0x00200400
  EXPECT_EQ(deltas[0].x, 1);
  EXPECT_EQ(deltas[0].angle1, 7);
  EXPECT_EQ(deltas[0].angle2, 8);
  EXPECT_EQ(deltas[0].angle3, 9);

  const size_t q = p + 2 + 2 * 5;
  const size_t rr = q + 2 + 1 * 8;
  const auto block = FindBlock(r, kDoubleCore);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->first, rr + 2);
  auto doubles = Items(r, kDoubleCore);
  ASSERT_EQ(doubles.size(), 2u);
  EXPECT_EQ(doubles[0].x, 1);
  EXPECT_EQ(doubles[1].x, 2);

  for (int t : {4, -1, 100}) {
    EXPECT_EQ(ItemCount(r, t), 0);
    EXPECT_FALSE(FindBlock(r, t));
  }
}

TEST(RecordWalkTest, BlockHeadersAtTheEnd) {
  // Core header at the last byte (P + 1 = L): no block of type 1, 2 or 3.
  Bytes r = Build({.c = 0, .m = 0});
  r.push_back(3);
  ASSERT_EQ(r.size(), 30u);  // P = 29
  for (int t = 1; t <= 3; ++t) EXPECT_EQ(ItemCount(r, t), 0) << t;
  // Both header bytes present: cores reached, with a count no items back.
  r.push_back(4);
  EXPECT_EQ(ItemCount(r, kCore), 3);
  EXPECT_TRUE(Items(r, kCore).empty());
  EXPECT_EQ(ItemCount(r, kDelta), 0);
  // Too short for the m field: nothing after the minutiae.
  Bytes shortRecord = Build({.c = 2, .s = 4, .minutiae = {0, 0, 0, 0, 0, 0, 0, 0}});
  shortRecord.resize(29 + 8 - 1);
  EXPECT_EQ(ItemCount(shortRecord, kCore), 0);
  EXPECT_EQ(ItemCount(shortRecord, kMinutia), 2);
}

TEST(RecordWalkTest, ItemsStopAtTheEndOfTheRecord) {
  // Five cores announced, one and a half present.
  Bytes r = Build({.cores = {5, 4, 1, 0, 0, 0, 2, 0}});
  EXPECT_EQ(ItemCount(r, kCore), 5);
  EXPECT_EQ(Items(r, kCore).size(), 1u);
  // A delta needs 7 bytes even when its size byte says 4.
  r = Build({.cores = {0, 0}, .deltas = {2, 4, 0, 0, 0, 0, 1, 2, 3, 0, 0, 0}});
  auto deltas = Items(r, kDelta);
  ASSERT_EQ(deltas.size(), 1u) << "the second delta's angles lie past the end";
  EXPECT_EQ(deltas[0].angle3, 3);
  // A size byte of 0 reads every item at the same place.
  r = Build({.cores = {3, 0, 9, 0, 0, 0}});
  auto cores = Items(r, kCore);
  ASSERT_EQ(cores.size(), 3u);
  EXPECT_EQ(cores[2].angle, 9);
  // Minutiae with optional bytes cut off after the word: not read.
  r = Bytes(26, 0);
  r[22] = 1;
  r[24] = 1;
  r.insert(r.end(), {0, 0, 0, 0});
  EXPECT_TRUE(Items(r, kMinutia).empty());
}

TEST(RecordWalkTest, NegativeBlockLength) {
  // m = -10 puts P inside the record: the walk reads from there.
  Layout l{.c = 0, .m = -10};
  Bytes r = Build(l);
  r.insert(r.end(), {0, 0, 0, 0});
  EXPECT_EQ(FindBlock(r, kCore)->first, 29u - 10u + 2u);
  // m = -30 points before the start: nothing is reached.
  l.m = -30;
  r = Build(l);
  r.insert(r.end(), 8, 0);
  for (int t = 1; t <= 3; ++t) EXPECT_EQ(ItemCount(r, t), 0);
  l.m = INT16_MIN;
  r = Build(l);
  EXPECT_EQ(ItemCount(r, kCore), 0);
}

// The getters' direct packing against the plain road it replaced (decode
// the items, then pack them), over records of every block with random
// flags, counts, sizes and lengths, cut anywhere.
TEST(RecordWalkTest, DirectPackingGivesWhatThePlainRoadGives) {
  std::mt19937 random(7);
  auto byte = [&] { return static_cast<uint8_t>(random() & 0xFF); };
  auto block = [&](int most_count, int most_size) {
    const auto count = static_cast<uint8_t>(random() % (most_count + 1));
    const auto size = static_cast<uint8_t>(random() % (most_size + 1));
    Bytes b{count, size};
    for (int i = 0; i < count * size; ++i) b.push_back(byte());
    return b;
  };
  size_t packed_values = 0;
  for (int round = 0; round < 3000; ++round) {
    Layout l;
    l.flags = byte();
    l.c = static_cast<uint8_t>(random() % 256);
    l.s = static_cast<uint8_t>(random() % 9);
    for (int i = 0; i < l.c * l.s; ++i) l.minutiae.push_back(byte());
    l.m = static_cast<int16_t>(static_cast<int>(random() % 40) - 20);
    l.cores = block(6, 5);
    l.deltas = block(4, 8);
    l.doubles = block(3, 5);
    Bytes r = Build(l);
    if (random() % 2) r.resize(random() % (r.size() + 1));
    for (int32_t type = kMinutia; type <= kDoubleCore; ++type) {
      SCOPED_TRACE(testing::Message() << "round " << round << ", type " << type);
      const auto found = FindBlock(r, type);
      if (!found) continue;
      std::vector<int32_t> direct(kMostPacked, -1);
      direct.resize(PackBlock(r, *found, direct.data()));
      EXPECT_EQ(direct, PackItems(ReadItems(r, *found), type));
      packed_values += direct.size();
    }
  }
  EXPECT_GT(packed_values, 100000u) << "the records reached too few items to compare";
}

}  // namespace
}  // namespace dactyra::templates
