#include "imaging/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "imaging/row_view.h"
#include "imaging/tests/resample_reference.h"

namespace dactyra {
namespace {

using reference::Call;
using reference::ClippedReference;
using reference::PlainReference;

void Run(const TRowView& dst, const TRowView& src, const Call& call, bool turned) {
  if (turned) {
    ResampleAreaTurned(&dst, &src, call.dst_x, call.dst_y, call.src_left, call.src_top,
                       call.dst_width, call.dst_height, call.src_width, call.src_height);
  } else {
    ResampleArea(&dst, &src, call.dst_x, call.dst_y, call.src_left, call.src_top, call.dst_width,
                 call.dst_height, call.src_width, call.src_height);
  }
}

// A picture whose rows are separate heap blocks of exactly its width, so that
// ASan sees any read or write past a row.
class Picture {
 public:
  Picture(std::int32_t width, std::int32_t height, std::uint8_t fill = 0)
      : width_(width),
        rows_(static_cast<size_t>(height),
              std::vector<std::uint8_t>(static_cast<size_t>(width), fill)),
        view_(CreateRowView(width, height)) {
    for (std::int32_t y = 0; y < height; ++y) view_->Rows[y] = rows_[y].data();
  }
  const TRowView& view() const { return *view_; }
  std::uint8_t& at(std::int32_t x, std::int32_t y) { return rows_[y][x]; }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return static_cast<std::int32_t>(rows_.size()); }
  bool operator==(const Picture& other) const { return rows_ == other.rows_; }
  // The first differing pixel, for messages.
  std::string FirstDifference(const Picture& other) const {
    for (size_t y = 0; y < rows_.size(); ++y)
      for (size_t x = 0; x < rows_[y].size(); ++x)
        if (rows_[y][x] != other.rows_[y][x])
          return "at (" + std::to_string(x) + ", " + std::to_string(y) +
                 "): " + std::to_string(rows_[y][x]) + " vs " + std::to_string(other.rows_[y][x]);
    return "none";
  }

 private:
  std::int32_t width_;
  std::vector<std::vector<std::uint8_t>> rows_;
  RowViewPtr view_;
};

enum class Kind { kNoise, kRidges, kTwoLevels, kWhite, kGradient };

void Paint(Picture& picture, Kind kind, std::mt19937& random) {
  std::uniform_int_distribution<int> byte(0, 255);
  const int a = byte(random);
  const int b = byte(random);
  for (std::int32_t y = 0; y < picture.height(); ++y) {
    for (std::int32_t x = 0; x < picture.width(); ++x) {
      int v = 0;
      switch (kind) {
        case Kind::kNoise:
          v = byte(random);
          break;
        case Kind::kRidges:
          v = static_cast<int>(127.5 + 127.5 * std::sin(0.35 * x + 0.21 * y));
          break;
        // Two neighbouring levels make rounding ties likely.
        case Kind::kTwoLevels:
          v = (x + y) % 2 ? a : std::min(a + 1, 255);
          break;
        case Kind::kWhite:
          v = 255;
          break;
        case Kind::kGradient:
          v = (a + x * b / std::max(1, picture.width())) % 256;
          break;
      }
      picture.at(x, y) = static_cast<std::uint8_t>(v);
    }
  }
}

// Runs the resampler and `reference` on two copies of the same destination
// (pre-filled with a pattern, so untouched pixels are compared too).
template <typename ReferenceFn>
void ExpectSameAsReference(const Picture& source, std::int32_t dst_w, std::int32_t dst_h,
                           const Call& call, bool turned, ReferenceFn reference) {
  Picture got(dst_w, dst_h, 0xA5);
  Picture want(dst_w, dst_h, 0xA5);
  Run(got.view(), source.view(), call, turned);
  reference(want.view(), source.view(), call, turned);
  ASSERT_TRUE(got == want) << (turned ? "turned " : "upright ") << "src " << call.src_width << "x"
                           << call.src_height << " at " << call.src_left << "," << call.src_top
                           << " of " << source.width() << "x" << source.height() << " -> dst "
                           << call.dst_width << "x" << call.dst_height << " at " << call.dst_x
                           << "," << call.dst_y << " of " << dst_w << "x" << dst_h
                           << "; first difference " << got.FirstDifference(want);
}

TEST(ResampleArea, BitExactToTheAlgorithmOnRandomSizesAndPictures) {
  std::mt19937 random(20261209);
  auto size = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  for (int round = 0; round < 600; ++round) {
    const int sw = size(1, 70), sh = size(1, 70);
    const int dw = size(1, 70), dh = size(1, 70);
    // Rectangles somewhere inside larger views.
    const int sl = size(0, 5), st = size(0, 5);
    const int dl = size(0, 5), dt = size(0, 5);
    Picture source(sw + sl + size(0, 5), sh + st + size(0, 5));
    Paint(source, static_cast<Kind>(round % 5), random);
    const int view_w = dw + dl + size(0, 5), view_h = dh + dt + size(0, 5);
    const bool turned = round % 2 == 1;
    Call call{dl, dt, sl, st, dw, dh, sw, sh};
    if (turned) {
      call.dst_x = dl + dw - 1;
      call.dst_y = dt + dh - 1;
    }
    ExpectSameAsReference(source, view_w, view_h, call, turned, PlainReference);
  }
}

TEST(ResampleArea, BitExactOnTheReaderSizes) {
  std::mt19937 random(7);
  struct Size {
    int sw, sh, dw, dh;
  };
  for (const Size& s : {Size{448, 511, 320, 365}, Size{450, 511, 321, 365},
                        Size{448, 512, 224, 256}, Size{320, 365, 448, 511}}) {
    for (Kind kind : {Kind::kNoise, Kind::kRidges, Kind::kTwoLevels, Kind::kWhite}) {
      Picture source(s.sw, s.sh);
      Paint(source, kind, random);
      ExpectSameAsReference(source, s.dw, s.dh, Call{0, 0, 0, 0, s.dw, s.dh, s.sw, s.sh}, false,
                            PlainReference);
      ExpectSameAsReference(source, s.dw, s.dh,
                            Call{s.dw - 1, s.dh - 1, 0, 0, s.dw, s.dh, s.sw, s.sh}, true,
                            PlainReference);
    }
  }
}

// Whole reduction factors take whole-number sums; they must agree with the
// algorithm too, clipped or not, halving or not, upright or turned.
TEST(ResampleArea, WholeFactorsAgreeWithTheAlgorithm) {
  std::mt19937 random(5);
  auto size = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  for (int fx = 1; fx <= 5; ++fx) {
    for (int fy = 1; fy <= 5; ++fy) {
      for (int round = 0; round < 6; ++round) {
        const int dw = size(1, 40), dh = size(1, 30);
        const bool turned = round % 2 == 1;
        const bool clipped = round >= 4;
        Picture source(dw * fx + size(0, 3), dh * fy + size(0, 3));
        Paint(source, round % 3 == 0 ? Kind::kTwoLevels : Kind::kNoise, random);
        Call call{0, 0, 0, 0, dw, dh, dw * fx, dh * fy};
        if (turned) {
          call.dst_x = dw - 1;
          call.dst_y = dh - 1;
        }
        if (clipped) {
          call.src_left = size(-4, 4);
          call.src_top = size(-4, 4);
          call.dst_x += size(-3, 3);
          call.dst_y += size(-3, 3);
        }
        ExpectSameAsReference(source, dw, dh, call, turned,
                              clipped ? ClippedReference : PlainReference);
      }
    }
  }
}

TEST(ResampleArea, EqualSizesCopyTheRectangle) {
  std::mt19937 random(1);
  Picture source(30, 20);
  Paint(source, Kind::kNoise, random);
  Picture dst(30, 20, 9);
  ResampleArea(&dst.view(), &source.view(), 4, 3, 2, 1, 17, 11, 17, 11);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 30; ++x) {
      const bool in = x >= 4 && x < 21 && y >= 3 && y < 14;
      EXPECT_EQ(dst.at(x, y), in ? source.at(x - 2, y - 2) : 9) << x << "," << y;
    }
  }
}

