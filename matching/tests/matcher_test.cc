// The matcher's invariants over the true minutiae of synthetic fingers (one
// table), the bit counts and the cylinder similarity against plain
// references, and reading template records.
#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "matching/compare.h"
#include "matching/cylinder.h"
#include "matching/template.h"
#include "sim/extract/extractor.h"
#include "matching/tests/grown_fingers.h"
#include "sim/fingerprint/fingerprint.h"

namespace dactyra::matching {
namespace {

namespace fp = sim::fingerprint;

using testing::FingerOf;

constexpr double kPi = std::numbers::pi;

Template FromImpression(const fp::Impression& imp) {
  std::vector<Minutia> m;
  for (const auto& t : imp.minutiae)
    m.push_back({t.x, t.y, t.direction,
                 t.type == fp::MinutiaType::kEnding ? MinutiaKind::kEnding
                                                    : MinutiaKind::kBifurcation});
  return Template::FromMinutiae(m);
}

Template Impression(uint64_t finger, const fp::ImpressionOptions& o = {}) {
  return FromImpression(FingerOf(finger).Render(320, 365, o));
}

// Scores against an enrolled impression of the same finger, each probe made
// differently; and against other fingers.
TEST(Matcher, ScoresHoldTheirBandsUnderEachKindOfChange) {
  struct Row {
    const char* name;
    fp::ImpressionOptions options;
    bool same_finger;
    int32_t low, high;  // the band every finger's score falls in
  };
  fp::ImpressionOptions turned, turned_back, moved, distorted, partial, other;
  turned.rotation_degrees = 30;
  turned_back.rotation_degrees = -30;
  moved.shift_x = 40;
  moved.shift_y = -35;
  distorted.distortion = 8;
  distorted.seed = 3;
  partial.contact = 0.55;
  partial.seed = 5;
  const Row rows[] = {
      {"itself", {}, true, 9900, kMaxScore},
      {"turned 30 degrees", turned, true, 4000, kMaxScore},
      {"turned -30 degrees", turned_back, true, 4000, kMaxScore},
      {"moved", moved, true, 3500, kMaxScore},
      {"distorted", distorted, true, 5000, kMaxScore},
      {"partial contact", partial, true, 5000, kMaxScore},
      {"another finger", other, false, 0, 1000},
  };
  for (uint64_t finger = 1; finger <= 6; ++finger) {
    const Template enrolled = Impression(finger);
    ASSERT_GT(enrolled.usable(), 10u) << finger;
    const int32_t itself = Compare(enrolled, enrolled);
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.name) + " finger " + std::to_string(finger));
      const Template probe = Impression(row.same_finger ? finger : finger + 100, row.options);
      const int32_t score = Compare(enrolled, probe);
      EXPECT_GE(score, row.low);
      EXPECT_LE(score, row.high);
      // Nothing matches a template better than itself.
      EXPECT_LE(score, itself);
      // Symmetric within a few points: only the order of equal pairs
      // differs.
      EXPECT_NEAR(Compare(probe, enrolled), score, 150);
    }
  }
}

// The whole road: pictures, the open engine's records, the matcher.
TEST(Matcher, RecordsOfTheOpenEngineMatchForOneFingerOnly) {
  auto record = [](uint64_t finger, const fp::ImpressionOptions& o) {
    const fp::Impression imp = FingerOf(finger).Render(320, 365, o);
    const auto f = sim::extract::Extract(imp.pixels.data(), 320, 365,
                                         sim::extract::DefaultConfig(), false, nullptr);
    std::vector<uint8_t> r(static_cast<size_t>(
        sim::extract::WriteRecord(f, nullptr, 320, 365, 500, 500, 0, 0, true, true)));
    sim::extract::WriteRecord(f, r.data(), 320, 365, 500, 500, 0, 0, true, true);
    return Template::FromRecord(r);
  };
  fp::ImpressionOptions other;
  other.rotation_degrees = -15;
  other.shift_y = 12;
  other.noise = 10;
  other.seed = 4;
  const Template a = record(31, {}), b = record(31, other), c = record(32, other);
  EXPECT_GE(Compare(a, b), kDefaultThreshold);
  EXPECT_LT(Compare(a, c), kDefaultThreshold);
}

