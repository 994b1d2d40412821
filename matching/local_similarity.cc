// The local similarities of two templates' cylinders: the inner loop of
// every comparison. One body, built for four targets: plain C++; processors
// with the POPCNT instruction, where a 64-bit count is one instruction
// instead of a dozen; AVX2, a plane of 256 cells at a time; and AVX-512 with
// VPOPCNTQ, two planes at a time. The widest the processor runs is chosen
// once, at the first call; all four give the same similarities.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "matching/cylinder.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#if defined(__GNUC__)
#define DACTYRA_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define DACTYRA_ALWAYS_INLINE inline
#endif

namespace dactyra::matching {
namespace {

using namespace mcc;

// sqrt(n) for every bit count a comparison can meet.
struct Roots {
  std::array<float, kWords * 64 + 1> v{};
  Roots() {
    for (size_t n = 0; n < v.size(); ++n) v[n] = static_cast<float>(std::sqrt(double(n)));
  }
};

struct Constants {
  const float* root;
  int min_common;  // cells valid in both, at least
};

const Constants& Shared() {
  static const Roots roots;
  static const Constants constants{roots.v.data(),
                                    static_cast<int>(std::ceil(kMinMatchable * CellsWithinRadius()))};
  return constants;
}

// The three bit counts of two cylinders over the cells valid in both, and
// the similarity they give.
struct Counts {
  int a = 0, b = 0, differ = 0;
};

DACTYRA_ALWAYS_INLINE float FromCounts(const Counts& c, const Constants& k) {
  if (c.a + c.b == 0) return 0;
  return 1 - k.root[c.differ] / (k.root[c.a] + k.root[c.b]);
}

// Word by word, with the compiler's 64-bit count (one instruction where the
// target has POPCNT).
DACTYRA_ALWAYS_INLINE float LocalWords(const Cylinder& a, const Cylinder& b, const Constants& k) {
  Counts c;
  if (a.whole && b.whole) {
    // Every cell within R is valid in both, and no bit lies outside them.
    c.a = a.ones;
    c.b = b.ones;
    for (int i = 0; i < kWords; ++i) c.differ += __builtin_popcountll(a.bits[i] ^ b.bits[i]);
    return FromCounts(c, k);
  }
  uint64_t mask[kPlaneWords];
  int common = 0;
  for (int w = 0; w < kPlaneWords; ++w) {
    mask[w] = a.valid[w] & b.valid[w];
    common += __builtin_popcountll(mask[w]);
  }
  if (common < k.min_common) return 0;
  for (int p = 0; p < kSections; ++p)
    for (int w = 0; w < kPlaneWords; ++w) {
      const uint64_t x = a.bits[p * kPlaneWords + w] & mask[w];
      const uint64_t y = b.bits[p * kPlaneWords + w] & mask[w];
      c.a += __builtin_popcountll(x);
      c.b += __builtin_popcountll(y);
      c.differ += __builtin_popcountll(x ^ y);
    }
  return FromCounts(c, k);
}

// The cylinders of b within δθ of one of a's lie in one run of b's order
// of direction, read round the circle. Both templates are in that order,
// so the run's ends only move forward from one of a's cylinders to the
// next: b's directions are laid out three times over (one turn less, as
// they are, one turn more) and the run is the indices whose direction lies
// within δθ of a's. One body for every kernel, each built for its target.
#define DACTYRA_LOCAL_RUN(NAME, ATTRIBUTE, LOCAL)                                               \
  ATTRIBUTE void NAME(const PreparedTemplate& a, const PreparedTemplate& b,                    \
                      std::vector<LocalMatch>& out) {                                          \
    const size_t na = a.cylinders.size(), nb = b.cylinders.size();                            \
    if (na == 0 || nb == 0) return;                                                            \
    const Constants& k = Shared();                                                             \
    constexpr int32_t kTurn = 65536;                                                           \
    const auto laid = [&](size_t e) {                                                          \
      return static_cast<int32_t>(b.points[e % nb].angle) +                                    \
             kTurn * (static_cast<int32_t>(e / nb) - 1);                                       \
    };                                                                                         \
    size_t lo = 0, hi = 0;                                                                     \
    for (size_t i = 0; i < na; ++i) {                                                          \
      const int32_t centre = a.points[i].angle;                                                \
      while (lo < 3 * nb && laid(lo) < centre - kWindow) ++lo;                                 \
      hi = std::max(hi, lo);                                                                   \
      while (hi < 3 * nb && laid(hi) <= centre + kWindow) ++hi;                                \
      size_t j = lo % nb;                                                                      \
      for (size_t e = lo; e < hi; ++e) {                                                       \
        const float g = LOCAL(a.cylinders[i], b.cylinders[j], k);                              \
        if (g > 0) out.push_back({static_cast<uint16_t>(i), static_cast<uint16_t>(j), g});     \
        if (++j == nb) j = 0;                                                                  \
      }                                                                                        \
    }                                                                                          \
  }                                                                                            \
  ATTRIBUTE float NAME##Pair(const Cylinder& a, const Cylinder& b) { return LOCAL(a, b, Shared()); }

constexpr int32_t kWindow = static_cast<int32_t>(kMaxTurn / 3.14159265358979323846 * 32768 + 0.5);

DACTYRA_LOCAL_RUN(RunPortable, , LocalWords)

#if defined(__x86_64__) || defined(__i386__)

// The same counts a plane (256 bits, one AVX2 register) at a time; the
// counts of each byte come from a table of the counts of each half byte
// (W. Muła's method), and are summed across the six planes before being
// widened, which a byte holds (at most 48).
__attribute__((target("avx2,popcnt"))) DACTYRA_ALWAYS_INLINE __m256i Nibbles(__m256i v) {
  const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2,
                                         1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i low = _mm256_set1_epi8(0x0F);
  return _mm256_add_epi8(_mm256_shuffle_epi8(table, _mm256_and_si256(v, low)),
                         _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(v, 4), low)));
}

