// Growing the master fingerprint (see master.h): the outline and singular
// points of the pattern class, the orientation and period maps, and the
// Gabor growth from seeds.
#include "sim/fingerprint/master.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace dactyra::sim::fingerprint {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kHalfWidthOfFrame = kFrameWidth / 2.0;
constexpr double kHalfHeightOfFrame = kFrameHeight / 2.0;

// The filters: one per direction of the normal and per period, each
// kSide × kSide taps, rows padded to kStride floats so that a row is a
// whole number of vector lanes.
class GaborBank {
 public:
  static constexpr int kRadius = 7;
  static constexpr int kSide = 2 * kRadius + 1;
  static constexpr int kStride = 16;
  static constexpr int kAngles = 48;
  static constexpr double kShortestPeriod = 5.5;
  static constexpr double kPeriodStep = 0.25;
  static constexpr int kPeriods = 33;  // up to 13.5 pixels

  static constexpr size_t kFilters = static_cast<size_t>(kAngles) * kPeriods;

  GaborBank() : taps_(2 * kFilters * kSide * kStride + 4, 0.f) {
    for (int a = 0; a < kAngles; ++a)
      for (int p = 0; p < kPeriods; ++p) Make(a, p);
  }

  static int AngleBin(double normal) {
    const double t = normal / kPi;
    const int bin = static_cast<int>(std::lround((t - std::floor(t)) * kAngles));
    return bin % kAngles;
  }
  static int PeriodBin(double period) {
    const int bin = static_cast<int>(std::lround((period - kShortestPeriod) / kPeriodStep));
    return std::clamp(bin, 0, kPeriods - 1);
  }
  // 16-byte aligned: every filter starts on a whole row of lanes. The
  // quadrature filter has a sine where the filter has a cosine.
  const float* Taps(int bin) const {
    return Aligned() + static_cast<size_t>(bin) * kSide * kStride;
  }
  const float* QuadratureTaps(int bin) const { return Taps(bin) + kFilters * kSide * kStride; }

 private:
  // Across the ridges a cosine of the period under a Gaussian of a little
  // under half a period; along them a longer Gaussian, which carries a
  // ridge forward. No response to a flat picture, and a gain of one for a
  // cosine of the filter's own period and direction (for its quadrature
  // twin, a sine).
  void Make(int a, int p) {
    const double theta = kPi * a / kAngles, period = kShortestPeriod + kPeriodStep * p;
    const double across = 0.42 * period, along = 0.55 * period;
    std::array<double, kSide * kSide> g{}, q{}, envelope{};
    double sum = 0, weight = 0;
    for (int y = -kRadius; y <= kRadius; ++y)
      for (int x = -kRadius; x <= kRadius; ++x) {
        const double u = x * std::cos(theta) + y * std::sin(theta);
        const double v = -x * std::sin(theta) + y * std::cos(theta);
        const double e = std::exp(-u * u / (2 * across * across) - v * v / (2 * along * along));
        const size_t i = static_cast<size_t>((y + kRadius) * kSide + x + kRadius);
        envelope[i] = e;
        g[i] = e * std::cos(2 * kPi * u / period);
        q[i] = e * std::sin(2 * kPi * u / period);
        sum += g[i];
        weight += e;
      }
    double gain = 0, quadrature_gain = 0;
    for (int y = -kRadius; y <= kRadius; ++y)
      for (int x = -kRadius; x <= kRadius; ++x) {
        const size_t i = static_cast<size_t>((y + kRadius) * kSide + x + kRadius);
        g[i] -= envelope[i] * sum / weight;
        const double u = x * std::cos(theta) + y * std::sin(theta);
        gain += g[i] * std::cos(2 * kPi * u / period);
        quadrature_gain += q[i] * std::sin(2 * kPi * u / period);
      }
    const size_t bin = static_cast<size_t>(a) * kPeriods + p;
    float* out = Aligned() + bin * kSide * kStride;
    float* twin = out + kFilters * kSide * kStride;
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        const size_t i = static_cast<size_t>(y * kSide + x);
        out[y * kStride + x] = static_cast<float>(g[i] / gain);
        twin[y * kStride + x] = static_cast<float>(q[i] / quadrature_gain);
      }
  }

  float* Aligned() const {
    const auto at = reinterpret_cast<uintptr_t>(taps_.data());
    return const_cast<float*>(taps_.data()) + ((16 - at % 16) % 16) / sizeof(float);
  }

  std::vector<float> taps_;
};

