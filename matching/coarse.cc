// Pooling cylinders into coarse ones, and the quick score over them (see
// coarse.h).
#include "matching/coarse.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "matching/always_inline.h"

namespace dactyra::matching {
namespace {

using namespace mcc;

// The coarse cells that hold a cell within R.
struct CoarseCircle {
  uint64_t cells = 0;
  int count = 0;
  CoarseCircle() {
    constexpr double size = 2 * kRadius / kSide;
    for (int j = 0; j < kSide; ++j)
      for (int i = 0; i < kSide; ++i) {
        const double a = size * (i - (kSide - 1) / 2.0), b = size * (j - (kSide - 1) / 2.0);
        if (a * a + b * b <= kRadius * kRadius) cells |= uint64_t{1} << ((j / 2) * kCoarseSide + i / 2);
      }
    count = std::popcount(cells);
  }
};

const CoarseCircle& Circle() {
  static const CoarseCircle circle;
  return circle;
}

// sqrt(n) for every count of a coarse comparison.
struct Roots {
  std::array<float, kSections * 64 + 1> v{};
  Roots() {
    for (size_t n = 0; n < v.size(); ++n) v[n] = static_cast<float>(std::sqrt(double(n)));
  }
};

const Roots& Root() {
  static const Roots roots;
  return roots;
}

// One plane of fine cells pooled: bit (j/2)·8 + i/2 for each cell (i, j) set.
uint64_t Pool(const uint64_t* plane) {
  uint64_t out = 0;
  for (int cell = 0; cell < kCells; ++cell)
    if ((plane[cell / 64] >> (cell % 64)) & 1) {
      const int i = cell % kSide, j = cell / kSide;
      out |= uint64_t{1} << ((j / 2) * kCoarseSide + i / 2);
    }
  return out;
}

DACTYRA_ALWAYS_INLINE float Local(const CoarseCylinder& a, const CoarseCylinder& b,
                                  const float* root, int min_common) {
  int pa = 0, pb = 0, pd = 0;
  if (a.whole && b.whole) {
    pa = a.ones;
    pb = b.ones;
    for (int k = 0; k < kSections; ++k) pd += __builtin_popcountll(a.bits[k] ^ b.bits[k]);
  } else {
    const uint64_t mask = a.valid & b.valid;
    if (__builtin_popcountll(mask) < min_common) return 0;
    for (int k = 0; k < kSections; ++k) {
      const uint64_t x = a.bits[k] & mask, y = b.bits[k] & mask;
      pa += __builtin_popcountll(x);
      pb += __builtin_popcountll(y);
      pd += __builtin_popcountll(x ^ y);
    }
  }
  if (pa + pb == 0) return 0;
  return 1 - root[pd] / (root[pa] + root[pb]);
}

// The turn within which two minutiae may correspond in the quick score, as
// a binary angle: 45 degrees, half the full comparison's δθ. Two
// impressions turned by up to 30 degrees, with directions each found to
// within a few degrees, stay inside it; the score costs half as much.
constexpr int32_t kQuickTurn = 8192;

int PairsToKeep(size_t smaller) {
  const double z = 1 / (1 + std::exp(-0.4 * (static_cast<double>(smaller) - 20)));
  return 4 + static_cast<int>(std::lround(z * 8));
}

// The score, built plain and for POPCNT (see local_similarity.cc). Both
// templates are in order of direction: the partners within δθ of each
// probe cylinder are one run of `other`, read round the circle.
#define DACTYRA_QUICK_SCORE(NAME, ATTRIBUTE)                                                          \
ATTRIBUTE float NAME(const std::vector<CoarseCylinder>& probe,                                        \
                     const std::vector<CoarseCylinder>& other, std::vector<float>& best) {            \
  const size_t na = probe.size(), nb = other.size();                                                  \
  if (na == 0 || nb == 0) return 0;                                                                   \
  const float* root = Root().v.data();                                                                \
  const int min_common = static_cast<int>(std::ceil(kMinMatchable * Circle().count));                 \
  constexpr int32_t kTurn = 65536;                                                                    \
  constexpr int32_t kWindow = kQuickTurn;                                                             \
  const auto laid = [&](size_t e) {                                                                   \
    return static_cast<int32_t>(other[e % nb].angle) + kTurn * (static_cast<int32_t>(e / nb) - 1);    \
  };                                                                                                  \
  best.assign(na, 0.f);                                                                               \
  size_t lo = 0, hi = 0;                                                                              \
  for (size_t i = 0; i < na; ++i) {                                                                   \
    const int32_t centre = probe[i].angle;                                                            \
    while (lo < 3 * nb && laid(lo) < centre - kWindow) ++lo;                                          \
    hi = std::max(hi, lo);                                                                            \
    while (hi < 3 * nb && laid(hi) <= centre + kWindow) ++hi;                                         \
    size_t j = lo % nb;                                                                               \
    float top = 0;                                                                                    \
    for (size_t e = lo; e < hi; ++e) {                                                                \
      top = std::max(top, Local(probe[i], other[j], root, min_common));                               \
      if (++j == nb) j = 0;                                                                           \
    }                                                                                                 \
    best[i] = top;                                                                                    \
  }                                                                                                   \
  const size_t keep = std::min(na, static_cast<size_t>(PairsToKeep(std::min(na, nb))));               \
  std::partial_sort(best.begin(), best.begin() + static_cast<std::ptrdiff_t>(keep), best.end(),       \
                    std::greater<float>());                                                           \
  float sum = 0;                                                                                      \
  for (size_t i = 0; i < keep; ++i) sum += best[i];                                                   \
  return sum / static_cast<float>(PairsToKeep(std::min(na, nb)));                                     \
}

DACTYRA_QUICK_SCORE(QuickPortable, )
#if defined(__x86_64__) || defined(__i386__)
DACTYRA_QUICK_SCORE(QuickPopcnt, __attribute__((target("popcnt"))))
#else
#define QuickPopcnt QuickPortable
#endif
#undef DACTYRA_QUICK_SCORE

}  // namespace

CoarseCylinder Coarsen(const Cylinder& c, uint16_t angle) {
  CoarseCylinder out;
  for (int k = 0; k < kSections; ++k) {
    out.bits[k] = Pool(&c.bits[static_cast<size_t>(k) * kPlaneWords]);
    out.ones = static_cast<uint16_t>(out.ones + std::popcount(out.bits[k]));
  }
  out.valid = Pool(c.valid.data());
  out.angle = angle;
  out.whole = (out.valid & Circle().cells) == Circle().cells;
  return out;
}

float QuickScore(const std::vector<CoarseCylinder>& probe, const std::vector<CoarseCylinder>& other) {
  thread_local std::vector<float> best;
  return KernelRuns(Kernel::kPopcnt) ? QuickPopcnt(probe, other, best)
                                     : QuickPortable(probe, other, best);
}

}  // namespace dactyra::matching