__attribute__((target("avx2,popcnt"))) DACTYRA_ALWAYS_INLINE __m256i Plane(const Cylinder& c, int p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&c.bits[static_cast<size_t>(p) * kPlaneWords]));
}

__attribute__((target("avx2,popcnt"))) DACTYRA_ALWAYS_INLINE int Total(__m256i bytes) {
  const __m256i sums = _mm256_sad_epu8(bytes, _mm256_setzero_si256());
  return static_cast<int>(_mm256_extract_epi64(sums, 0) + _mm256_extract_epi64(sums, 1) +
                          _mm256_extract_epi64(sums, 2) + _mm256_extract_epi64(sums, 3));
}

__attribute__((target("avx2,popcnt"))) DACTYRA_ALWAYS_INLINE float LocalAvx2(const Cylinder& a,
                                                                            const Cylinder& b,
                                                                            const Constants& k) {
  static_assert(kPlaneWords == 4);
  Counts c;
  if (a.whole && b.whole) {
    __m256i differ = _mm256_setzero_si256();
    for (int p = 0; p < kSections; ++p)
      differ = _mm256_add_epi8(differ, Nibbles(_mm256_xor_si256(Plane(a, p), Plane(b, p))));
    c.a = a.ones;
    c.b = b.ones;
    c.differ = Total(differ);
    return FromCounts(c, k);
  }
  const __m256i mask =
      _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a.valid.data())),
                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b.valid.data())));
  if (Total(Nibbles(mask)) < k.min_common) return 0;
  __m256i ca = _mm256_setzero_si256(), cb = ca, differ = ca;
  for (int p = 0; p < kSections; ++p) {
    const __m256i x = _mm256_and_si256(Plane(a, p), mask);
    const __m256i y = _mm256_and_si256(Plane(b, p), mask);
    ca = _mm256_add_epi8(ca, Nibbles(x));
    cb = _mm256_add_epi8(cb, Nibbles(y));
    differ = _mm256_add_epi8(differ, Nibbles(_mm256_xor_si256(x, y)));
  }
  c.a = Total(ca);
  c.b = Total(cb);
  c.differ = Total(differ);
  return FromCounts(c, k);
}

// Two planes to a 512-bit register, counted by the VPOPCNTQ instruction.
// (GCC 12's own _mm512_reduce_add_epi64 and _mm512_broadcast_i64x4 trip
// its uninitialised-value warning, hence the ways through memory.)
__attribute__((target("avx512f,avx512vpopcntdq,popcnt"))) DACTYRA_ALWAYS_INLINE int Sum(__m512i v) {
  alignas(64) int64_t lanes[8];
  _mm512_store_si512(lanes, v);
  return static_cast<int>(lanes[0] + lanes[1] + lanes[2] + lanes[3] + lanes[4] + lanes[5] +
                          lanes[6] + lanes[7]);
}

__attribute__((target("avx512f,avx512vpopcntdq,popcnt"))) DACTYRA_ALWAYS_INLINE __m512i PlanePair(
    const Cylinder& c, int i) {
  return _mm512_loadu_si512(&c.bits[static_cast<size_t>(i) * 8]);
}

