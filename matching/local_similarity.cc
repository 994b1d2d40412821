// The local similarities of two templates' cylinders: the inner loop of
// every comparison. One body, built for four targets: plain C++; processors
// with the POPCNT instruction, where a 64-bit count is one instruction
// instead of a dozen; AVX2, a plane of 256 cells at a time; and AVX-512 with
// VPOPCNTQ, two planes at a time. The widest the processor runs is chosen
// once, at the first call; all four give the same similarities.
//
// A run takes three passes: the bit counts of every pair within δθ (the
// AVX-512 build without a branch); the similarities from the counts, a vector
// of them at a time (a division each: done pair by pair, with a test of
// its result that no predictor learns, they were a sixth of the run's
// time); and the pairs above 0 kept in place, again without a branch.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "matching/always_inline.h"
#include "matching/cylinder.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
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

// The three bit counts of two cylinders over the cells valid in both;
// `common` false when too few cells are valid in both to compare.
struct Counts {
  int a = 0, b = 0, differ = 0;
  bool common = true;
};

// The similarity is 1 − √differ / (√a + √b): the two roots a pair's counts
// give, with a root of 1 over a sum of 0 for a pair that has none (too few
// common cells, or no bit set in either), so that its similarity comes out
// below 0.
struct RootPair {
  float differ, sum;
};

DACTYRA_ALWAYS_INLINE RootPair RootsOf(const Counts& c, const Constants& k) {
  const bool some = c.common && c.a + c.b > 0;
  return {some ? k.root[c.differ] : 1.f, some ? k.root[c.a] + k.root[c.b] : 0.f};
}

DACTYRA_ALWAYS_INLINE float FromRoots(RootPair r) { return 1 - r.differ / std::max(r.sum, 1e-30f); }

DACTYRA_ALWAYS_INLINE float FromCounts(const Counts& c, const Constants& k) {
  return std::max(0.f, FromRoots(RootsOf(c, k)));
}

// Per-thread work space of a run: each candidate pair's roots, then its
// similarity.
struct RunScratch {
  std::vector<float> differ, sum, similarity;
};

RunScratch& RunWork() {
  thread_local RunScratch scratch;
  return scratch;
}

// The third pass: the pairs from `first` on with a similarity above 0,
// moved down over those without (each written, and counted if kept).
void KeepSimilar(std::vector<LocalMatch>& out, size_t first, const float* similarity) {
  size_t kept = first;
  for (size_t m = first; m < out.size(); ++m) {
    LocalMatch x = out[m];
    x.similarity = similarity[m - first];
    out[kept] = x;
    kept += x.similarity > 0;
  }
  out.resize(kept);
}

// The second pass in plain C++.
void SimilaritiesPortable(const RunScratch& s, size_t n, float* out) {
  for (size_t m = 0; m < n; ++m) out[m] = FromRoots({s.differ[m], s.sum[m]});
}

// Word by word, with the compiler's 64-bit count (one instruction where the
// target has POPCNT).
DACTYRA_ALWAYS_INLINE Counts LocalWords(const Cylinder& a, const Cylinder& b, const Constants& k) {
  Counts c;
  if (a.whole && b.whole) {
    // Every cell within R is valid in both, and no bit lies outside them.
    c.a = a.ones;
    c.b = b.ones;
    for (int i = 0; i < kWords; ++i) c.differ += __builtin_popcountll(a.bits[i] ^ b.bits[i]);
    return c;
  }
  uint64_t mask[kPlaneWords];
  int common = 0;
  for (int w = 0; w < kPlaneWords; ++w) {
    mask[w] = a.valid[w] & b.valid[w];
    common += __builtin_popcountll(mask[w]);
  }
  if (common < k.min_common) return {0, 0, 0, false};
  for (int p = 0; p < kSections; ++p)
    for (int w = 0; w < kPlaneWords; ++w) {
      const uint64_t x = a.bits[p * kPlaneWords + w] & mask[w];
      const uint64_t y = b.bits[p * kPlaneWords + w] & mask[w];
      c.a += __builtin_popcountll(x);
      c.b += __builtin_popcountll(y);
      c.differ += __builtin_popcountll(x ^ y);
    }
  return c;
}

