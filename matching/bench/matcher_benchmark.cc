// The matcher measured on a set of impressions written by fingerprint_set,
// each turned into a template by the open engine, as an application would.
//
//   matcher_benchmark --set DIR [--pool DIR] [--peer FILE] [--largest N]
//       [--compare-loop N | --identify-loop N] [benchmark flags]
//
// First the accuracy, printed as text:
// - every pair of impressions of one finger is a genuine comparison, every
//   pair of impressions of two fingers an impostor one; from their scores
//   the equal error rate, the false non-match rate at false match rates of
//   1 %, 0.1 % and 0.01 %, and the thresholds that give those rates; and
//   both rates at the thresholds compare.h names;
// - rank-1 identification: each finger's impression 0 enrolled, each of its
//   other impressions searched for, among the set's fingers alone and among
//   10,000 entries (the rest made from the pool);
// - with --peer, the trials libfprint_peer.py ran, scored by us: libfprint's
//   false match and non-match rates at its own threshold, and ours at the
//   same false match rate.
// Then the times, as Google Benchmark cases: one comparison, and one
// identification among N entries for N from 1,000 to --largest (100,000 by
// default). Entries beyond the set are made from the pool's templates
// (--pool, a set of other fingers, else the set's own): each takes the
// minutiae of its four quarters from four different templates, so it looks
// like a finger to the matcher and matches none. --compare-loop N only
// runs N comparisons, --identify-loop N only N searches of each kind
// among 10,000 (for profilers).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "matching/compare.h"
#include "matching/gallery.h"
#include "sim/extract/extractor.h"
#include "sim/fingerprint/random.h"