const GaborBank& Bank() {
  static const GaborBank bank;
  return bank;
}

// Growing a finger is arithmetic over this thread's own arrays and the
// filter bank, which nobody writes after it is made. Under ThreadSanitizer
// the check of every one of its loads made growth most of the whole suite's
// time, and there is nothing shared to check, so these functions go
// unchecked for races (and only for races).
#define DACTYRA_UNSHARED_ARITHMETIC __attribute__((no_sanitize("thread")))

// One filter's answer at one pixel: the sum of its taps times the picture
// round the pixel (`in` at the filter's top-left). Four lanes at a time, as
// every compiler here can write them.
typedef float Lanes __attribute__((vector_size(16)));

// Four lanes from `at`, through a reference: a vector returned by value
// changes the calling convention where the lanes are no register type (i686
// without SSE), which GCC warns of.
DACTYRA_UNSHARED_ARITHMETIC void Load(const float* at, Lanes& v) {
  __builtin_memcpy(&v, at, sizeof v);
}

DACTYRA_UNSHARED_ARITHMETIC float Tap(const float* taps, const float* in) {
  static_assert(GaborBank::kStride == 16);
  Lanes sum = {0, 0, 0, 0};
  for (int ky = 0; ky < GaborBank::kSide; ++ky, in += kFrameWidth, taps += GaborBank::kStride) {
    const auto* t = reinterpret_cast<const Lanes*>(taps);
    Lanes a, b, c, d;
    Load(in, a);
    Load(in + 4, b);
    Load(in + 8, c);
    Load(in + 12, d);
    sum += t[0] * a + t[1] * b + t[2] * c + t[3] * d;
  }
  return sum[0] + sum[1] + sum[2] + sum[3];
}

// A smooth random field of mean 0 and amplitude about 1: a few long waves.
struct Waves {
  std::array<double, 4> kx{}, ky{}, phase{}, amplitude{};
  Waves(Random& rng, double shortest, double longest) {
    for (size_t i = 0; i < kx.size(); ++i) {
      const double length = rng.Uniform(shortest, longest), angle = rng.Uniform(0, 2 * kPi);
      kx[i] = 2 * kPi / length * std::cos(angle);
      ky[i] = 2 * kPi / length * std::sin(angle);
      phase[i] = rng.Uniform(0, 2 * kPi);
      amplitude[i] = rng.Uniform(0.3, 0.7);
    }
  }
  double At(double x, double y) const {
    double s = 0;
    for (size_t i = 0; i < kx.size(); ++i)
      s += amplitude[i] * std::sin(kx[i] * x + ky[i] * y + phase[i]);
    return s;
  }
};

void PlaceSingularPoints(Master& m, Random& rng) {
  auto jitter = [&](double x, double y, double j) {
    return Complex(x + rng.Uniform(-j, j), y + rng.Uniform(-j, j));
  };
  switch (m.pattern) {
    case PatternClass::kArch:
      m.arch_height = rng.Uniform(35, 70);
      m.arch_width = rng.Uniform(70, 110);
      break;
    case PatternClass::kTentedArch:
      m.singular.push_back({Complex(0, rng.Uniform(-38, -22)), true});
      m.singular.push_back({Complex(0, rng.Uniform(32, 48)), false});
      break;
    case PatternClass::kLeftLoop:
    case PatternClass::kRightLoop: {
      const double side = m.pattern == PatternClass::kLeftLoop ? 1 : -1;
      m.singular.push_back({jitter(-10 * side, -35, 10), true});
      m.singular.push_back({jitter(70 * side, 40, 10), false});
      break;
    }
    case PatternClass::kWhorl: {
      const Complex d = jitter(95, 70, 8);
      m.singular.push_back({Complex(0, rng.Uniform(-55, -45)), true});
      m.singular.push_back({Complex(0, rng.Uniform(0, 10)), true});
      m.singular.push_back(
          {Complex(-d.real() + rng.Uniform(-8, 8), d.imag() + rng.Uniform(-8, 8)), false});
      m.singular.push_back({d, false});
      break;
    }
  }
}