// The cylinders of b within δθ of one of a's lie in one run of b's order
// of direction, read round the circle. Both templates are in that order,
// so the run's ends only move forward from one of a's cylinders to the
// next: b's directions are laid out three times over (one turn less, as
// they are, one turn more) and the run is the indices whose direction lies
// within δθ of a's. One body for every kernel, each built for its target.
#define DACTYRA_LOCAL_RUN(NAME, ATTRIBUTE, LOCAL, SIMILARITIES)                                \
  ATTRIBUTE void NAME(const PreparedTemplate& a, const PreparedTemplate& b,                    \
                      std::vector<LocalMatch>& out) {                                          \
    const size_t na = a.cylinders.size(), nb = b.cylinders.size();                            \
    if (na == 0 || nb == 0) return;                                                            \
    const Constants& k = Shared();                                                             \
    RunScratch& s = RunWork();                                                                 \
    s.differ.clear();                                                                          \
    s.sum.clear();                                                                             \
    const size_t first = out.size();                                                          \
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
        const RootPair r = RootsOf(LOCAL(a.cylinders[i], b.cylinders[j], k), k);                  \
        s.differ.push_back(r.differ);                                                          \
        s.sum.push_back(r.sum);                                                                \
        out.push_back({static_cast<uint16_t>(i), static_cast<uint16_t>(j), 0.f});              \
        if (++j == nb) j = 0;                                                                  \
      }                                                                                        \
    }                                                                                          \
    const size_t n = out.size() - first;                                                       \
    s.similarity.resize(n);                                                                    \
    SIMILARITIES(s, n, s.similarity.data());                                                   \
    KeepSimilar(out, first, s.similarity.data());                                              \
  }                                                                                            \
  ATTRIBUTE float NAME##Pair(const Cylinder& a, const Cylinder& b) {                           \
    const Constants& k = Shared();                                                             \
    return FromCounts(LOCAL(a, b, k), k);                                                      \
  }

constexpr int32_t kWindow = static_cast<int32_t>(kMaxTurn / 3.14159265358979323846 * 32768 + 0.5);

DACTYRA_LOCAL_RUN(RunPortable, , LocalWords, SimilaritiesPortable)

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

// (The lanes are summed in registers and read as 32 bits: a 64-bit
// extract does not exist in 32-bit builds.)
__attribute__((target("avx2,popcnt"))) DACTYRA_ALWAYS_INLINE int Total(__m256i bytes) {
  const __m256i sums = _mm256_sad_epu8(bytes, _mm256_setzero_si256());
  __m128i half = _mm_add_epi64(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
  half = _mm_add_epi64(half, _mm_unpackhi_epi64(half, half));
  return _mm_cvtsi128_si32(half);
}

__attribute__((target("avx2,popcnt"))) DACTYRA_ALWAYS_INLINE Counts LocalAvx2(const Cylinder& a,
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
    return c;
  }
  const __m256i mask =
      _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a.valid.data())),
                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b.valid.data())));
  if (Total(Nibbles(mask)) < k.min_common) return {0, 0, 0, false};
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
  return c;
}

// The second pass, eight pairs at a time; the same arithmetic as the plain
// one, so the same similarities.
__attribute__((target("avx2"))) void SimilaritiesAvx2(const RunScratch& s, size_t n, float* out) {
  const __m256 one = _mm256_set1_ps(1.f), tiny = _mm256_set1_ps(1e-30f);
  size_t m = 0;
  for (; m + 8 <= n; m += 8) {
    const __m256 sum = _mm256_max_ps(_mm256_loadu_ps(&s.sum[m]), tiny);
    _mm256_storeu_ps(out + m, _mm256_sub_ps(one, _mm256_div_ps(_mm256_loadu_ps(&s.differ[m]), sum)));
  }
  for (; m < n; ++m) out[m] = FromRoots({s.differ[m], s.sum[m]});
}

// Two planes to a 512-bit register, counted by the VPOPCNTQ instruction.
// (GCC 12's own _mm512_reduce_add_epi64 and _mm512_broadcast_i64x4 trip
// its uninitialised-value warning; the zero-masked forms with every lane
// selected do not.)
#define DACTYRA_AVX512 __attribute__((target("avx512f,avx512vpopcntdq,popcnt"))) DACTYRA_ALWAYS_INLINE

