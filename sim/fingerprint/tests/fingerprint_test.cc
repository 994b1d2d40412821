// The finger generator: determinism, the counts the model promises, ground
// truth that moves exactly with the finger and agrees with the pixels.
#include "sim/fingerprint/fingerprint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace dactyra::sim::fingerprint {
namespace {

constexpr double kPi = std::numbers::pi;

double AngleGap(double a, double b) {
  const double d = std::fmod(std::abs(a - b), 2 * kPi);
  return std::min(d, 2 * kPi - d);
}

TEST(Fingerprint, SameSeedsGiveTheSameImpressionOthersDiffer) {
  ImpressionOptions o;
  o.noise = 12;
  o.distortion = 5;
  o.contact = 0.8;
  o.seed = 7;
  const Impression a = Finger::Generate(42).Render(320, 365, o);
  const Impression b = Finger::Generate(42).Render(320, 365, o);
  EXPECT_EQ(a.pixels, b.pixels);
  EXPECT_EQ(GroundTruthJson(a), GroundTruthJson(b));
  o.seed = 8;
  EXPECT_NE(a.pixels, Finger::Generate(42).Render(320, 365, o).pixels);
  EXPECT_NE(a.pixels, Finger::Generate(43).Render(320, 365).pixels);
}

TEST(Fingerprint, EachPatternHasItsSingularPointsAndMinutiaeCount) {
  struct Case {
    PatternClass pattern;
    size_t cores, deltas;
  } cases[] = {{PatternClass::kArch, 0, 0},
               {PatternClass::kTentedArch, 1, 1},
               {PatternClass::kLeftLoop, 1, 1},
               {PatternClass::kRightLoop, 1, 1},
               {PatternClass::kWhorl, 2, 2}};
  for (const auto& c : cases) {
    for (uint64_t seed = 1; seed <= 2; ++seed) {
      const Finger f = Finger::Generate(seed, c.pattern);
      EXPECT_EQ(f.pattern(), c.pattern);
      // Large enough for the whole finger.
      const Impression imp = f.Render(440, 600);
      SCOPED_TRACE(static_cast<int>(c.pattern) * 100 + seed);
      EXPECT_EQ(imp.cores.size(), c.cores);
      EXPECT_EQ(imp.deltas.size(), c.deltas);
      EXPECT_GE(imp.minutiae.size(), 25u);
      EXPECT_LE(imp.minutiae.size(), 60u);
      for (const auto& m : imp.minutiae) {
        EXPECT_GE(m.direction, 0);
        EXPECT_LT(m.direction, 2 * kPi);
      }
    }
  }
  // The loops open to opposite sides: the delta lies right of the core in
  // a left loop, left of it in a right loop.
  const Impression left = Finger::Generate(3, PatternClass::kLeftLoop).Render(440, 600);
  const Impression right = Finger::Generate(3, PatternClass::kRightLoop).Render(440, 600);
  ASSERT_EQ(left.deltas.size(), 1u);
  ASSERT_EQ(right.deltas.size(), 1u);
  EXPECT_GT(left.deltas[0].x, left.cores[0].x);
  EXPECT_LT(right.deltas[0].x, right.cores[0].x);
}

TEST(Fingerprint, GroundTruthMovesExactlyWithARigidMove) {
  for (uint64_t seed : {11u, 12u, 13u}) {
    const Finger f = Finger::Generate(seed);
    const Impression a = f.Render(448, 511);
    ImpressionOptions o;
    o.rotation_degrees = 17;
    o.shift_x = 12;
    o.shift_y = -9;
    const Impression b = f.Render(448, 511, o);
    const double r = o.rotation_degrees * kPi / 180, cx = 224, cy = 255.5;
    size_t found = 0, inside = 0;
    for (const auto& m : a.minutiae) {
      // p' = R (p - c) + c + t, R turning clockwise on screen.
      const double x = std::cos(r) * (m.x - cx) - std::sin(r) * (m.y - cy) + cx + o.shift_x;
      const double y = std::sin(r) * (m.x - cx) + std::cos(r) * (m.y - cy) + cy + o.shift_y;
      if (x < 1 || y < 1 || x > 447 || y > 510) continue;
      ++inside;
      for (const auto& n : b.minutiae) {
        if (std::hypot(n.x - x, n.y - y) < 1e-6 && n.type == m.type &&
            AngleGap(n.direction, m.direction - r) < 1e-6) {
          ++found;
          break;
        }
      }
    }
    EXPECT_GT(inside, 10u);
    // Minutiae that stay on the image but leave the finger's outline may
    // go; those well inside all come along.
    EXPECT_GE(found + 3, inside) << seed;
    EXPECT_GE(b.minutiae.size(), found);
  }
}

TEST(Fingerprint, MinutiaeOutsideTheContactAreaAreDropped) {
  const Finger f = Finger::Generate(21);
  const Impression full = f.Render(448, 511);
  for (uint64_t s = 1; s <= 4; ++s) {
    ImpressionOptions o;
    o.contact = 0.55;
    o.seed = s;
    const Impression part = f.Render(448, 511, o);
    size_t touching = 0, background = 0;
    for (size_t i = 0; i < part.contact.size(); ++i) {
      touching += part.contact[i];
      background += !part.contact[i] && part.pixels[i] > 230;
    }
    EXPECT_GT(background, 0u);
    size_t in_full = 0;
    for (const auto& m : full.minutiae)
      in_full += part.contact[static_cast<size_t>(m.y) * 448 + static_cast<size_t>(m.x)];
    // Exactly the minutiae that lie in the contact area remain.
    EXPECT_EQ(part.minutiae.size(), in_full);
    for (const auto& m : part.minutiae)
      EXPECT_EQ(part.contact[static_cast<size_t>(m.y) * 448 + static_cast<size_t>(m.x)], 1);
    EXPECT_LT(part.minutiae.size(), full.minutiae.size());
    EXPECT_GT(touching, 0u);
  }
}

TEST(Fingerprint, TheTruthAgreesWithThePixels) {
  // A ridge period along its direction, an ending has its ridge (dark) and
  // behind it a valley; a bifurcation has the valley between its branches
  // ahead and its stem behind.
  size_t agree = 0, total = 0;
  for (uint64_t seed = 30; seed < 36; ++seed) {
    const Impression imp = Finger::Generate(seed).Render(448, 511);
    auto at = [&](double x, double y) {
      const int ix = std::clamp(static_cast<int>(x), 0, 447);
      const int iy = std::clamp(static_cast<int>(y), 0, 510);
      return static_cast<int>(imp.pixels[static_cast<size_t>(iy) * 448 + ix]);
    };
    for (const auto& m : imp.minutiae) {
      const double dx = 9 * std::cos(m.direction), dy = -9 * std::sin(m.direction);
      const int ahead = at(m.x + dx, m.y + dy), behind = at(m.x - dx, m.y - dy);
      const bool ok = m.type == MinutiaType::kEnding ? ahead + 40 < behind : behind + 40 < ahead;
      agree += ok;
      ++total;
    }
  }
  EXPECT_GT(total, 150u);
  EXPECT_GE(agree, total * 95 / 100);
}

TEST(Fingerprint, MinutiaeSpreadOverTheFingerNotInPairs) {
  // Minutiae arise where the ridges need them, so most stand well apart;
  // placed in pairs, every one of them would have its partner close by.
  size_t close = 0, total = 0;
  for (uint64_t seed = 40; seed < 50; ++seed) {
    const Impression imp = Finger::Generate(seed).Render(440, 600);
    for (const auto& a : imp.minutiae) {
      double nearest = 1e9;
      for (const auto& b : imp.minutiae)
        if (&a != &b) nearest = std::min(nearest, std::hypot(a.x - b.x, a.y - b.y));
      close += nearest < 25;
      ++total;
    }
  }
  EXPECT_GT(total, 250u);
  EXPECT_LT(close, total * 6 / 10) << close << " of " << total;
}

TEST(Fingerprint, RendersAnySizeAndRefusesNone) {
  const Finger f = Finger::Generate(5);
  for (auto [w, h] : {std::pair{448, 511}, {450, 511}, {320, 365}, {1, 1}, {37, 900}}) {
    const Impression imp = f.Render(w, h);
    EXPECT_EQ(imp.width, w);
    EXPECT_EQ(imp.height, h);
    EXPECT_EQ(imp.pixels.size(), static_cast<size_t>(w) * h);
    for (const auto& m : imp.minutiae) {
      EXPECT_TRUE(m.x >= 0 && m.x < w && m.y >= 0 && m.y < h);
    }
  }
  for (auto [w, h] : {std::pair{0, 10}, {10, -1}}) {
    const Impression imp = f.Render(w, h);
    EXPECT_TRUE(imp.pixels.empty());
    EXPECT_TRUE(imp.minutiae.empty());
  }
  const std::string json = GroundTruthJson(f.Render(320, 365));
  EXPECT_EQ(json.rfind("{\"width\":320,\"height\":365,\"minutiae\":[{\"x\":", 0), 0u);
  EXPECT_NE(json.find("\"cores\":["), std::string::npos);
  EXPECT_EQ(json.back(), '}');
}

}  // namespace
}  // namespace dactyra::sim::fingerprint