Complex FramePoint(int x, int y) {
  return Complex(x + 0.5 - kFrameWidth / 2.0, y + 0.5 - kFrameHeight / 2.0);
}

// How far the period strays from the finger's own (a fraction), and the
// flow from the model's (radians), at the waves' crests.
constexpr double kPeriodSwing = 0.08;
constexpr double kBend = 0.10;

// The filter of every frame pixel: the direction of the flow there and the
// local period.
std::vector<uint16_t> FilterMap(Master& m, Random& rng) {
  const double period = rng.Uniform(8.4, 9.8);
  const Waves waves(rng, 90, 260), bends(rng, 120, 300);
  std::vector<uint16_t> bins(static_cast<size_t>(kFrameWidth) * kFrameHeight);
  m.normal.resize(bins.size());
  for (int y = 0; y < kFrameHeight; ++y)
    for (int x = 0; x < kFrameWidth; ++x) {
      const Complex z = FramePoint(x, y);
      // Ridges run wider near the singular points, and a little wider or
      // narrower over the finger as the waves go.
      double near = 0;
      for (const auto& b : m.singular)
        near = std::max(near, std::exp(-std::norm(z - b.z) / (2 * 45.0 * 45)));
      const double local =
          period * (1 + kPeriodSwing * waves.At(z.real(), z.imag())) * (1 + 0.12 * near);
      // No finger's flow is exactly the model's: it bends a little, which
      // also makes ridges end and split.
      const Complex n = m.Normal(z);
      const double normal = std::arg(n) + kBend * bends.At(z.real(), z.imag());
      m.normal[static_cast<size_t>(y) * kFrameWidth + x] = static_cast<float>(normal);
      const int angle = GaborBank::AngleBin(normal);
      bins[static_cast<size_t>(y) * kFrameWidth + x] =
          static_cast<uint16_t>(angle * GaborBank::kPeriods + GaborBank::PeriodBin(local));
    }
  return bins;
}