TEST(Matcher, TheMoveIsRecoveredFromThePairs) {
  fp::ImpressionOptions o;
  o.rotation_degrees = 20;
  o.shift_x = 15;
  o.shift_y = -10;
  const auto finger = FingerOf(9);
  const fp::Impression a = finger.Render(320, 365), b = finger.Render(320, 365, o);
  const Comparison c = CompareDetailed(FromImpression(a), FromImpression(b));
  EXPECT_GE(c.pairs, 4);
  // The impression turns clockwise on screen about its centre (160, 182.5).
  EXPECT_NEAR(c.rotation_degrees, -20, 2);
  const double r = -20 * kPi / 180;
  // Where the centre of a lands: the shift, since the turn is about it.
  const double cx = 160, cy = 182.5;
  const double x = std::cos(r) * cx + std::sin(r) * cy + c.dx;
  const double y = -std::sin(r) * cx + std::cos(r) * cy + c.dy;
  EXPECT_NEAR(x, cx + 15, 4);
  EXPECT_NEAR(y, cy - 10, 4);
}

TEST(Matcher, TemplatesTooSmallToCompareScoreZero) {
  const Template empty;
  const Template one = Template::FromMinutiae(std::vector<Minutia>{{100, 100, 1}});
  const Template finger = Impression(4);
  EXPECT_EQ(Compare(empty, finger), 0);
  EXPECT_EQ(Compare(finger, empty), 0);
  EXPECT_EQ(Compare(empty, empty), 0);
  // A minutia without neighbours has no cylinder.
  EXPECT_EQ(one.usable(), 0u);
  EXPECT_EQ(Compare(one, one), 0);
  EXPECT_EQ(CompareDetailed(empty, finger).pairs, 0);
}

// A plain reading of the cylinder similarity, cell by cell, against both
// builds of the word-wise kernel with its shortcut for wholly valid
// cylinders, and the kernel's run of comparable pairs against trying every
// pair.
double ReferenceSimilarity(const Cylinder& a, const Cylinder& b) {
  auto bit = [](const auto& words, int index) { return (words[index / 64] >> (index % 64)) & 1; };
  int common = 0, na = 0, nb = 0, differ = 0;
  for (int cell = 0; cell < mcc::kCells; ++cell) {
    if (!bit(a.valid, cell) || !bit(b.valid, cell)) continue;
    ++common;
    for (int k = 0; k < mcc::kSections; ++k) {
      const int x = static_cast<int>(bit(a.bits, k * mcc::kPlaneWords * 64 + cell));
      const int y = static_cast<int>(bit(b.bits, k * mcc::kPlaneWords * 64 + cell));
      na += x;
      nb += y;
      differ += x != y;
    }
  }
  if (common < mcc::kMinMatchable * CellsWithinRadius() || na + nb == 0) return 0;
  return 1 - std::sqrt(differ) / (std::sqrt(na) + std::sqrt(nb));
}

constexpr Kernel kKernels[] = {Kernel::kPortable, Kernel::kPopcnt, Kernel::kAvx2, Kernel::kAvx512};