namespace dactyra::matching {
namespace {

struct Options {
  std::string set, pool, peer;
  size_t largest = 100000;
  long compare_loop = 0, identify_loop = 0;
};
Options g_options;

struct Set {
  int fingers = 0, impressions = 0;
  std::vector<std::vector<Template>> templates;  // [finger][impression]
};

unsigned Workers() { return std::max(1u, std::thread::hardware_concurrency()); }

// Runs work(i) for i in [0, n) on every core.
template <typename Work>
void Parallel(size_t n, Work work) {
  std::atomic<size_t> next{0};
  std::vector<std::thread> pool;
  auto run = [&] {
    for (size_t i; (i = next++) < n;) work(i);
  };
  for (unsigned t = 1; t < Workers(); ++t) pool.emplace_back(run);
  run();
  for (auto& t : pool) t.join();
}

std::vector<uint8_t> ReadPgm(const std::string& path, int* width, int* height) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int depth = 0;
  in >> magic >> *width >> *height >> depth;
  in.get();
  std::vector<uint8_t> pixels(static_cast<size_t>(std::max(0, *width)) * std::max(0, *height));
  in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  if (magic != "P5" || depth != 255 || !in || pixels.empty()) {
    std::fprintf(stderr, "%s: not an 8-bit PGM\n", path.c_str());
    std::exit(1);
  }
  return pixels;
}

Template TemplateOf(const std::string& path) {
  int w = 0, h = 0;
  const auto pixels = ReadPgm(path, &w, &h);
  const auto f = sim::extract::Extract(pixels.data(), w, h, sim::extract::DefaultConfig(), false,
                                       nullptr);
  std::vector<uint8_t> record(
      static_cast<size_t>(sim::extract::WriteRecord(f, nullptr, w, h, 500, 500, 0, 0, true, true)));
  sim::extract::WriteRecord(f, record.data(), w, h, 500, 500, 0, 0, true, true);
  return Template::FromRecord(record);
}

Set LoadSet(const std::string& dir) {
  Set s;
  std::ifstream manifest(dir + "/set.txt");
  std::string word;
  manifest >> word >> s.fingers >> word >> s.impressions;
  if (!manifest || s.fingers < 1 || s.impressions < 1) {
    std::fprintf(stderr, "%s/set.txt: not a set of impressions\n", dir.c_str());
    std::exit(1);
  }
  s.templates.assign(static_cast<size_t>(s.fingers), std::vector<Template>(static_cast<size_t>(s.impressions)));
  Parallel(static_cast<size_t>(s.fingers) * s.impressions, [&](size_t i) {
    const size_t f = i / static_cast<size_t>(s.impressions), k = i % static_cast<size_t>(s.impressions);
    char name[64];
    std::snprintf(name, sizeof name, "/f%05zu_%zu.pgm", f, k);
    s.templates[f][k] = TemplateOf(dir + name);
  });
  return s;
}

const Set& TheSet() {
  static const Set set = LoadSet(g_options.set);
  return set;
}

const Set& ThePool() {
  static const Set pool = g_options.pool.empty() ? TheSet() : LoadSet(g_options.pool);
  return pool;
}

// An entry that matches no finger: each quarter of the picture (about its
// centre) from another template of the pool.
Template Chimera(uint64_t seed) {
  const Set& pool = ThePool();
  sim::fingerprint::Random rng(seed);
  std::vector<Minutia> m;
  for (int quarter = 0; quarter < 4; ++quarter) {
    const auto& finger = pool.templates[rng.Next() % pool.templates.size()];
    const Template& from = finger[rng.Next() % finger.size()];
    for (const Minutia& x : from.minutiae())
      if ((x.x >= 160) == (quarter % 2 == 1) && (x.y >= 182) == (quarter / 2 == 1)) m.push_back(x);
  }
  return Template::FromMinutiae(m);
}

// --- Accuracy ----------------------------------------------------------------

struct Rates {
  std::vector<int32_t> genuine, impostor;  // sorted
  // Impostor scores at or above t, as a fraction; genuine ones below t.
  double Fmr(int32_t t) const {
    const auto above = impostor.end() - std::lower_bound(impostor.begin(), impostor.end(), t);
    return static_cast<double>(above) / static_cast<double>(impostor.size());
  }
  double Fnmr(int32_t t) const {
    const auto below = std::lower_bound(genuine.begin(), genuine.end(), t) - genuine.begin();
    return static_cast<double>(below) / static_cast<double>(genuine.size());
  }
  // The lowest threshold whose false match rate is at most `fmr`.
  int32_t ThresholdAt(double fmr) const {
    int32_t lo = 0, hi = kMaxScore + 1;
    while (lo < hi) {
      const int32_t mid = (lo + hi) / 2;
      if (Fmr(mid) <= fmr) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    return lo;
  }
  double EqualError(int32_t* at) const {
    double best = 2, eer = 1;
    for (int32_t t = 0; t <= kMaxScore + 1; ++t) {
      const double a = Fmr(t), b = Fnmr(t);
      if (std::abs(a - b) < best) {
        best = std::abs(a - b);
        eer = (a + b) / 2;
        *at = t;
      }
    }
    return eer;
  }
};

void Accuracy() {
  const Set& s = TheSet();
  const size_t fingers = static_cast<size_t>(s.fingers), per = static_cast<size_t>(s.impressions);
  const size_t n = fingers * per;
  std::vector<std::vector<int32_t>> genuine(n), impostor(n);
  Parallel(n, [&](size_t a) {
    const size_t fa = a / per;
    for (size_t b = a + 1; b < n; ++b) {
      const int32_t score = Compare(s.templates[fa][a % per], s.templates[b / per][b % per]);
      (b / per == fa ? genuine : impostor)[a].push_back(score);
    }
  });
  Rates r;
  for (size_t i = 0; i < n; ++i) {
    r.genuine.insert(r.genuine.end(), genuine[i].begin(), genuine[i].end());
    r.impostor.insert(r.impostor.end(), impostor[i].begin(), impostor[i].end());
  }
  std::sort(r.genuine.begin(), r.genuine.end());
  std::sort(r.impostor.begin(), r.impostor.end());
  std::printf("matcher accuracy: %zu fingers x %zu impressions, %zu genuine and %zu impostor "
              "comparisons\n", fingers, per, r.genuine.size(), r.impostor.size());
  int32_t at = 0;
  const double eer = r.EqualError(&at);
  std::printf("matcher EER %.5f (threshold %d)\n", eer, at);
  for (double fmr : {0.01, 0.001, 0.0001}) {
    const int32_t t = r.ThresholdAt(fmr);
    std::printf("matcher FNMR at FMR %g: %.5f (threshold %d, FMR %.6f)\n", fmr, r.Fnmr(t), t,
                r.Fmr(t));
  }
  for (const auto& [name, t] : {std::pair{"kThresholdFmr1In1000", kThresholdFmr1In1000},
                                 std::pair{"kThresholdFmr1In10000", kThresholdFmr1In10000}})
    std::printf("matcher at %s (%d): FMR %.6f (%zu impostor scores), FNMR %.5f\n", name, t,
                r.Fmr(t), static_cast<size_t>(std::llround(r.Fmr(t) * static_cast<double>(r.impostor.size()))),
                r.Fnmr(t));
  size_t usable = 0, templates = 0;
  for (const auto& f : s.templates)
    for (const Template& t : f) {
      usable += t.usable();
      ++templates;
    }
  std::printf("matcher templates: %.1f usable minutiae on average\n",
              static_cast<double>(usable) / static_cast<double>(templates));
}

// Rank-1: impression 0 of each finger enrolled (with `distractors` more
// entries from the pool), every other impression searched for.
// Each search narrowed by the quick score (Identify) and exhaustive.
void RankOne(size_t distractors) {
  const Set& s = TheSet();
  Gallery gallery;
  for (int f = 0; f < s.fingers; ++f) gallery.Add(f, s.templates[static_cast<size_t>(f)][0]);
  std::vector<Template> extra(distractors);
  Parallel(distractors, [&](size_t i) { extra[i] = Chimera(7000 + i); });
  for (size_t i = 0; i < distractors; ++i) gallery.Add(static_cast<EntryId>(1000000 + i), extra[i]);
  std::atomic<size_t> right{0}, right_exhaustive{0}, probes{0};
  Parallel(static_cast<size_t>(s.fingers), [&](size_t f) {
    for (size_t k = 1; k < s.templates[f].size(); ++k) {
      const auto found = gallery.Identify(s.templates[f][k], 0, 1);
      right += !found.empty() && found[0].id == static_cast<EntryId>(f);
      const auto all = gallery.IdentifyExhaustively(s.templates[f][k], 0, 1);
      right_exhaustive += !all.empty() && all[0].id == static_cast<EntryId>(f);
      ++probes;
    }
  });
  std::printf("matcher rank-1 identification among %zu: %.5f, exhaustive %.5f (%zu probes)\n",
              gallery.size(), static_cast<double>(right) / static_cast<double>(probes),
              static_cast<double>(right_exhaustive) / static_cast<double>(probes), probes.load());
}

// The trials of libfprint_peer.py, libfprint's answers, and ours.
void Peer() {
  std::ifstream in(g_options.peer);
  if (!in) {
    std::printf("matcher peer: no results from libfprint (%s)\n", g_options.peer.c_str());
    return;
  }
  const Set& s = TheSet();
  auto score = [&](int f, int g, int k) {
    int32_t best = 0;
    for (int e = 0; e < 5 && e < s.impressions; ++e)
      best = std::max(best, Compare(s.templates[static_cast<size_t>(g)][static_cast<size_t>(k)],
                                    s.templates[static_cast<size_t>(f)][static_cast<size_t>(e)]));
    return best;
  };
  Rates ours;
  size_t genuine = 0, genuine_matched = 0, impostor = 0, impostor_matched = 0;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string kind;
    int f = 0, g = 0, k = 0, match = 0;
    words >> kind;
    if (kind == "genuine" && (words >> f >> k >> match) && f < s.fingers && k < s.impressions) {
      ++genuine;
      genuine_matched += match;
      ours.genuine.push_back(score(f, f, k));
    } else if (kind == "impostor" && (words >> f >> g >> k >> match) && f < s.fingers &&
               g < s.fingers && k < s.impressions) {
      ++impostor;
      impostor_matched += match;
      ours.impostor.push_back(score(f, g, k));
    }
  }
  if (genuine == 0 || impostor == 0) {
    std::printf("matcher peer: no trials in %s\n", g_options.peer.c_str());
    return;
  }
  std::sort(ours.genuine.begin(), ours.genuine.end());
  std::sort(ours.impostor.begin(), ours.impostor.end());
  const double fmr = static_cast<double>(impostor_matched) / static_cast<double>(impostor);
  const double fnmr = 1 - static_cast<double>(genuine_matched) / static_cast<double>(genuine);
  const int32_t t = ours.ThresholdAt(fmr);
  std::printf("matcher peer trials: %zu genuine, %zu impostor\n", genuine, impostor);
  std::printf("matcher peer libfprint FMR %.5f FNMR %.5f\n", fmr, fnmr);
  std::printf("matcher peer ours at the same FMR: FMR %.5f FNMR %.5f (threshold %d)\n",
              ours.Fmr(t), ours.Fnmr(t), t);
}

// --- Times -------------------------------------------------------------------

void BM_Compare(benchmark::State& state) {
  const Set& s = TheSet();
  sim::fingerprint::Random rng(11);
  std::vector<std::pair<const Template*, const Template*>> pairs;
  for (int i = 0; i < 4096; ++i) {
    const auto& a = s.templates[rng.Next() % s.templates.size()];
    const auto& b = s.templates[rng.Next() % s.templates.size()];
    pairs.push_back({&a[rng.Next() % a.size()], &b[rng.Next() % b.size()]});
  }
  size_t i = 0;
  for (auto _ : state) {
    const auto& [a, b] = pairs[i++ % pairs.size()];
    benchmark::DoNotOptimize(Compare(*a, *b));
  }
}
BENCHMARK(BM_Compare);

// A gallery of N entries: the set's first impressions and entries made from
// the pool. Made once per size: Google Benchmark runs a case again for each
// repetition, and both searches read the same one.
const Gallery& GalleryOf(size_t n) {
  const Set& s = TheSet();
  static std::map<size_t, std::unique_ptr<Gallery>> made;
  auto& slot = made[n];
  if (!slot) {
    slot = std::make_unique<Gallery>();
    size_t added = 0;
    for (int f = 0; f < s.fingers && added < n; ++f, ++added)
      slot->Add(f, s.templates[static_cast<size_t>(f)][0]);
    std::vector<Template> extra(n - added);
    Parallel(extra.size(), [&](size_t i) { extra[i] = Chimera(7000 + i); });
    for (size_t i = 0; i < extra.size(); ++i) slot->Add(static_cast<EntryId>(1000000 + i), extra[i]);
  }
  return *slot;
}

// One identification among N entries, searched for the set's other
// impressions: narrowed by the quick score (Identify), or exhaustive.
template <bool kExhaustive>
void BM_Identify(benchmark::State& state) {
  const Set& s = TheSet();
  const size_t n = static_cast<size_t>(state.range(0));
  if (n > g_options.largest) {
    state.SkipWithError("above --largest");
    return;
  }
  const Gallery& gallery = GalleryOf(n);
  size_t i = 0;
  for (auto _ : state) {
    const auto& f = s.templates[i % s.templates.size()];
    const Template& probe = f[1 + (i / s.templates.size()) % (f.size() - 1)];
    benchmark::DoNotOptimize(kExhaustive ? gallery.IdentifyExhaustively(probe, kDefaultThreshold, 5)
                                         : gallery.Identify(probe, kDefaultThreshold, 5));
    ++i;
  }
  // Time per entry searched, in nanoseconds: the inverse of entries per
  // nanosecond.
  state.counters["ns_per_entry"] = benchmark::Counter(
      static_cast<double>(n) / 1e9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Identify<false>)->Name("BM_Identify")->Arg(1000)->Arg(3000)->Arg(10000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Identify<true>)->Name("BM_IdentifyExhaustive")->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void CompareLoop(long n) {
  const Set& s = TheSet();
  int64_t sum = 0;
  for (long i = 0; i < n; ++i) {
    const auto& a = s.templates[static_cast<size_t>(i) % s.templates.size()];
    const auto& b = s.templates[(static_cast<size_t>(i) / s.templates.size() + 1) % s.templates.size()];
    sum += Compare(a[0], b[1 % b.size()]);
  }
  std::printf("%ld comparisons, mean score %.1f\n", n, static_cast<double>(sum) / n);
}

// N searches among 10,000 entries narrowed, then N exhaustive: their
// instruction counts under callgrind are Gallery::Identify's and
// Gallery::IdentifyExhaustively's.
void IdentifyLoop(long n) {
  const Set& s = TheSet();
  const Gallery& gallery = GalleryOf(10000);
  size_t found = 0;
  for (int exhaustive = 0; exhaustive < 2; ++exhaustive)
    for (long i = 0; i < n; ++i) {
      const auto& f = s.templates[static_cast<size_t>(i) % s.templates.size()];
      const Template& probe = f[1 % f.size()];
      found += (exhaustive ? gallery.IdentifyExhaustively(probe, kDefaultThreshold, 5)
                           : gallery.Identify(probe, kDefaultThreshold, 5)).size();
    }
  std::printf("%ld searches of each kind, %zu candidates\n", n, found);
}

}  // namespace
}  // namespace dactyra::matching

