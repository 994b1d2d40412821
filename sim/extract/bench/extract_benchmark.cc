// The engine measured: first the quality table over generated impressions
// (precision and recall of minutiae, cores and deltas against the ground
// truth, and repeatability under a known move), then the same impressions
// side by side with NIST's detector (NBIS through libfprint) under the rule
// both can meet, then the time per image at the readers' sizes, the peer's
// beside ours.
//
//   extract_benchmark [--fingers N] [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <numbers>
#include <optional>
#include <string>

#include "sim/extract/evaluation.h"
#ifdef DACTYRA_NBIS_PEER
#include "sim/extract/bench/nbis_detector.h"
#endif

namespace dactyra::sim::extract {
namespace {

using fingerprint::Finger;
using fingerprint::ImpressionOptions;

// The process's CPU time in milliseconds: the peer works on a thread of its
// own, so both are measured this way.
double CpuMs() { return 1e3 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// The peer's minutiae of one impression, or nothing when the benchmark was
// built without it.
std::optional<std::vector<PeerMinutia>> PeerDetect(const fingerprint::Impression& imp) {
#ifdef DACTYRA_NBIS_PEER
  static NbisDetector detector;
  std::vector<PeerMinutia> found;
  std::string error;
  if (!detector.Detect(imp.pixels.data(), imp.width, imp.height, &found, &error)) {
    std::fprintf(stderr, "NBIS: %s\n", error.c_str());
    std::exit(1);
  }
  return found;
#else
  (void)imp;
  return std::nullopt;
#endif
}

// The impressions of the quality table: the clean one and each kind of
// degradation, finger i of every row drawn from one seed.
struct Row {
  const char* name;
  ImpressionOptions options;
};

std::vector<Row> Rows() {
  std::vector<Row> rows(6);
  rows[0].name = "clean";
  rows[1].name = "noise 18";
  rows[1].options.noise = 18;
  rows[2].name = "blur 1.2";
  rows[2].options.blur = 1.2;
  rows[3].name = "wet 0.6";
  rows[3].options.pressure = 0.6;
  rows[4].name = "dry -0.6";
  rows[4].options.pressure = -0.6;
  rows[5].name = "moved+distorted+partial";
  rows[5].options.distortion = 6;
  rows[5].options.contact = 0.8;
  rows[5].options.noise = 8;
  return rows;
}

fingerprint::Impression Impression(const Row& row, bool moved, int i) {
  ImpressionOptions o = row.options;
  o.seed = static_cast<uint64_t>(i);
  if (moved) {
    o.rotation_degrees = (i % 2 ? 1 : -1) * (5 + i % 15);
    o.shift_x = (i % 7) * 3 - 9;
  }
  return Finger::Generate(1000 + static_cast<uint64_t>(i)).Render(320, 365, o);
}

// Within 10 px one to one, ours and the peer's, with the CPU time per image.
struct SideBySide {
  Score ours, peer;
  double ours_ms = 0, peer_ms = 0;
  bool has_peer = false;
  void Add(const SideBySide& o) {
    ours.Add(o.ours);
    peer.Add(o.peer);
    ours_ms += o.ours_ms;
    peer_ms += o.peer_ms;
  }
};

void QualityTable(int fingers) {
  const std::vector<Row> rows = Rows();
  std::vector<SideBySide> side(rows.size());
  std::printf("%-26s %6s %7s %7s %7s %9s %9s %9s %9s\n", "impressions (320x365)", "count", "P", "R",
              "types", "core P", "core R", "delta P", "delta R");
  Score deg_m;
  for (size_t r = 0; r < rows.size(); ++r) {
    Score m, c, d;
    for (int i = 0; i < fingers; ++i) {
      const auto imp = Impression(rows[r], r == 5, i);
      const double t0 = CpuMs();
      const auto f =
          Extract(imp.pixels.data(), imp.width, imp.height, DefaultConfig(), false, nullptr);
      const double t1 = CpuMs();
      const auto peer = PeerDetect(imp);
      const double t2 = CpuMs();
      m.Add(ScoreMinutiae(imp, f));
      c.Add(ScoreSingular(imp.cores, f.cores));
      d.Add(ScoreSingular(imp.deltas, f.deltas));
      side[r].ours.Add(ScorePositions(imp, f.minutiae));
      side[r].ours_ms += t1 - t0;
      if (peer) {
        side[r].peer.Add(ScorePositions(imp, *peer));
        side[r].peer_ms += t2 - t1;
        side[r].has_peer = true;
      }
    }
    if (r > 0) deg_m.Add(m);
    std::printf("%-26s %6d %7.3f %7.3f %7.3f %9.3f %9.3f %9.3f %9.3f\n", rows[r].name, fingers,
                m.precision(), m.recall(), m.type_agreement(), c.precision(), c.recall(),
                d.precision(), d.recall());
  }
  std::printf("%-26s %6d %7.3f %7.3f\n\n", "all degraded", fingers * 5, deg_m.precision(),
              deg_m.recall());

  // The same impressions under the rule a detector without directions can
  // meet; "-" where the benchmark was built without the peer.
  std::printf("%-26s %6s %7s %7s %8s %7s %7s %8s\n", "within 10 px, vs NBIS", "count", "P", "R",
              "ms", "NBIS P", "NBIS R", "NBIS ms");
  auto print = [](const char* name, int count, const SideBySide& s) {
    std::printf("%-26s %6d %7.3f %7.3f %8.2f", name, count, s.ours.precision(), s.ours.recall(),
                s.ours_ms / count);
    if (s.has_peer) {
      std::printf(" %7.3f %7.3f %8.2f\n", s.peer.precision(), s.peer.recall(), s.peer_ms / count);
    } else {
      std::printf(" %7s %7s %8s\n", "-", "-", "-");
    }
  };
  SideBySide degraded;
  for (size_t r = 0; r < rows.size(); ++r) {
    print(rows[r].name, fingers, side[r]);
    if (r > 0) degraded.Add(side[r]);
  }
  degraded.has_peer = side[0].has_peer;
  print("all degraded", fingers * 5, degraded);
  std::printf("\n");

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

// Time per image on one finger; the CPU time is the process's, as the
// peer's is.
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
BENCHMARK(BM_Extract)
    ->Args({320, 365})
    ->Args({448, 511})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

#ifdef DACTYRA_NBIS_PEER
void BM_Nbis(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const auto imp = Finger::Generate(5).Render(w, h);
  NbisDetector detector;
  std::vector<PeerMinutia> found;
  std::string error;
  for (auto _ : state)
    if (!detector.Detect(imp.pixels.data(), w, h, &found, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
}
BENCHMARK(BM_Nbis)
    ->Args({320, 365})
    ->Args({448, 511})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
#endif

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
