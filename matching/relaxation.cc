// The pair compatibilities of the relaxation (see relaxation.h), a row at a
// time, 1, 8 or 16 lanes wide. One body serves every width: the operations
// it needs come from a lane type (plain float, AVX2, AVX-512), and each
// build is compiled for its own target and chosen as the cylinder kernels
// are (BestKernel).
//
// The three sigmoids 1 / (1 + e^x) multiply into one division,
// 1 / ((1 + e^x1)(1 + e^x2)(1 + e^x3)), with each x held below 29 so that
// the product stays finite (a sigmoid there is under 3e-13) and above -80
// so that e^x stays a normal number. e^x is 2^n · e^g with n the nearest
// integer to x / ln 2, and e^g (|g| ≤ ln 2 / 2) by its Taylor polynomial of
// degree 6, relative error under 2e-7. The arctangent of the line's angle
// takes the octant's symmetries, and within [0, 1] tan π/8 as its pivot:
// above it, atan t = π/4 + atan((t − 1)/(t + 1)), so its argument u never
// exceeds tan π/8 and the odd Taylor series to u¹³ is within 2e-7 rad.
#include "matching/relaxation.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "matching/always_inline.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace dactyra::matching {
namespace {

// The sigmoids' parameters, as the paper gives them: μ1ρ, τ1ρ for the
// lengths (pixels); μ2ρ, τ2ρ for both angles (radians).
constexpr double kMuDistance = 5, kTauDistance = -8.0 / 5;
constexpr double kMuTurn = std::numbers::pi / 12, kTauTurn = -30;

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kTanEighth = 0.41421356f;  // tan π/8
constexpr float kLowest = -80, kHighest = 29;

// Plain float, one lane: the build for processors without AVX2, and the
// one every other build is compared with in the tests.
struct Scalar {
  using V = float;
  using M = bool;
  static constexpr size_t kLanes = 1;
  static V Set(float x) { return x; }
  static V Load(const float* p) { return *p; }
  static void Store(float* p, V v) { *p = v; }
  static V Sqrt(V v) { return std::sqrt(v); }
  static V Min(V a, V b) { return std::min(a, b); }
  static V Max(V a, V b) { return std::max(a, b); }
  static V Abs(V v) { return std::fabs(v); }
  static M Less(V a, V b) { return a < b; }
  static V Select(M m, V yes, V no) { return m ? yes : no; }
  static V Round(V v) { return std::nearbyint(v); }
  // 2^n for an integral n in [-126, 127].
  static V Pow2(V n) { return std::bit_cast<float>(static_cast<int32_t>(n + 127) << 23); }
};

#if defined(__x86_64__) || defined(__i386__)

#define DACTYRA_AVX2 __attribute__((target("avx2"))) DACTYRA_ALWAYS_INLINE
struct Avx2 {
  using V = __m256;
  using M = __m256;
  static constexpr size_t kLanes = 8;
  DACTYRA_AVX2 static V Set(float x) { return _mm256_set1_ps(x); }
  DACTYRA_AVX2 static V Load(const float* p) { return _mm256_loadu_ps(p); }
  DACTYRA_AVX2 static void Store(float* p, V v) { _mm256_storeu_ps(p, v); }
  DACTYRA_AVX2 static V Sqrt(V v) { return _mm256_sqrt_ps(v); }
  DACTYRA_AVX2 static V Min(V a, V b) { return _mm256_min_ps(a, b); }
  DACTYRA_AVX2 static V Max(V a, V b) { return _mm256_max_ps(a, b); }
  DACTYRA_AVX2 static V Abs(V v) {
    return _mm256_andnot_ps(_mm256_set1_ps(-0.f), v);
  }
  DACTYRA_AVX2 static M Less(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
  DACTYRA_AVX2 static V Select(M m, V yes, V no) { return _mm256_blendv_ps(no, yes, m); }
  DACTYRA_AVX2 static V Round(V v) {
    return _mm256_round_ps(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  }
  DACTYRA_AVX2 static V Pow2(V n) {
    const __m256i e = _mm256_add_epi32(_mm256_cvtps_epi32(n), _mm256_set1_epi32(127));
    return _mm256_castsi256_ps(_mm256_slli_epi32(e, 23));
  }
};
#undef DACTYRA_AVX2

#define DACTYRA_AVX512 __attribute__((target("avx512f"))) DACTYRA_ALWAYS_INLINE
struct Avx512 {
  using V = __m512;
  using M = __mmask16;
  static constexpr size_t kLanes = 16;
  // GCC 12's unmasked forms of several operations below start from an
  // undefined register and trip its uninitialised-value warning; the
  // zero-masked forms with every lane selected are the same instructions.
  static constexpr __mmask16 kAll = 0xFFFF;
  DACTYRA_AVX512 static V Set(float x) { return _mm512_set1_ps(x); }
  DACTYRA_AVX512 static V Load(const float* p) { return _mm512_loadu_ps(p); }
  DACTYRA_AVX512 static void Store(float* p, V v) { _mm512_storeu_ps(p, v); }
  DACTYRA_AVX512 static V Sqrt(V v) { return _mm512_maskz_sqrt_ps(kAll, v); }
  DACTYRA_AVX512 static V Min(V a, V b) { return _mm512_maskz_min_ps(kAll, a, b); }
  DACTYRA_AVX512 static V Max(V a, V b) { return _mm512_maskz_max_ps(kAll, a, b); }
  DACTYRA_AVX512 static V Abs(V v) { return _mm512_abs_ps(v); }
  DACTYRA_AVX512 static M Less(V a, V b) { return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ); }
  DACTYRA_AVX512 static V Select(M m, V yes, V no) { return _mm512_mask_blend_ps(m, no, yes); }
  DACTYRA_AVX512 static V Round(V v) {
    return _mm512_maskz_roundscale_ps(kAll, v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  }
  DACTYRA_AVX512 static V Pow2(V n) {
    const __m512i e = _mm512_add_epi32(_mm512_maskz_cvtps_epi32(kAll, n), _mm512_set1_epi32(127));
    return _mm512_castsi512_ps(_mm512_maskz_slli_epi32(kAll, e, 23));
  }
};
#undef DACTYRA_AVX512

#endif

// The body, for lane type O: the helpers below are macros rather than
// functions so that every one is compiled with the build's target.
//
// e^x, x clamped to [kLowest, kHighest].
#define DACTYRA_EXP(O, X, OUT)                                                             \
  do {                                                                                    \
    const auto x_ = O::Min(O::Max((X), O::Set(kLowest)), O::Set(kHighest));               \
    const auto n_ = O::Round(x_ * O::Set(std::numbers::log2e_v<float>));                  \
    const auto g_ = x_ - n_ * O::Set(std::numbers::ln2_v<float>);                         \
    auto p_ = O::Set(1.f / 720);                                                          \
    p_ = p_ * g_ + O::Set(1.f / 120);                                                     \
    p_ = p_ * g_ + O::Set(1.f / 24);                                                      \
    p_ = p_ * g_ + O::Set(1.f / 6);                                                       \
    p_ = p_ * g_ + O::Set(0.5f);                                                          \
    p_ = p_ * g_ + O::Set(1.f);                                                           \
    p_ = p_ * g_ + O::Set(1.f);                                                           \
    OUT = p_ * O::Pow2(n_);                                                               \
  } while (0)

// The size of an angle difference D in [-2π, 2π], folded into [0, π].
#define DACTYRA_FOLD(O, D) O::Min(O::Abs(D), O::Set(2 * kPi) - O::Abs(D))

#define DACTYRA_COMPAT_ROWS(NAME, ATTRIBUTE, O)                                             \
  ATTRIBUTE void NAME(const PairGeometry& g, float* out) {                                 \
    using V = O::V;                                                                        \
    const V tau_d = O::Set(static_cast<float>(-kTauDistance));                             \
    const V mu_d = O::Set(static_cast<float>(kMuDistance));                                \
    const V tau_t = O::Set(static_cast<float>(-kTauTurn));                                 \
    const V mu_t = O::Set(static_cast<float>(kMuTurn));                                    \
    const V one = O::Set(1.f), zero = O::Set(0.f), tiny = O::Set(1e-30f);                  \
    for (size_t r = 0; r < g.n; ++r) {                                                     \
      const V axr = O::Set(g.ax[r]), ayr = O::Set(g.ay[r]);                                \
      const V bxr = O::Set(g.bx[r]), byr = O::Set(g.by[r]);                                \
      const V turn_r = O::Set(g.turn[r]);                                                  \
      float* row = out + r * g.stride;                                                     \
      for (size_t c = 0; c < g.n; c += O::kLanes) {                                        \
        const V ax = O::Load(&g.ax[c]) - axr, ay = O::Load(&g.ay[c]) - ayr;                \
        const V bx = O::Load(&g.bx[c]) - bxr, by = O::Load(&g.by[c]) - byr;                \
        const V turn_c = O::Load(&g.turn[c]);                                              \
        /* Lengths. */                                                                     \
        const V d = O::Abs(O::Sqrt(ax * ax + ay * ay) - O::Sqrt(bx * bx + by * by));       \
        /* φ = atan2(y, x), the angle from B to A. */                                      \
        const V y = bx * ay - by * ax, x = bx * ax + by * ay;                              \
        const V fx = O::Abs(x), fy = O::Abs(y);                                            \
        const V hi = O::Max(fx, fy), lo = O::Min(fx, fy);                                  \
        const auto pivot = O::Less(O::Set(kTanEighth) * hi, lo);                           \
        const V u = O::Select(pivot, lo - hi, lo) / O::Max(O::Select(pivot, lo + hi, hi), tiny); \
        const V u2 = u * u;                                                                \
        V s = O::Set(1.f / 13);                                                            \
        s = s * u2 - O::Set(1.f / 11);                                                     \
        s = s * u2 + O::Set(1.f / 9);                                                      \
        s = s * u2 - O::Set(1.f / 7);                                                      \
        s = s * u2 + O::Set(1.f / 5);                                                      \
        s = s * u2 - O::Set(1.f / 3);                                                      \
        s = s * u2 + one;                                                                  \
        V phi = O::Select(pivot, O::Set(kPi / 4), zero) + s * u;                           \
        phi = O::Select(O::Less(fx, fy), O::Set(kPi / 2) - phi, phi);                      \
        phi = O::Select(O::Less(x, zero), O::Set(kPi) - phi, phi);                         \
        phi = O::Select(O::Less(y, zero), zero - phi, phi);                                \
        /* The three sigmoids' exponents, then one division. */                            \
        V e1, e2, e3;                                                                      \
        DACTYRA_EXP(O, tau_d * (d - mu_d), e1);                                            \
        DACTYRA_EXP(O, tau_t * (DACTYRA_FOLD(O, turn_c - turn_r) - mu_t), e2);             \
        DACTYRA_EXP(O, tau_t * (DACTYRA_FOLD(O, turn_c - phi) - mu_t), e3);                \
        O::Store(row + c, one / ((one + e1) * (one + e2) * (one + e3)));                   \
      }                                                                                    \
      row[r] = 0;                                                                          \
    }                                                                                      \
  }

DACTYRA_COMPAT_ROWS(RowsScalar, , Scalar)
#if defined(__x86_64__) || defined(__i386__)
DACTYRA_COMPAT_ROWS(RowsAvx2, __attribute__((target("avx2"))), Avx2)
DACTYRA_COMPAT_ROWS(RowsAvx512, __attribute__((target("avx512f"))), Avx512)
#else
#define RowsAvx2 RowsScalar
#define RowsAvx512 RowsScalar
#endif

#undef DACTYRA_COMPAT_ROWS
#undef DACTYRA_FOLD
#undef DACTYRA_EXP

double Sigmoid(double v, double mu, double tau) { return 1 / (1 + std::exp(-tau * (v - mu))); }

}  // namespace

void PairGeometry::Reset(size_t pairs) {
  n = pairs;
  stride = (pairs + kPairLanes - 1) / kPairLanes * kPairLanes;
  for (auto* v : {&ax, &ay, &bx, &by, &turn}) v->assign(stride, 0.f);
}

void PairGeometry::Set(size_t i, const Point& a, const Point& b) {
  ax[i] = a.x;
  ay[i] = a.y;
  bx[i] = b.x;
  by[i] = b.y;
  turn[i] = static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(a.angle - b.angle))) *
            (kPi / 32768);
}