__attribute__((target("avx512f,avx512vpopcntdq,popcnt"))) DACTYRA_ALWAYS_INLINE float LocalAvx512(
    const Cylinder& a, const Cylinder& b, const Constants& k) {
  static_assert(kWords == 24);
  Counts c;
  if (a.whole && b.whole) {
    __m512i differ = _mm512_setzero_si512();
    for (int i = 0; i < 3; ++i)
      differ = _mm512_add_epi64(differ, _mm512_popcnt_epi64(_mm512_xor_si512(PlanePair(a, i), PlanePair(b, i))));
    c.a = a.ones;
    c.b = b.ones;
    c.differ = Sum(differ);
    return FromCounts(c, k);
  }
  // The cells valid in both, laid out for two planes.
  alignas(64) uint64_t twice[2 * kPlaneWords];
  int common = 0;
  for (int w = 0; w < kPlaneWords; ++w) {
    twice[w] = twice[w + kPlaneWords] = a.valid[w] & b.valid[w];
    common += __builtin_popcountll(twice[w]);
  }
  if (common < k.min_common) return 0;
  const __m512i mask = _mm512_load_si512(twice);
  __m512i ca = _mm512_setzero_si512(), cb = ca, differ = ca;
  for (int i = 0; i < 3; ++i) {
    const __m512i x = _mm512_and_si512(PlanePair(a, i), mask);
    const __m512i y = _mm512_and_si512(PlanePair(b, i), mask);
    ca = _mm512_add_epi64(ca, _mm512_popcnt_epi64(x));
    cb = _mm512_add_epi64(cb, _mm512_popcnt_epi64(y));
    differ = _mm512_add_epi64(differ, _mm512_popcnt_epi64(_mm512_xor_si512(x, y)));
  }
  c.a = Sum(ca);
  c.b = Sum(cb);
  c.differ = Sum(differ);
  return FromCounts(c, k);
}

DACTYRA_LOCAL_RUN(RunPopcnt, __attribute__((target("popcnt"))), LocalWords)
DACTYRA_LOCAL_RUN(RunAvx2, __attribute__((target("avx2,popcnt"))), LocalAvx2)
DACTYRA_LOCAL_RUN(RunAvx512, __attribute__((target("avx512f,avx512vpopcntdq,popcnt"))), LocalAvx512)

bool Supports(Kernel kernel) {
  __builtin_cpu_init();
  switch (kernel) {
    case Kernel::kPortable:
      return true;
    case Kernel::kPopcnt:
      return __builtin_cpu_supports("popcnt");
    case Kernel::kAvx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    case Kernel::kAvx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vpopcntdq") &&
             __builtin_cpu_supports("popcnt");
  }
  return false;
}

#else

#define RunPopcnt RunPortable
#define RunAvx2 RunPortable
#define RunAvx512 RunPortable
#define RunPopcntPair RunPortablePair
#define RunAvx2Pair RunPortablePair
#define RunAvx512Pair RunPortablePair

bool Supports(Kernel kernel) { return kernel == Kernel::kPortable; }

#endif

#undef DACTYRA_LOCAL_RUN

}  // namespace

bool KernelRuns(Kernel kernel) {
  static const std::array<bool, 4> runs = {Supports(Kernel::kPortable), Supports(Kernel::kPopcnt),
                                           Supports(Kernel::kAvx2), Supports(Kernel::kAvx512)};
  return runs[static_cast<size_t>(kernel)];
}

Kernel BestKernel() {
  static const Kernel best = [] {
    for (Kernel k : {Kernel::kAvx512, Kernel::kAvx2, Kernel::kPopcnt})
      if (KernelRuns(k)) return k;
    return Kernel::kPortable;
  }();
  return best;
}

void LocalSimilarities(const PreparedTemplate& a, const PreparedTemplate& b,
                       std::vector<LocalMatch>& out, Kernel kernel) {
  switch (KernelRuns(kernel) ? kernel : Kernel::kPortable) {
    case Kernel::kAvx512:
      return RunAvx512(a, b, out);
    case Kernel::kAvx2:
      return RunAvx2(a, b, out);
    case Kernel::kPopcnt:
      return RunPopcnt(a, b, out);
    case Kernel::kPortable:
      return RunPortable(a, b, out);
  }
}

float Similarity(const Cylinder& a, const Cylinder& b, Kernel kernel) {
  switch (KernelRuns(kernel) ? kernel : Kernel::kPortable) {
    case Kernel::kAvx512:
      return RunAvx512Pair(a, b);
    case Kernel::kAvx2:
      return RunAvx2Pair(a, b);
    case Kernel::kPopcnt:
      return RunPopcntPair(a, b);
    case Kernel::kPortable:
      break;
  }
  return RunPortablePair(a, b);
}

}  // namespace dactyra::matching