TEST(ResampleArea, HalvingAveragesBlocksAndRoundsHalfToEven) {
  Picture source(4, 2);
  // Block 126 127 / 126 127 averages 126.5; block 127 128 / 127 128 127.5.
  const std::uint8_t rows[2][4] = {{126, 127, 127, 128}, {126, 127, 127, 128}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) source.at(x, y) = rows[y][x];
  Picture dst(2, 1);
  ResampleArea(&dst.view(), &source.view(), 0, 0, 0, 0, 2, 1, 4, 2);
  EXPECT_EQ(dst.at(0, 0), 126);
  EXPECT_EQ(dst.at(1, 0), 128);
}

TEST(ResampleArea, FactorOnePointFourWeightsTheFirstPixelsAsStated) {
  Picture source(448, 511, 0);
  source.at(0, 0) = 100;
  source.at(1, 0) = 200;
  source.at(0, 1) = 50;
  source.at(1, 1) = 250;
  Picture dst(320, 365);
  ResampleArea(&dst.view(), &source.view(), 0, 0, 0, 0, 320, 365, 448, 511);
  const double expected = (100 * 1.0 + 200 * 0.4 + 50 * 0.4 + 250 * 0.16) / (1 + 0.4 + 0.4 + 0.16);
  EXPECT_EQ(dst.at(0, 0), static_cast<int>(std::lround(expected)));  // 122.45
  // Pixel (1, 0) covers columns 1 (0.6), 2 (0.8) of rows 0 (1) and 1 (0.4).
  const double next = (200 * 0.6 + 250 * 0.4 * 0.6) / (0.6 + 0.8 + 0.4 * 0.6 + 0.4 * 0.8);
  EXPECT_EQ(dst.at(1, 0), static_cast<int>(std::lround(next)));  // 107.84
}

TEST(ResampleArea, WhiteStaysWhiteAtEveryScale) {
  Picture source(97, 61, 255);
  for (int dw : {1, 13, 40, 97, 150}) {
    Picture dst(dw, 29, 0);
    ResampleArea(&dst.view(), &source.view(), 0, 0, 0, 0, dw, 29, 97, 61);
    for (int y = 0; y < 29; ++y)
      for (int x = 0; x < dw; ++x) ASSERT_EQ(dst.at(x, y), 255) << dw;
  }
}