// The growth: seeds of either sign, then filter and clip until the finger
// is covered and the ridges have settled.
DACTYRA_UNSHARED_ARITHMETIC std::vector<float> Grow(const Master& m,
                                                    const std::vector<uint16_t>& bins,
                                                    Random& rng) {
  constexpr int r = GaborBank::kRadius;
  const size_t size = static_cast<size_t>(kFrameWidth) * kFrameHeight;
  // The pixels grown: the finger and a margin round it, away from the frame
  // edge by the filter's radius.
  std::vector<std::pair<int, int>> rows(kFrameHeight, {0, 0});
  for (int y = r; y < kFrameHeight - r; ++y) {
    int first = kFrameWidth, last = 0;
    for (int x = r; x < kFrameWidth - r; ++x) {
      const Complex z = FramePoint(x, y);
      if (m.outline.Inside(z.real(), z.imag(), -12)) {
        first = std::min(first, x);
        last = x + 1;
      }
    }
    rows[static_cast<size_t>(y)] = {first, std::max(first, last)};
  }
  std::vector<float> picture(size, 0.f), next(size, 0.f);
  // Seeds of random sign on a jittered grid over the finger, so that the
  // growth reaches every part of it in time; each cell of the grid may stay
  // empty, so the seeds are not evenly spread.
  constexpr double kCell = 100;
  for (double cy = -kHalfHeightOfFrame; cy < kHalfHeightOfFrame; cy += kCell)
    for (double cx = -kHalfWidthOfFrame; cx < kHalfWidthOfFrame; cx += kCell) {
      const double sx = cx + rng.Uniform(0, kCell), sy = cy + rng.Uniform(0, kCell);
      const bool skip = rng.Uniform() < 0.25;
      if (skip || !m.outline.Inside(sx, sy, 10)) continue;
      const int x = static_cast<int>(sx + kHalfWidthOfFrame),
                y = static_cast<int>(sy + kHalfHeightOfFrame);
      picture[static_cast<size_t>(y) * kFrameWidth + x] = rng.Uniform() < 0.5 ? -1.f : 1.f;
    }
  const GaborBank& bank = Bank();
  constexpr int kRounds = 32;
  constexpr int kStirred = kRounds - 8;
  constexpr float kGain = 3.f;
  constexpr float kStir = 0.05f;
  for (int round = 0; round <= kRounds; ++round) {
    for (int y = r; y < kFrameHeight - r; ++y) {
      const auto [first, last] = rows[static_cast<size_t>(y)];
      for (int x = first; x < last; ++x) {
        const size_t at = static_cast<size_t>(y) * kFrameWidth + x;
        const float* taps = bank.Taps(bins[at]);
        const float* in = &picture[at - static_cast<size_t>(r) * kFrameWidth - r];
        const float sum = Tap(taps, in);
        if (round == kRounds) {
          // The settled pattern's phase: the filter and its quadrature
          // twin give a cosine and a sine of it, and the master is that
          // cosine at full strength everywhere. Round a minutia the
          // pattern's strength fades to nothing, and the phase winds once:
          // so every threshold draws the same ridges, only wider or
          // narrower.
          const float twin = Tap(bank.QuadratureTaps(bins[at]), in);
          const float strength = std::sqrt(sum * sum + twin * twin);
          next[at] = strength > 1e-6f ? sum / strength : 0.f;
          continue;
        }
        // The last round keeps the filter's smooth answer for the picture.
        // A little noise while the ridges spread: where two fronts meet
        // exactly out of step they would cancel and leave a smudge; the
        // noise tips the balance, and a ridge ends or splits there instead.
        const float stir = round >= kRounds - 14 && round < kStirred
                               ? kStir * static_cast<float>(rng.Uniform(-1, 1))
                               : 0.f;
        next[at] = std::clamp(kGain * sum + stir, -1.f, 1.f);
      }
    }
    std::swap(picture, next);
  }
  return picture;
}

}  // namespace

bool Outline::Inside(double x, double y, double margin) const {
  const double reach = half_width - margin;
  if (reach <= 0 || std::abs(x) > reach) return false;
  const double cy = top + half_width;  // centre of the tip's half disk
  if (y < cy) return x * x + (y - cy) * (y - cy) <= reach * reach;
  return y < kFrameHeight / 2.0 - 4 - margin;
}

Complex Master::Normal(Complex z) const {
  if (singular.empty()) {
    const double e = std::exp(-z.real() * z.real() / (2 * arch_width * arch_width));
    return Complex(-arch_height * e * z.real() / (arch_width * arch_width), 1.0);
  }
  Complex p = 1;
  for (const auto& b : singular) p = b.core ? p / (z - b.z) : p * (z - b.z);
  return std::conj(Complex(0, -1) * std::sqrt(p));
}

Master GrowMaster(PatternClass pattern, Random& rng) {
  Master m;
  m.pattern = pattern;
  m.outline.half_width = rng.Uniform(160, 185);
  m.outline.top = -rng.Uniform(240, 270);
  PlaceSingularPoints(m, rng);
  const auto bins = FilterMap(m, rng);
  m.ridge = Grow(m, bins, rng);
  return m;
}

}  // namespace dactyra::sim::fingerprint
