// Reading minutiae off a skeleton: one table of drawn shapes with the
// minutiae each must give, and the thinning's own guarantees.
#include "sim/fingerprint/skeleton.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

namespace dactyra::sim::fingerprint {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kSize = 80;

// A picture of kSize × kSize values: +1 on the thick strokes drawn, -1
// elsewhere. A stroke is a segment of the given half width.
struct Stroke {
  double x0, y0, x1, y1;
};

std::vector<float> Draw(const std::vector<Stroke>& strokes, double half_width = 2.2) {
  std::vector<float> v(kSize * kSize, -1.f);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x)
      for (const Stroke& s : strokes) {
        const double px = x + 0.5, py = y + 0.5;
        const double dx = s.x1 - s.x0, dy = s.y1 - s.y0;
        const double t = std::clamp(((px - s.x0) * dx + (py - s.y0) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        if (std::hypot(px - s.x0 - t * dx, py - s.y0 - t * dy) <= half_width)
          v[static_cast<size_t>(y) * kSize + x] = 1.f;
      }
  return v;
}

double Gap(double a, double b) {
  const double d = std::fmod(std::abs(a - b), 2 * kPi);
  return std::min(d, 2 * kPi - d);
}

TEST(Skeleton, EachShapeGivesItsMinutiae) {
  struct Expected {
    double x, y, direction;
    MinutiaType type;
  };
  struct Row {
    const char* name;
    std::vector<Stroke> strokes;
    double axis;  // the ridges' direction given to the reader
    std::vector<Expected> minutiae;
  };
  const Row rows[] = {
      // A ridge from left to right: an ending at each end, each pointing
      // into the ridge.
      {"one ridge", {{15, 40, 65, 40}}, 0, {{15, 40, 0, MinutiaType::kEnding}, {65, 40, kPi, MinutiaType::kEnding}}},
      // A stem from the left splitting in two towards the right: one
      // bifurcation, pointing into the fork (to the right); the three
      // ends are endings.
      {"a fork",
       {{10, 40, 40, 40}, {40, 40, 70, 20}, {40, 40, 70, 60}},
       0,
       {{42, 40, 0, MinutiaType::kBifurcation},
        {10, 40, 0, MinutiaType::kEnding},
        {70, 20, kPi, MinutiaType::kEnding},
        {70, 60, kPi, MinutiaType::kEnding}}},
      // A dot smaller than the smallest kept: nothing.
      {"a dot", {{40, 40, 42, 41}}, 0, {}},
      // A ridge with a short spur: the spur is pruned, its junction with it.
      {"a spur", {{10, 40, 70, 40}, {40, 40, 43, 34}}, 0,
       {{10, 40, 0, MinutiaType::kEnding}, {70, 40, kPi, MinutiaType::kEnding}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<float> ridge = Draw(row.strokes);
    const auto found = SkeletonMinutiae(
        ridge, kSize, kSize, 30, [&](double, double) { return row.axis; },
        [](double, double) { return true; });
    ASSERT_EQ(found.size(), row.minutiae.size());
    for (const Expected& e : row.minutiae) {
      bool seen = false;
      for (const SkeletonMinutia& m : found)
        seen = seen || (std::hypot(m.x - e.x, m.y - e.y) <= 4 && m.type == e.type &&
                        Gap(m.direction, e.direction) < 0.3);
      EXPECT_TRUE(seen) << e.x << "," << e.y;
    }
  }
}

TEST(Skeleton, SmallPiecesLeaveTheMasterToo) {
  // A dot on the ridge side and a pin hole in a ridge: both go, from the
  // master as well, so the pictures agree with the truth.
  std::vector<float> ridge = Draw({{10, 20, 70, 20}}, 3);
  ridge[static_cast<size_t>(20) * kSize + 40] = -1.f;  // pin hole
  for (int y = 49; y <= 51; ++y)
    for (int x = 39; x <= 41; ++x) ridge[static_cast<size_t>(y) * kSize + x] = 1.f;  // dot
  const auto found = SkeletonMinutiae(
      ridge, kSize, kSize, 30, [](double, double) { return 0.0; },
      [](double, double) { return true; });
  EXPECT_EQ(found.size(), 2u);
  EXPECT_GT(ridge[static_cast<size_t>(20) * kSize + 40], 0.f);
  EXPECT_LT(ridge[static_cast<size_t>(50) * kSize + 40], 0.f);
  // What `keep` refuses is left out.
  std::vector<float> again = Draw({{10, 20, 70, 20}}, 3);
  EXPECT_EQ(SkeletonMinutiae(
                again, kSize, kSize, 30, [](double, double) { return 0.0; },
                [](double x, double) { return x < 40; })
                .size(),
            1u);
}

TEST(Skeleton, ThinningLeavesOneConnectedLineOnePixelWide) {
  std::vector<float> ridge = Draw({{10, 10, 70, 70}, {10, 70, 35, 45}}, 4);
  std::vector<uint8_t> binary(ridge.size());
  for (size_t i = 0; i < ridge.size(); ++i) binary[i] = ridge[i] > 0;
  Thin(binary, kSize, kSize);
  auto at = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < kSize && y < kSize && binary[static_cast<size_t>(y) * kSize + x];
  };
  size_t set = 0, thick = 0;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      if (!at(x, y)) continue;
      ++set;
      // No 2 × 2 block survives.
      thick += at(x + 1, y) && at(x, y + 1) && at(x + 1, y + 1);
    }
  EXPECT_EQ(thick, 0u);
  EXPECT_GT(set, 60u);
  // Still one piece: a flood from one pixel reaches all.
  std::vector<uint8_t> seen(binary.size(), 0);
  std::vector<std::pair<int, int>> stack;
  for (int i = 0; i < kSize * kSize && stack.empty(); ++i)
    if (binary[static_cast<size_t>(i)]) stack.push_back({i % kSize, i / kSize});
  size_t reached = 0;
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (!at(x, y) || seen[static_cast<size_t>(y) * kSize + x]) continue;
    seen[static_cast<size_t>(y) * kSize + x] = 1;
    ++reached;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) stack.push_back({x + dx, y + dy});
  }
  EXPECT_EQ(reached, set);
}

}  // namespace
}  // namespace dactyra::sim::fingerprint