void Compatibilities(const PairGeometry& g, float* out, Kernel kernel) {
  // The AVX2 build needs no more than the AVX2 cylinder kernel checks for,
  // and the AVX-512 build less (AVX-512 F alone).
  switch (KernelRuns(kernel) ? kernel : Kernel::kPortable) {
    case Kernel::kAvx512:
      return RowsAvx512(g, out);
    case Kernel::kAvx2:
      return RowsAvx2(g, out);
    case Kernel::kPopcnt:
    case Kernel::kPortable:
      break;
  }
  RowsScalar(g, out);
}

double ReferenceCompatibility(const PairGeometry& g, size_t r, size_t c) {
  if (r == c) return 0;
  const double ax = double{g.ax[c]} - g.ax[r], ay = double{g.ay[c]} - g.ay[r];
  const double bx = double{g.bx[c]} - g.bx[r], by = double{g.by[c]} - g.by[r];
  const double phi = std::atan2(bx * ay - by * ax, bx * ax + by * ay);
  const auto size = [](double angle) { return std::fabs(std::remainder(angle, 2 * std::numbers::pi)); };
  return Sigmoid(std::fabs(std::hypot(ax, ay) - std::hypot(bx, by)), kMuDistance, kTauDistance) *
         Sigmoid(size(double{g.turn[c]} - g.turn[r]), kMuTurn, kTauTurn) *
         Sigmoid(size(double{g.turn[c]} - phi), kMuTurn, kTauTurn);
}

}  // namespace dactyra::matching