TEST(ResampleAreaTurned, ResultIsTheUprightOneTurned) {
  std::mt19937 random(3);
  Picture source(448, 511);
  Paint(source, Kind::kRidges, random);
  Picture upright(320, 365);
  Picture turned(320, 365);
  ResampleArea(&upright.view(), &source.view(), 0, 0, 0, 0, 320, 365, 448, 511);
  ResampleAreaTurned(&turned.view(), &source.view(), 319, 364, 0, 0, 320, 365, 448, 511);
  for (int y = 0; y < 365; ++y)
    for (int x = 0; x < 320; ++x) ASSERT_EQ(turned.at(319 - x, 364 - y), upright.at(x, y));
}

TEST(ResampleAreaTurned, SourceRowZeroEndsUpInTheBottomRowRightToLeft) {
  Picture source(5, 3);
  for (int x = 0; x < 5; ++x) source.at(x, 0) = static_cast<std::uint8_t>(10 + x);
  Picture dst(5, 3);
  ResampleAreaTurned(&dst.view(), &source.view(), 4, 2, 0, 0, 5, 3, 5, 3);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(dst.at(4 - x, 2), 10 + x);
}

// Rectangles partly or wholly outside their views: only pixels inside are
// read and written, and the rest follows the clipped algorithm exactly.
TEST(ResampleArea, RectanglesOutsideTheirViewsAreClipped) {
  std::mt19937 random(11);
  auto size = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  for (int round = 0; round < 400; ++round) {
    Picture source(size(1, 40), size(1, 40));
    Paint(source, Kind::kNoise, random);
    const int view_w = size(1, 40), view_h = size(1, 40);
    const Call call{size(-30, 60), size(-30, 60), size(-30, 50), size(-30, 50),
                    size(1, 60),   size(1, 60),   size(0, 80),   size(0, 80)};
    ExpectSameAsReference(source, view_w, view_h, call, round % 2 == 1, ClippedReference);
  }
}

TEST(ResampleArea, DegenerateSizesTouchNothingOutside) {
  Picture source(8, 8, 200);
  Picture dst(8, 8, 7);
  const Picture untouched(8, 8, 7);
  // No destination pixels at all.
  ResampleArea(&dst.view(), &source.view(), 0, 0, 0, 0, 0, 8, 8, 8);
  ResampleArea(&dst.view(), &source.view(), 0, 0, 0, 0, 8, -3, 8, 8);
  ResampleAreaTurned(&dst.view(), &source.view(), 7, 7, 0, 0, -8, 8, 8, 8);
  ResampleArea(nullptr, &source.view(), 0, 0, 0, 0, 8, 8, 8, 8);
  ResampleArea(&dst.view(), nullptr, 0, 0, 0, 0, 8, 8, 8, 8);
  EXPECT_TRUE(dst == untouched);
  // Negative or empty source sizes: defined values, inside the views only.
  ResampleArea(&dst.view(), &source.view(), 0, 0, 4, 4, 8, 8, -5, -7);
  ResampleArea(&dst.view(), &source.view(), 0, 0, 0, 0, 8, 8, 0, 0);
  ResampleAreaTurned(&dst.view(), &source.view(), 7, 7, 4, 4, 8, 8, -8, 3);
}

TEST(ResampleArea, HugeSizesAreClippedCheaply) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  Picture source(16, 16, 100);
  Picture dst(16, 16, 7);
  // Spans of 2^31 pixels, rectangles reaching far outside both views.
  ResampleArea(&dst.view(), &source.view(), 0, 0, 0, 0, 1, 1, kMax, kMax);
  EXPECT_EQ(dst.at(0, 0), 100);
  ResampleArea(&dst.view(), &source.view(), -5, -5, 0, 0, kMax, kMax, kMax, kMax);
  ResampleArea(&dst.view(), &source.view(), kMin, kMin, kMin, kMin, kMax, kMax, 16, 16);
  ResampleAreaTurned(&dst.view(), &source.view(), kMax, kMax, kMax, kMax, kMax, kMax, kMax, kMax);
  ResampleAreaTurned(&dst.view(), &source.view(), kMin, kMin, 0, 0, kMax, kMax, 16, 16);
}

TEST(ResampleArea, NullRowSlotsCountAsOutside) {
  Picture source(4, 4, 80);
  RowViewPtr holes = CreateRowView(4, 4);
  holes->Rows[0] = source.view().Rows[0];
  holes->Rows[2] = source.view().Rows[2];
  RowViewPtr out = CreateRowView(2, 2);
  std::vector<std::uint8_t> row0(2, 1);
  out->Rows[0] = row0.data();
  ResampleArea(out.get(), holes.get(), 0, 0, 0, 0, 2, 2, 4, 4);
  EXPECT_EQ(row0, (std::vector<std::uint8_t>{80, 80}));
}

}  // namespace
}  // namespace dactyra