TEST(Matcher, CylinderSimilarityAgreesWithACellByCellReading) {
  // The kernels this processor cannot run fall back to the plain one; say
  // which were really held to the reference.
  for (Kernel kernel : kKernels)
    std::printf("kernel %d %s\n", static_cast<int>(kernel), KernelRuns(kernel) ? "runs" : "absent");
  fp::ImpressionOptions o;
  o.rotation_degrees = 10;
  o.contact = 0.7;
  o.seed = 2;
  const Template a = Impression(12), b = Impression(12, o);
  const auto& ca = a.prepared().cylinders;
  const auto& cb = b.prepared().cylinders;
  int whole = 0, partial = 0;
  std::vector<LocalMatch> expected;
  for (size_t i = 0; i < ca.size(); ++i)
    for (size_t j = 0; j < cb.size(); ++j) {
      const double reference = ReferenceSimilarity(ca[i], cb[j]);
      for (Kernel kernel : kKernels)
        EXPECT_NEAR(Similarity(ca[i], cb[j], kernel), reference, 1e-5);
      (ca[i].whole && cb[j].whole ? whole : partial)++;
      const double turn = std::remainder(a.prepared().points[i].direction -
                                             b.prepared().points[j].direction, 2 * kPi);
      if (std::abs(turn) <= mcc::kMaxTurn && reference > 0)
        expected.push_back({static_cast<uint16_t>(i), static_cast<uint16_t>(j),
                            static_cast<float>(reference)});
    }
  // Both roads were taken.
  EXPECT_GT(whole, 0);
  EXPECT_GT(partial, 0);
  for (Kernel kernel : kKernels) {
    std::vector<LocalMatch> found;
    LocalSimilarities(a.prepared(), b.prepared(), found, kernel);
    auto order = [](const LocalMatch& x, const LocalMatch& y) {
      return x.a < y.a || (x.a == y.a && x.b < y.b);
    };
    std::sort(found.begin(), found.end(), order);
    // Directions within a binary angle of δθ may fall either side.
    ASSERT_NEAR(static_cast<double>(found.size()), static_cast<double>(expected.size()), 2);
    size_t same = 0;
    for (const LocalMatch& f : found)
      for (const LocalMatch& e : expected)
        same += f.a == e.a && f.b == e.b && std::abs(f.similarity - e.similarity) < 1e-5;
    EXPECT_GE(same + 2, expected.size());
  }
}

// Template records: what is read, and what is refused.
std::vector<uint8_t> Record(uint8_t flags, uint8_t size, std::vector<std::vector<uint8_t>> items) {
  std::vector<uint8_t> r(22, 0);
  r.push_back(flags);
  r.push_back(0);
  r.push_back(static_cast<uint8_t>(items.size()));
  r.push_back(size);
  for (const auto& item : items) r.insert(r.end(), item.begin(), item.end());
  r.insert(r.end(), {0, 0, 0, 0, 4, 0, 7, 0, 4});
  return r;
}

std::vector<uint8_t> Word(uint32_t x, uint32_t y, uint32_t type, uint32_t angle) {
  const uint32_t w = x << 21 | y << 10 | type << 8 | angle;
  return {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16),
          static_cast<uint8_t>(w >> 24)};
}

TEST(Matcher, RecordsAreReadOrRefused) {
  auto with = [](std::vector<uint8_t> w, std::vector<uint8_t> extra) {
    w.insert(w.end(), extra.begin(), extra.end());
    return w;
  };
  const auto ok = Record(1 | 4, 6,
                         {with(Word(145, 1301, 1, 64), {50, 9}), with(Word(2047, 0, 2, 255), {1, 2})});
  const Template t = Template::FromRecord(ok);
  ASSERT_EQ(t.minutiae().size(), 2u);
  EXPECT_EQ(t.minutiae()[0].x, 145);
  EXPECT_EQ(t.minutiae()[0].y, 1301);
  EXPECT_NEAR(t.minutiae()[0].direction, kPi / 2, 1e-12);
  EXPECT_EQ(t.minutiae()[0].kind, MinutiaKind::kEnding);
  EXPECT_EQ(t.minutiae()[1].kind, MinutiaKind::kBifurcation);
  EXPECT_NEAR(t.minutiae()[1].direction, 255 * 2 * kPi / 256, 1e-12);
  EXPECT_TRUE(Template::FromRecord(Record(0, 4, {})).minutiae().empty());

  struct Bad {
    const char* name;
    std::vector<uint8_t> record;
  } bad[] = {
      {"shorter than the header", std::vector<uint8_t>(25, 0)},
      {"size byte against flags", Record(1, 4, {with(Word(1, 1, 1, 1), {})})},
      {"minutiae past the end", std::vector<uint8_t>(ok.begin(), ok.begin() + 34)},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.name);
    EXPECT_THROW(Template::FromRecord(b.record), TemplateError);
  }
}

}  // namespace
}  // namespace dactyra::matching
