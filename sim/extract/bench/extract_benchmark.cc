// The engine measured: first the quality table over generated impressions
// (precision and recall of minutiae, cores and deltas against the ground
// truth, and repeatability under a known move), then the time per image at
// the readers' sizes.
//
//   extract_benchmark [--fingers N] [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>

#include "sim/extract/evaluation.h"

namespace dactyra::sim::extract {
namespace {

using fingerprint::Finger;
using fingerprint::ImpressionOptions;

void QualityTable(int fingers) {
  struct Row {
    const char* name;
    ImpressionOptions o;
  };
  std::vector<Row> rows(6);
  rows[0].name = "clean";
  rows[1].name = "noise 18";
  rows[1].o.noise = 18;
  rows[2].name = "blur 1.2";
  rows[2].o.blur = 1.2;
  rows[3].name = "wet 0.6";
  rows[3].o.pressure = 0.6;
  rows[4].name = "dry -0.6";
  rows[4].o.pressure = -0.6;
  rows[5].name = "moved+distorted+partial";
  rows[5].o.distortion = 6;
  rows[5].o.contact = 0.8;
  rows[5].o.noise = 8;
  std::printf("%-26s %6s %7s %7s %7s %9s %9s %9s %9s\n", "impressions (320x365)", "count", "P", "R",
              "types", "core P", "core R", "delta P", "delta R");
  Score all_m, deg_m;
  for (size_t r = 0; r < rows.size(); ++r) {
    Score m, c, d;
    for (int i = 0; i < fingers; ++i) {
      ImpressionOptions o = rows[r].o;
      o.seed = static_cast<uint64_t>(i);
      if (r == 5) {
        o.rotation_degrees = (i % 2 ? 1 : -1) * (5 + i % 15);
        o.shift_x = (i % 7) * 3 - 9;
      }
      const auto imp = Finger::Generate(1000 + static_cast<uint64_t>(i)).Render(320, 365, o);
      const auto f =
          Extract(imp.pixels.data(), imp.width, imp.height, DefaultConfig(), false, nullptr);
      m.Add(ScoreMinutiae(imp, f));
      c.Add(ScoreSingular(imp.cores, f.cores));
      d.Add(ScoreSingular(imp.deltas, f.deltas));
    }
    if (r > 0) deg_m.Add(m);
    all_m.Add(m);
    std::printf("%-26s %6d %7.3f %7.3f %7.3f %9.3f %9.3f %9.3f %9.3f\n", rows[r].name, fingers,
                m.precision(), m.recall(), m.type_agreement(), c.precision(), c.recall(),
                d.precision(), d.recall());
  }
  std::printf("%-26s %6d %7.3f %7.3f\n", "all degraded", fingers * 5, deg_m.precision(),
              deg_m.recall());
  // Repeatability: minutiae detected on two impressions of one finger that
  // meet after the known move, over those that stay on both images.
  size_t shared = 0, kept = 0;
  for (int i = 0; i < fingers; ++i) {
    const Finger f = Finger::Generate(2000 + static_cast<uint64_t>(i));
    ImpressionOptions o;
    o.rotation_degrees = 15;
    o.shift_x = 12;
    o.shift_y = -8;
    o.seed = 1;
    const auto a = f.Render(448, 511), b = f.Render(448, 511, o);
    const auto fa = Extract(a.pixels.data(), 448, 511, DefaultConfig(), false, nullptr);
    const auto fb = Extract(b.pixels.data(), 448, 511, DefaultConfig(), false, nullptr);
    const double rr = o.rotation_degrees * std::numbers::pi / 180, cx = 224, cy = 255.5;
    std::vector<FoundMinutia> moved;
    for (auto m : fa.minutiae) {
      const double x = std::cos(rr) * (m.x - cx) - std::sin(rr) * (m.y - cy) + cx + o.shift_x;
      const double y = std::sin(rr) * (m.x - cx) + std::cos(rr) * (m.y - cy) + cy + o.shift_y;
      if (x < 24 || y < 24 || x > 424 || y > 487) continue;
      m.x = x;
      m.y = y;
      m.direction -= rr;
      moved.push_back(m);
    }
    kept += moved.size();
    shared += MatchCount(moved, fb.minutiae, 10, [](const auto& p, const auto& q) {
      return AngleGap(p.direction, q.direction) <= std::numbers::pi / 6;
    });
  }
  std::printf("repeatability (448x511, 15 deg, %d fingers): %.3f (%zu of %zu)\n\n", fingers,
              kept ? static_cast<double>(shared) / kept : 0.0, shared, kept);
}

void BM_Extract(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const auto imp = Finger::Generate(5).Render(w, h);
  const auto cfg = DefaultConfig();
  std::vector<uint8_t> binary(imp.pixels.size());
  for (auto _ : state) {
    auto f = Extract(imp.pixels.data(), w, h, cfg, false, binary.data());
    benchmark::DoNotOptimize(f);
  }
}
BENCHMARK(BM_Extract)->Args({320, 365})->Args({448, 511})->Unit(benchmark::kMillisecond);

// The whole export path as the binding drives it: extract, size, write,
// release.
void BM_ExportPath(benchmark::State& state) {
  const auto imp = Finger::Generate(5).Render(320, 365);
  TVxExtractorConfiguration cfg;
  GetDefaultConfig(&cfg);
  std::vector<uint8_t> binary(imp.pixels.size());
  for (auto _ : state) {
    VxTemplate* t = ExtractMinutiae(imp.pixels.data(), 320, 365, &cfg, 0, binary.data());
    const int32_t n = t->Ops->ExportRecord(t, nullptr, 320, 365, 500, 500, 0, 0, 1, 1);
    std::vector<uint8_t> rec(static_cast<size_t>(n));
    t->Ops->ExportRecord(t, rec.data(), 320, 365, 500, 500, 0, 0, 1, 1);
    t->Ops->Release(t);
    benchmark::DoNotOptimize(rec);
  }
}
BENCHMARK(BM_ExportPath)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dactyra::sim::extract

int main(int argc, char** argv) {
  int fingers = 40;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--fingers") == 0) {
      fingers = std::max(0, std::atoi(argv[i + 1]));
      for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
      argc -= 2;
      break;
    }
  if (fingers > 0) dactyra::sim::extract::QualityTable(fingers);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
