// The pair compatibilities of every kernel against the plain double-precision
// reading, over one table of geometries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

#include "matching/relaxation.h"

namespace dactyra::matching {
namespace {

constexpr double kPi = std::numbers::pi;

// How far a kernel's compatibility may lie from the reference. The float
// arithmetic of lengths up to 2,900 pixels is the largest part (a length is
// good to about 2e-4 pixels there, and the steepest sigmoid moves by 0.4
// a pixel); the polynomials add under 1e-5.
constexpr double kTolerance = 1e-4;

Point At(double x, double y, double direction) {
  return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(direction),
          BinaryAngle(direction)};
}

// n pairs: `first(i)` and `second(i)` give each pair's minutiae.
PairGeometry Pairs(size_t n, const std::function<Point(size_t)>& first,
                   const std::function<Point(size_t)>& second) {
  PairGeometry g;
  g.Reset(n);
  for (size_t i = 0; i < n; ++i) g.Set(i, first(i), second(i));
  return g;
}

TEST(Relaxation, EveryKernelAgreesWithThePlainReading) {
  for (Kernel k : {Kernel::kPortable, Kernel::kAvx2, Kernel::kAvx512})
    std::printf("kernel %d %s\n", static_cast<int>(k), KernelRuns(k) ? "runs" : "absent");
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> x(0, 320), y(0, 365), turn(0, 2 * kPi);
  std::vector<Point> a(64), b(64), moved(64);
  for (size_t i = 0; i < a.size(); ++i) {
    a[i] = At(x(rng), -y(rng), turn(rng));
    b[i] = At(x(rng), -y(rng), turn(rng));
    // a turned by 0.4 rad about the origin and shifted, up to 3 pixels off:
    // the geometry of true pairs, most compatibilities near 1.
    const double c = std::cos(0.4), s = std::sin(0.4);
    const double jitter = (static_cast<double>(i % 7) - 3);
    moved[i] = At(c * a[i].x - s * a[i].y + 30 + jitter, s * a[i].x + c * a[i].y - 20 - jitter,
                  std::fmod(a[i].direction + 0.4 + 0.05 * jitter + 2 * kPi, 2 * kPi));
  }
  struct Row {
    const char* name;
    PairGeometry g;
  };
  const Row rows[] = {
      {"true pairs", Pairs(64, [&](size_t i) { return a[i]; }, [&](size_t i) { return moved[i]; })},
      {"unrelated pairs", Pairs(64, [&](size_t i) { return a[i]; }, [&](size_t i) { return b[i]; })},
      // Not a multiple of the widest lane count: the rows' last vectors
      // read the padding.
      {"37 pairs", Pairs(37, [&](size_t i) { return a[i]; }, [&](size_t i) { return moved[i]; })},
      {"one pair", Pairs(1, [&](size_t i) { return a[i]; }, [&](size_t i) { return b[i]; })},
      // Minutiae on one spot (lines of no length, φ of 0 by 0), and turns
      // either side of the half turn, where differences fold.
      {"coincident, folding",
       Pairs(20, [&](size_t i) { return At(100, -100, (i % 2 ? kPi - 0.01 : kPi + 0.01)); },
             [&](size_t i) { return At(100 + static_cast<double>(i % 3), -100, 0.02 * static_cast<double>(i)); })},
      // Coordinates at the record's limit: lengths differing by thousands
      // of pixels, where the exponentials are clamped.
      {"far apart",
       Pairs(24, [&](size_t i) { return At(i % 2 ? 2047 : 0, i % 3 ? -2047 : 0, turn(rng)); },
             [&](size_t i) { return At(static_cast<double>(i), -static_cast<double>(i), turn(rng)); })},
  };
  size_t near_one = 0, sloped = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const PairGeometry& g = row.g;
    for (Kernel kernel : {Kernel::kPortable, Kernel::kAvx2, Kernel::kAvx512}) {
      SCOPED_TRACE(static_cast<int>(kernel));
      std::vector<float> out(g.n * g.stride, -1.f);
      Compatibilities(g, out.data(), kernel);
      for (size_t r = 0; r < g.n; ++r)
        for (size_t c = 0; c < g.n; ++c) {
          const double reference = ReferenceCompatibility(g, r, c);
          const float value = out[r * g.stride + c];
          ASSERT_NEAR(value, reference, kTolerance) << r << ", " << c;
          if (r == c) {
            EXPECT_EQ(value, 0.f);
          }
          near_one += reference > 0.9;
          sloped += reference > 0.05 && reference < 0.9;
        }
    }
  }
  // The table reached both the plateau and the slopes of the sigmoids.
  EXPECT_GT(near_one, 1000u);
  EXPECT_GT(sloped, 1000u);
}

}  // namespace
}  // namespace dactyra::matching
