#include "imaging/row_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/exception.h"

namespace dactyra {
namespace {

TEST(RowView, CreateSetsSizesAndEmptySlots) {
  RowViewPtr view = CreateRowView(12, 4);
  EXPECT_EQ(view->Width, 12);
  EXPECT_EQ(view->Height, 4);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(view->Rows[k], nullptr);
  RowViewPtr none = CreateRowView(12, 0);
  EXPECT_EQ(none->Height, 0);
}

TEST(RowView, NegativeSizesAreRefused) {
  EXPECT_THROW(CreateRowView(-1, 3), Exception);
  EXPECT_THROW(CreateRowView(3, -1), Exception);
  std::vector<std::uint8_t> buffer(9);
  EXPECT_THROW(MakeRowView(-3, 3, buffer.data()), Exception);
  EXPECT_THROW(MakeRowView(3, std::numeric_limits<std::int32_t>::min(), buffer.data()), Exception);
}

TEST(RowView, PositiveHeightIsTopRowFirst) {
  std::vector<std::uint8_t> buffer = {'A', 'A', 'B', 'B', 'C', 'C'};
  RowViewPtr view = MakeRowView(2, 3, buffer.data());
  ASSERT_EQ(view->Height, 3);
  EXPECT_EQ(view->Rows[0], buffer.data());
  EXPECT_EQ(view->Rows[1], buffer.data() + 2);
  EXPECT_EQ(view->Rows[2], buffer.data() + 4);
}

TEST(RowView, NegativeHeightIsBottomRowFirst) {
  std::vector<std::uint8_t> buffer = {'A', 'A', 'B', 'B', 'C', 'C'};
  RowViewPtr view = MakeRowView(2, -3, buffer.data());
  ASSERT_EQ(view->Height, 3);
  EXPECT_EQ(view->Width, 2);
  EXPECT_EQ(view->Rows[0][0], 'C');
  EXPECT_EQ(view->Rows[1][0], 'B');
  EXPECT_EQ(view->Rows[2][0], 'A');
}

TEST(RowView, HeightZeroAndMissingBuffer) {
  std::vector<std::uint8_t> buffer(4);
  EXPECT_EQ(MakeRowView(2, 0, buffer.data())->Height, 0);
  RowViewPtr view = MakeRowView(2, 2, nullptr);
  EXPECT_EQ(view->Rows[0], nullptr);
  EXPECT_EQ(view->Rows[1], nullptr);
}

TEST(RowView, FreeingTheViewLeavesThePixels) {
  std::vector<std::uint8_t> buffer = {1, 2, 3, 4};
  PRowView view = MakeRowView(2, 2, buffer.data()).release();
  FreeRowView(view);
  FreeRowView(nullptr);
  EXPECT_EQ(buffer, (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST(RowView, BlockSizeThatWouldWrapIsRefused) {
  constexpr std::uint64_t kSlot = sizeof(std::uint8_t*);
  const std::uint64_t offset = RowViewBlockBytes(0, UINT64_MAX);
  ASSERT_GE(offset, sizeof(TRowView));
  constexpr std::uint64_t k32 = 0xFFFFFFFFu;  // SIZE_MAX of a 32-bit build
  struct Case {
    std::uint64_t count, limit, expected;
  };
  const Case cases[] = {
      {3, UINT64_MAX, offset + 3 * kSlot},
      {(k32 - offset) / kSlot, k32, offset + (k32 - offset) / kSlot * kSlot},
      {(k32 - offset) / kSlot + 1, k32, 0},
      // The count the 32-bit target used to wrap on: 2^30 slots of 4 bytes.
      {1u << 30, k32, 0},
      {UINT64_MAX / kSlot, UINT64_MAX, 0},
      {0, offset - 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    EXPECT_EQ(RowViewBlockBytes(c.count, c.limit), c.expected);
  }
}

}  // namespace
}  // namespace dactyra