int main(int argc, char** argv) {
  using namespace dactyra::matching;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    const bool value = i + 1 < argc;
    if (value && !std::strcmp(argv[i], "--set")) {
      g_options.set = argv[++i];
    } else if (value && !std::strcmp(argv[i], "--pool")) {
      g_options.pool = argv[++i];
    } else if (value && !std::strcmp(argv[i], "--peer")) {
      g_options.peer = argv[++i];
    } else if (value && !std::strcmp(argv[i], "--largest")) {
      g_options.largest = static_cast<size_t>(std::atol(argv[++i]));
    } else if (value && !std::strcmp(argv[i], "--compare-loop")) {
      g_options.compare_loop = std::atol(argv[++i]);
    } else if (value && !std::strcmp(argv[i], "--identify-loop")) {
      g_options.identify_loop = std::atol(argv[++i]);
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (g_options.set.empty()) {
    std::fprintf(stderr, "usage: see the first comment of matcher_benchmark.cc\n");
    return 2;
  }
  TheSet();
  if (g_options.compare_loop > 0) {
    CompareLoop(g_options.compare_loop);
    return 0;
  }
  if (g_options.identify_loop > 0) {
    IdentifyLoop(g_options.identify_loop);
    return 0;
  }
  Accuracy();
  RankOne(0);
  RankOne(10000 - static_cast<size_t>(TheSet().fingers));
  if (!g_options.peer.empty()) Peer();
  std::fflush(stdout);
  int n = static_cast<int>(rest.size());
  benchmark::Initialize(&n, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