// The sum of the eight 64-bit lanes of `v`, in registers.
DACTYRA_AVX512 uint64_t Sum(__m512i v) {
  const __m256i quarter = _mm256_add_epi64(_mm512_maskz_extracti64x4_epi64(0xFF, v, 0),
                                           _mm512_maskz_extracti64x4_epi64(0xFF, v, 1));
  __m128i half = _mm_add_epi64(_mm256_castsi256_si128(quarter), _mm256_extracti128_si256(quarter, 1));
  half = _mm_add_epi64(half, _mm_unpackhi_epi64(half, half));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(half)) |
         uint64_t{static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_epi64(half, 32)))} << 32;
}

DACTYRA_AVX512 __m512i PlanePair(const Cylinder& c, int i) {
  return _mm512_loadu_si512(&c.bits[static_cast<size_t>(i) * 8]);
}

// One road for every pair, whole cylinders or not: a whole cylinder's
// valid cells are those within R and its bits lie among them, so masking
// changes nothing for it, and costs less than the branch on which road to
// take. The cells valid in both are built in registers (written to memory
// word by word and read back whole, they stalled every pair on the store),
// and are counted with the bits rather than first.
DACTYRA_AVX512 Counts LocalAvx512(const Cylinder& a, const Cylinder& b, const Constants& k) {
  static_assert(kWords == 24 && kPlaneWords == 4);
  const __m512i mask = _mm512_maskz_broadcast_i64x4(
      0xFF, _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a.valid.data())),
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b.valid.data()))));
  __m512i ca = _mm512_setzero_si512(), cb = ca, differ = ca;
  for (int i = 0; i < 3; ++i) {
    const __m512i x = _mm512_and_si512(PlanePair(a, i), mask);
    const __m512i y = _mm512_and_si512(PlanePair(b, i), mask);
    ca = _mm512_add_epi64(ca, _mm512_popcnt_epi64(x));
    cb = _mm512_add_epi64(cb, _mm512_popcnt_epi64(y));
    differ = _mm512_add_epi64(differ, _mm512_popcnt_epi64(_mm512_xor_si512(x, y)));
  }
  // One sum for the four counts: a lane holds at most 3 · 64 bits of each
  // and 64 common cells, a sum at most 1,536, so each fits 16 bits of one
  // word. The mask holds each common cell twice.
  const __m512i packed = _mm512_add_epi64(
      _mm512_add_epi64(ca, _mm512_maskz_slli_epi64(0xFF, cb, 16)),
      _mm512_add_epi64(_mm512_maskz_slli_epi64(0xFF, differ, 32),
                       _mm512_maskz_slli_epi64(0xFF, _mm512_popcnt_epi64(mask), 48)));
  const uint64_t sums = Sum(packed);
  Counts c;
  c.a = static_cast<int>(sums & 0xFFFF);
  c.b = static_cast<int>((sums >> 16) & 0xFFFF);
  c.differ = static_cast<int>((sums >> 32) & 0xFFFF);
  c.common = static_cast<int>(sums >> 49) >= k.min_common;
  return c;
}

// The second pass, sixteen pairs at a time, as the AVX2 one.
__attribute__((target("avx512f"))) void SimilaritiesAvx512(const RunScratch& s, size_t n, float* out) {
  const __m512 one = _mm512_set1_ps(1.f), tiny = _mm512_set1_ps(1e-30f);
  size_t m = 0;
  for (; m + 16 <= n; m += 16) {
    const __m512 sum = _mm512_maskz_max_ps(0xFFFF, _mm512_loadu_ps(&s.sum[m]), tiny);
    _mm512_storeu_ps(out + m, _mm512_sub_ps(one, _mm512_div_ps(_mm512_loadu_ps(&s.differ[m]), sum)));
  }
  for (; m < n; ++m) out[m] = FromRoots({s.differ[m], s.sum[m]});
}

#undef DACTYRA_AVX512

DACTYRA_LOCAL_RUN(RunPopcnt, __attribute__((target("popcnt"))), LocalWords, SimilaritiesPortable)
DACTYRA_LOCAL_RUN(RunAvx2, __attribute__((target("avx2,popcnt"))), LocalAvx2, SimilaritiesAvx2)
DACTYRA_LOCAL_RUN(RunAvx512, __attribute__((target("avx512f,avx512vpopcntdq,popcnt"))), LocalAvx512,
                  SimilaritiesAvx512)

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
