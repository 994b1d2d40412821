// The global score of two templates from the local similarities of their
// cylinders: Local Similarity Sort with Relaxation (LSS-R) of the Minutia
// Cylinder-Code paper (Cappelli, Ferrara and Maltoni, IEEE Trans. PAMI
// 32(12), 2010), with its parameters.
//
// 1. Every cylinder of one template is compared with every cylinder of the
//    other whose minutia direction is within δθ (the local similarity).
// 2. The best pairs are taken, one to one, greedily by similarity (a
//    counting sort over 1024 levels: cheaper than sorting the pairs).
// 3. Relaxation: for a few rounds each pair's weight moves towards the
//    weights of the pairs whose geometry agrees with it (distance, relative
//    direction and radial angle between the two minutiae in each template),
//    so pairs that agree only locally fade.
// 4. The score is the mean weight of the nP pairs whose weight held up best,
//    nP growing with the smaller template's size.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "matching/compare.h"
#include "matching/cylinder.h"
#include "matching/relaxation.h"

namespace dactyra::matching {
namespace {

// Consolidation parameters of the paper.
constexpr int kMinPairs = 4;    // minNP
constexpr int kMaxPairs = 12;   // maxNP
constexpr double kMuPairs = 20;      // μP
constexpr double kTauPairs = 0.4;    // τP
constexpr int kRounds = 5;           // nrel
constexpr float kKeep = 0.5f;        // wR

constexpr int kLevels = 1024;

double Sigmoid(double v, double mu, double tau) { return 1 / (1 + std::exp(-tau * (v - mu))); }

struct Pair {
  uint16_t a = 0, b = 0;
  float similarity = 0;
};

// Per-thread work space, so a comparison allocates nothing once warm.
struct Scratch {
  std::vector<LocalMatch> local;
  std::vector<uint16_t> levels;
  std::vector<uint32_t> sorted;
  std::vector<uint8_t> used_a, used_b;
  std::vector<Pair> pairs;
  PairGeometry geometry;
  std::vector<float> weight, next, compat;
  std::vector<float> efficiency;
  std::vector<uint16_t> order;
};

Scratch& Work() {
  thread_local Scratch scratch;
  return scratch;
}

int PairsToKeep(size_t smaller) {
  const double z = Sigmoid(static_cast<double>(smaller), kMuPairs, kTauPairs);
  return kMinPairs + static_cast<int>(std::lround(z * (kMaxPairs - kMinPairs)));
}

// Steps 1 and 2: the best one-to-one pairs by local similarity.
void SelectPairs(const PreparedTemplate& a, const PreparedTemplate& b, Scratch& s) {
  const size_t na = a.cylinders.size(), nb = b.cylinders.size();
  s.local.clear();
  LocalSimilarities(a, b, s.local);
  // Counting sort by level, best level first; within a level the order of
  // `local`, which is fixed.
  std::array<uint32_t, kLevels> start{};
  s.levels.resize(s.local.size());
  for (size_t m = 0; m < s.local.size(); ++m) {
    const auto level = std::min<uint32_t>(kLevels - 1, static_cast<uint32_t>(s.local[m].similarity * kLevels));
    s.levels[m] = static_cast<uint16_t>(kLevels - 1 - level);
    ++start[s.levels[m]];
  }
  uint32_t at = 0;
  for (auto& h : start) {
    const uint32_t count = h;
    h = at;
    at += count;
  }
  s.sorted.resize(s.local.size());
  for (size_t m = 0; m < s.local.size(); ++m) s.sorted[start[s.levels[m]]++] = static_cast<uint32_t>(m);

  s.used_a.assign(na, 0);
  s.used_b.assign(nb, 0);
  // Without a branch per pair, whose outcome no predictor learns: each
  // pair is written to the next free slot, and that slot is taken only
  // when both its minutiae were free.
  const size_t wanted = std::min(na, nb);
  s.pairs.resize(wanted + 1);
  // Through plain pointers: a store through uint8_t* may alias anything,
  // and the vectors' own would be read again after every one.
  uint8_t* const used_a = s.used_a.data();
  uint8_t* const used_b = s.used_b.data();
  const LocalMatch* const local = s.local.data();
  Pair* const pairs = s.pairs.data();
  const uint32_t* const sorted = s.sorted.data();
  const size_t candidates = s.sorted.size();
  size_t taken = 0;
  for (size_t i = 0; i < candidates; ++i) {
    const LocalMatch p = local[sorted[i]];
    const auto free = static_cast<uint8_t>(!(used_a[p.a] | used_b[p.b]));
    used_a[p.a] |= free;
    used_b[p.b] |= free;
    pairs[taken] = {p.a, p.b, p.similarity};
    taken += free;
    if (taken == wanted) break;
  }
  s.pairs.resize(taken);
}

// Step 3: the compatibility of the pairs with each other (relaxation.h),
// and the rounds.
void Relax(const PreparedTemplate& a, const PreparedTemplate& b, Scratch& s) {
  const size_t n = s.pairs.size();
  s.geometry.Reset(n);
  for (size_t t = 0; t < n; ++t) s.geometry.Set(t, a.points[s.pairs[t].a], b.points[s.pairs[t].b]);
  const size_t stride = s.geometry.stride;
  s.compat.resize(n * stride);
  Compatibilities(s.geometry, s.compat.data());
  s.weight.resize(n);
  s.next.resize(n);
  for (size_t t = 0; t < n; ++t) s.weight[t] = s.pairs[t].similarity;
  const float share = n > 1 ? (1 - kKeep) / static_cast<float>(n - 1) : 0.f;
  for (int round = 0; round < kRounds; ++round) {
    // Column after column, so that the inner loop runs over independent
    // sums and the compiler can vectorise it.
    for (size_t t = 0; t < n; ++t) s.next[t] = kKeep * s.weight[t];
    for (size_t k = 0; k < n; ++k) {
      const float lent = share * s.weight[k];
      const float* column = &s.compat[k * stride];
      for (size_t t = 0; t < n; ++t) s.next[t] += column[t] * lent;
    }
    std::swap(s.weight, s.next);
  }
}

// `with_move`: whether to estimate the move too (CompareDetailed), which
// takes a few sines and cosines a bare score does without.
Comparison Consolidate(const PreparedTemplate& a, const PreparedTemplate& b, bool with_move) {
  Comparison result;
  const size_t na = a.cylinders.size(), nb = b.cylinders.size();
  if (na == 0 || nb == 0) return result;
  Scratch& s = Work();
  SelectPairs(a, b, s);
  if (s.pairs.empty()) return result;
  Relax(a, b, s);

  // Step 4: the pairs whose weight held up best (efficiency: final weight
  // over the first), nP of them; missing pairs count as zero.
  const size_t n = s.pairs.size();
  const size_t keep = std::min<size_t>(n, static_cast<size_t>(PairsToKeep(std::min(na, nb))));
  s.efficiency.resize(n);
  for (size_t t = 0; t < n; ++t) s.efficiency[t] = s.weight[t] / s.pairs[t].similarity;
  s.order.resize(n);
  for (size_t t = 0; t < n; ++t) s.order[t] = static_cast<uint16_t>(t);
  std::partial_sort(s.order.begin(), s.order.begin() + static_cast<std::ptrdiff_t>(keep),
                    s.order.end(), [&](uint16_t x, uint16_t y) {
                      const float ex = s.efficiency[x], ey = s.efficiency[y];
                      return ex > ey || (ex == ey && x < y);
                    });
  double total = 0;
  for (size_t i = 0; i < keep; ++i) total += s.weight[s.order[i]];
  const double score = total / PairsToKeep(std::min(na, nb));
  result.score = static_cast<int32_t>(std::lround(std::clamp(score, 0.0, 1.0) * kMaxScore));
  result.pairs = static_cast<int32_t>(keep);
  if (!with_move) return result;

  // The move, from the kept pairs: the mean turn, then the mean shift left
  // after turning (image coordinates, y down).
  double sin_sum = 0, cos_sum = 0;
  for (size_t i = 0; i < keep; ++i) {
    const Pair& p = s.pairs[s.order[i]];
    const double turn = b.points[p.b].direction - a.points[p.a].direction;
    sin_sum += std::sin(turn);
    cos_sum += std::cos(turn);
  }
  const double turn = std::atan2(sin_sum, cos_sum);
  const double c = std::cos(turn), sn = std::sin(turn);
  double dx = 0, dy = 0;
  for (size_t i = 0; i < keep; ++i) {
    const Pair& p = s.pairs[s.order[i]];
    const double ax = a.points[p.a].x, ay = -a.points[p.a].y;
    const double bx = b.points[p.b].x, by = -b.points[p.b].y;
    dx += bx - (c * ax + sn * ay);
    dy += by - (-sn * ax + c * ay);
  }
  result.rotation_degrees = turn * 180 / std::numbers::pi;
  result.dx = dx / static_cast<double>(keep);
  result.dy = dy / static_cast<double>(keep);
  return result;
}

}  // namespace

Comparison CompareDetailed(const Template& a, const Template& b) {
  return Consolidate(a.prepared(), b.prepared(), true);
}

int32_t Compare(const Template& a, const Template& b) {
  return Consolidate(a.prepared(), b.prepared(), false).score;
}

}  // namespace dactyra::matching
