// The engine against the finger generator's ground truth (one table of
// impressions), repeatability under a known move, the record it writes, and
// bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>
#include <thread>

#include "sim/extract/evaluation.h"
#include "sim/extract/vx_extract.h"

namespace dactyra::sim::extract {
namespace {

using fingerprint::Finger;
using fingerprint::ImpressionOptions;

// Fingers in the quality table, each shown once per row: fewer under the
// sanitizers, which slow the engine several times. Those builds are there
// for memory and races; on their small sample the floors are looser by
// kSlack (three fingers' recall swings by a tenth).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kFingers = 3;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr int kFingers = 3;
#else
constexpr int kFingers = 10;
#endif
#else
constexpr int kFingers = 10;
#endif
constexpr bool kSanitized = kFingers < 10;
constexpr double kSlack = kSanitized ? 0.15 : 0;

Features ExtractFrom(const fingerprint::Impression& imp) {
  return Extract(imp.pixels.data(), imp.width, imp.height, DefaultConfig(), false, nullptr);
}

TEST(Extract, QualityFloorsOnCleanAndDegradedImpressions) {
  struct Row {
    const char* name;
    ImpressionOptions options;
    double precision, recall;  // floors, a little below what is measured
  };
  ImpressionOptions clean, noisy, blurred, wet, dry;
  noisy.noise = 18;
  blurred.blur = 1.2;
  wet.pressure = 0.6;
  dry.pressure = -0.6;
  const Row rows[] = {{"clean", clean, 0.95, 0.85},
                      {"noise", noisy, 0.95, 0.85},
                      {"blur", blurred, 0.95, 0.80},
                      {"wet", wet, 0.95, 0.80},
                      {"dry", dry, 0.95, 0.85}};
  std::vector<Finger> fingers;
  for (int i = 0; i < kFingers; ++i)
    fingers.push_back(Finger::Generate(100 + static_cast<uint64_t>(i)));
  Score cores, deltas;
  // Sanitized builds run the first three rows only.
  for (const Row& row : std::span(rows).first(kSanitized ? 3 : std::size(rows))) {
    Score total;
    for (int i = 0; i < kFingers; ++i) {
      ImpressionOptions o = row.options;
      o.seed = static_cast<uint64_t>(i);
      const auto imp = fingers[static_cast<size_t>(i)].Render(320, 365, o);
      const auto f = ExtractFrom(imp);
      total.Add(ScoreMinutiae(imp, f));
      if (row.name == rows[0].name) {
        cores.Add(ScoreSingular(imp.cores, f.cores));
        deltas.Add(ScoreSingular(imp.deltas, f.deltas));
      }
    }
    std::printf("%-6s precision %.3f recall %.3f types %.3f (%zu true, %zu found, %zu matched)\n",
                row.name, total.precision(), total.recall(), total.type_agreement(), total.truth,
                total.found, total.matched);
    SCOPED_TRACE(row.name);
    EXPECT_GE(total.precision(), row.precision - kSlack) << total.matched << "/" << total.found;
    EXPECT_GE(total.recall(), row.recall - kSlack) << total.matched << "/" << total.truth;
    // Ending or bifurcation: the type of a matched minutia agrees.
    EXPECT_GE(total.type_agreement(), 0.9 - kSlack);
  }
  std::printf("cores precision %.3f recall %.3f, deltas precision %.3f recall %.3f\n",
              cores.precision(), cores.recall(), deltas.precision(), deltas.recall());
  EXPECT_GE(cores.precision(), 0.6 - kSlack);
  EXPECT_GE(cores.recall(), 0.8 - kSlack);
  EXPECT_GE(deltas.precision(), 0.8 - kSlack);
  EXPECT_GE(deltas.recall(), 0.8 - kSlack);
}

// Near the image's frame and the skin's edge, ridges stop without ending:
// the engine finds the minutiae there and invents none along the edge.
TEST(Extract, FindsMinutiaeBesideTheEdgesAndInventsNoneAlongThem) {
  struct Row {
    const char* name;
    int width, height;  // small pictures of a shifted finger have much frame
    double shift, contact;
    // The band a minutia lies in, by its distance to the frame and to the
    // nearest pixel off the skin (the frame excluded).
    double frame_from, frame_to, skin_from, skin_to;
    double precision, recall;  // floors
  };
  const Row rows[] = {{"beside the frame", 224, 256, 50, 1, 4, 12, 12, 1e9, 0.9, 0.7},
                      {"beside the skin's edge", 320, 365, 0, 0.5, 12, 1e9, 0, 12, 0.9, 0.4}};
  // Each finger is grown once for both rows. A partial contact's cut
  // crosses few minutiae, so the sanitized builds take more fingers here
  // than elsewhere: with six, one compiler's fingers put only four in the
  // band.
  std::vector<Finger> fingers;
  for (int i = 0; i < (kSanitized ? 10 : 2 * kFingers); ++i)
    fingers.push_back(Finger::Generate(300 + static_cast<uint64_t>(i)));
  for (const Row& row : rows) {
    Score band;
    for (size_t i = 0; i < fingers.size(); ++i) {
      ImpressionOptions o;
      o.contact = row.contact;
      o.shift_x = (i % 2 ? 1 : -1) * row.shift;
      o.shift_y = (i % 4 < 2 ? 1 : -1) * row.shift;
      o.seed = i;
      const auto imp = fingers[i].Render(row.width, row.height, o);
      const auto f = ExtractFrom(imp);
      auto in_band = [&](double x, double y) {
        const double frame = std::min({x, y, imp.width - x, imp.height - y});
        double skin = 1e6;  // none within reach
        for (int dy = -12; dy <= 12; ++dy)
          for (int dx = -12; dx <= 12; ++dx) {
            const int px = static_cast<int>(x) + dx, py = static_cast<int>(y) + dy;
            if (px >= 0 && py >= 0 && px < imp.width && py < imp.height &&
                !imp.contact[static_cast<size_t>(py) * imp.width + px])
              skin = std::min(skin, std::hypot(dx, dy));
          }
        return frame >= row.frame_from && frame < row.frame_to && skin >= row.skin_from &&
               skin < row.skin_to;
      };
      std::vector<bool> true_matched(imp.minutiae.size()), found_matched(f.minutiae.size());
      MatchCount(
          imp.minutiae, f.minutiae, 10,
          [](const fingerprint::Minutia& t, const FoundMinutia& d) {
            return AngleGap(t.direction, d.direction) <= std::numbers::pi / 6;
          },
          [&](const fingerprint::Minutia& t, const FoundMinutia& d) {
            true_matched[static_cast<size_t>(&t - imp.minutiae.data())] = true;
            found_matched[static_cast<size_t>(&d - f.minutiae.data())] = true;
          });
      for (size_t k = 0; k < imp.minutiae.size(); ++k)
        if (in_band(imp.minutiae[k].x, imp.minutiae[k].y)) {
          ++band.truth;
          band.matched += true_matched[k];
        }
      for (size_t k = 0; k < f.minutiae.size(); ++k)
        if (in_band(f.minutiae[k].x, f.minutiae[k].y)) {
          ++band.found;
          band.same_type += found_matched[k];  // matched detections in the band
        }
    }
    std::printf("%s: %zu true, %zu of them found; %zu found, %zu of them true\n", row.name,
                band.truth, band.matched, band.found, band.same_type);
    SCOPED_TRACE(row.name);
    ASSERT_GT(band.truth, 5u);
    EXPECT_GE(static_cast<double>(band.matched) / band.truth, row.recall - kSlack);
    EXPECT_GE(band.found ? static_cast<double>(band.same_type) / band.found : 1,
              row.precision - kSlack);
  }
}

TEST(Extract, TwoImpressionsOfOneFingerShareTheirMinutiaeAfterTheMove) {
  const Finger f = Finger::Generate(7);
  const auto a = f.Render(448, 511);
  ImpressionOptions o;
  o.rotation_degrees = 12;
  o.shift_x = 10;
  o.shift_y = -6;
  const auto b = f.Render(448, 511, o);
  const auto fa = ExtractFrom(a), fb = ExtractFrom(b);
  const double r = o.rotation_degrees * std::numbers::pi / 180, cx = 224, cy = 255.5;
  std::vector<FoundMinutia> moved;
  for (auto m : fa.minutiae) {
    const double x = std::cos(r) * (m.x - cx) - std::sin(r) * (m.y - cy) + cx + o.shift_x;
    const double y = std::sin(r) * (m.x - cx) + std::cos(r) * (m.y - cy) + cy + o.shift_y;
    if (x < 24 || y < 24 || x > 424 || y > 487) continue;
    m.x = x;
    m.y = y;
    m.direction -= r;
    moved.push_back(m);
  }
  ASSERT_GT(moved.size(), 15u);
  const size_t shared = MatchCount(moved, fb.minutiae, 10, [](const auto& p, const auto& q) {
    return AngleGap(p.direction, q.direction) <= std::numbers::pi / 6;
  });
  EXPECT_GE(static_cast<double>(shared) / moved.size(), 0.85) << shared << "/" << moved.size();
}

TEST(Extract, RecordFollowsTheLayoutAndTheSizeCallMatchesTheWrite) {
  const auto imp = Finger::Generate(3).Render(448, 511);
  const auto f = ExtractFrom(imp);
  ASSERT_GT(f.minutiae.size(), 10u);
  for (auto [curv, g] : {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
    const int32_t size = WriteRecord(f, nullptr, 448, 511, 500, 500, 2, 1, curv, g);
    std::vector<uint8_t> rec(static_cast<size_t>(size) + 4, 0xEE);
    ASSERT_EQ(WriteRecord(f, rec.data(), 448, 511, 500, 500, 2, 1, curv, g), size);
    EXPECT_EQ(rec[static_cast<size_t>(size)], 0xEE);
    const int s = 5 + curv + g;
    EXPECT_EQ(rec[22], 1 | (curv ? 2 : 0) | (g ? 4 : 0));
    EXPECT_EQ(rec[24], f.minutiae.size());
    EXPECT_EQ(rec[25], s);
    for (size_t i = 0; i < f.minutiae.size(); ++i) {
      uint32_t w;
      std::memcpy(&w, &rec[26 + i * s], 4);
      const auto& m = f.minutiae[i];
      // Written best quality first; stable, so equal qualities keep order.
      (void)m;
      EXPECT_LT(w >> 21, 448u);
      EXPECT_LT((w >> 10) & 0x7FF, 511u);
    }
    // The decoded minutiae are exactly the features (as a set).
    size_t found = 0;
    for (const auto& m : f.minutiae)
      for (int i = 0; i < rec[24]; ++i) {
        uint32_t w;
        std::memcpy(&w, &rec[26 + i * s], 4);
        const int angle =
            static_cast<int>(std::lround(m.direction / (2 * std::numbers::pi) * 256)) & 255;
        if ((w >> 21) == static_cast<uint32_t>(m.x) &&
            ((w >> 10) & 0x7FF) == static_cast<uint32_t>(m.y) &&
            ((w >> 8) & 3) == static_cast<uint32_t>(m.kind) &&
            (w & 255) == static_cast<uint32_t>(angle)) {
          ++found;
          break;
        }
      }
    EXPECT_EQ(found, f.minutiae.size());
    const size_t p = 29 + static_cast<size_t>(rec[24]) * s;
    EXPECT_EQ(rec[p], f.cores.size());
    const size_t q = p + 2 + rec[p] * rec[p + 1];
    EXPECT_EQ(rec[q], f.deltas.size());
    EXPECT_EQ(rec[q + 1], 7);
    const size_t r = q + 2 + rec[q] * rec[q + 1];
    EXPECT_EQ(r + 2, static_cast<size_t>(size));
  }
}

TEST(Extract, RecordKeepsTheBest255AndLeavesOutWhatItCannotEncode) {
  Features f;
  for (int i = 0; i < 300; ++i) {
    FoundMinutia m;
    m.x = 10 + i;
    m.y = 20;
    m.quality = 1 + i % 100;
    m.kind = i % 2 ? Kind::kBifurcation : Kind::kEnding;
    f.minutiae.push_back(m);
  }
  FoundMinutia far;
  far.x = 2048;
  far.y = 5;
  far.quality = 100;
  f.minutiae.push_back(far);
  f.cores.push_back({5000, 5});
  f.deltas.push_back({30, 40, 0, {0.5, 2.5, 4.5}});
  const int32_t size = WriteRecord(f, nullptr, 4000, 400, 500, 500, 0, 0, false, false);
  std::vector<uint8_t> rec(static_cast<size_t>(size));
  ASSERT_EQ(WriteRecord(f, rec.data(), 4000, 400, 500, 500, 0, 0, false, false), size);
  ASSERT_EQ(rec[24], 255);
  ASSERT_EQ(rec[25], 5);
  int lowest = 100;
  for (int i = 0; i < 255; ++i) {
    uint32_t w;
    std::memcpy(&w, &rec[26 + i * 5], 4);
    EXPECT_LT(w >> 21, 2047u);
    lowest = std::min<int>(lowest, rec[26 + i * 5 + 4]);
  }
  // 45 of the 300 go: the lowest qualities (1 to 15, three of each).
  EXPECT_EQ(lowest, 16);
  const size_t p = 29 + 255 * 5;
  EXPECT_EQ(rec[p], 0);  // the core lies beyond 2047
  EXPECT_EQ(rec[p + 2], 1);
  EXPECT_EQ(rec[p + 3], 7);
  uint32_t w;
  std::memcpy(&w, &rec[p + 4], 4);
  EXPECT_EQ(w >> 21, 30u);
  EXPECT_EQ((w >> 10) & 0x7FF, 40u);
  EXPECT_EQ(rec[p + 8], std::lround(0.5 / (2 * std::numbers::pi) * 256));
  EXPECT_EQ(static_cast<size_t>(size), p + 2 + 7 + 2 + 2);
}

TEST(Extract, BadInputGetsADefinedAnswer) {
  TVxExtractorConfiguration cfg;
  GetDefaultConfig(&cfg);
  std::vector<uint8_t> px(64 * 64, 128);
  struct Size {
    int w, h;
  } refused[] = {{0, 64}, {64, 0}, {-3, 64}, {31, 64}, {64, 31}, {5000, 10}};
  for (auto s : refused) EXPECT_EQ(ExtractMinutiae(px.data(), s.w, s.h, &cfg, 0, nullptr), nullptr);
  EXPECT_EQ(ExtractMinutiae(nullptr, 64, 64, &cfg, 0, nullptr), nullptr);
  EXPECT_EQ(ExtractMinutiae(px.data(), 64, 64, nullptr, 0, nullptr), nullptr);
  // Blank, saturated and tiny images give a template without minutiae.
  for (uint8_t level : {0, 128, 255}) {
    std::vector<uint8_t> flat(320 * 365, level), bin(flat.size(), 7);
    VxTemplate* t = ExtractMinutiae(flat.data(), 320, 365, &cfg, 0, bin.data());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Ops->MinutiaCount(t), 0);
    EXPECT_EQ(t->Ops->SingularCount(t), 0);
    EXPECT_EQ(std::count(bin.begin(), bin.end(), 0), static_cast<long>(bin.size()));
    t->Ops->Release(t);
  }
  const auto imp = Finger::Generate(9).Render(32, 32);
  VxTemplate* t = ExtractMinutiae(imp.pixels.data(), 32, 32, &cfg, 0, nullptr);
  ASSERT_NE(t, nullptr);
  t->Ops->Release(t);
  // Absurd configuration values are brought into range.
  const auto finger = Finger::Generate(4).Render(320, 365);
  TVxExtractorConfiguration absurd = cfg;
  absurd.FatorGabor = std::numeric_limits<double>::quiet_NaN();
  absurd.TipoDirecoes = 7;
  absurd.VarianciaDesejada = -9;
  absurd.LimiarVariancia = 1 << 30;
  const auto sane = Sanitised(absurd);
  EXPECT_EQ(sane.FatorGabor, cfg.FatorGabor);
  EXPECT_EQ(sane.TipoDirecoes, 16);
  EXPECT_EQ(sane.VarianciaDesejada, 100);
  t = ExtractMinutiae(finger.pixels.data(), 320, 365, &absurd, -1, nullptr);
  ASSERT_NE(t, nullptr);
  t->Ops->Release(t);
  absurd.LimiarVariancia = 300;
  t = ExtractMinutiae(finger.pixels.data(), 320, 365, &absurd, -1, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_GT(t->Ops->MinutiaCount(t), 10);
  t->Ops->Release(t);
}

TEST(Extract, SkeletonFlagWritesTheThinnedRidges) {
  const auto imp = Finger::Generate(2).Render(320, 365);
  std::vector<uint8_t> ridges(imp.pixels.size()), skeleton(imp.pixels.size());
  Extract(imp.pixels.data(), 320, 365, DefaultConfig(), false, ridges.data());
  Extract(imp.pixels.data(), 320, 365, DefaultConfig(), true, skeleton.data());
  const auto r = std::count(ridges.begin(), ridges.end(), 255);
  const auto s = std::count(skeleton.begin(), skeleton.end(), 255);
  EXPECT_GT(s, 1000);
  EXPECT_LT(s * 2, r);
  for (size_t i = 0; i < skeleton.size(); ++i) {
    if (skeleton[i]) {
      ASSERT_EQ(ridges[i], 255) << i;
    }
  }
}

TEST(Extract, CallsOnSeveralThreadsAgreeWithOneAtATime) {
  const auto a = Finger::Generate(12).Render(320, 365);
  const auto b = Finger::Generate(13).Render(320, 365);
  TVxExtractorConfiguration cfg;
  GetDefaultConfig(&cfg);
  auto record = [&](const fingerprint::Impression& imp, std::vector<uint8_t>* out) {
    std::vector<uint8_t> binary(imp.pixels.size());
    VxTemplate* t = ExtractMinutiae(imp.pixels.data(), 320, 365, &cfg, 0, binary.data());
    ASSERT_NE(t, nullptr);
    out->resize(
        static_cast<size_t>(t->Ops->ExportRecord(t, nullptr, 320, 365, 500, 500, 0, 0, 1, 1)));
    t->Ops->ExportRecord(t, out->data(), 320, 365, 500, 500, 0, 0, 1, 1);
    t->Ops->Release(t);
  };
  std::vector<uint8_t> ra, rb, pa, pb;
  record(a, &ra);
  record(b, &rb);
  std::thread ta([&] { record(a, &pa); });
  std::thread tb([&] { record(b, &pb); });
  ta.join();
  tb.join();
  EXPECT_EQ(pa, ra);
  EXPECT_EQ(pb, rb);
  EXPECT_NE(ra, rb);
}

}  // namespace
}  // namespace dactyra::sim::extract
