// The finger generator: ridges as level lines of a phase, minutiae as spiral
// points of that phase, so that every minutia, core and delta sits exactly
// where the model put it.
//
// The flow. Cores and deltas are the branch points of the complex function
//   f(z) = -i * sqrt(prod(z - delta) / prod(z - core)),
// whose conjugate is the gradient of u = Re(integral of f): the ridges, the
// level lines of u, then follow the zero-pole orientation field of Sherlock
// and Monro (a pole of f is a core, a zero a delta, and far away the ridges
// run across the finger). u is many-valued: going round a branch point b maps
// u to 2u(b) - u. The picture cos(k u) is one-valued when k u(b) is a multiple
// of π at every branch point, so the model nudges the branch points (by less
// than half a ridge) until it is; then any branch of u serves, and each pixel
// takes it from its nearest branch point along a straight path, which stays
// inside that point's Voronoi cell and so never passes another one.
//
// The minutiae. Following Larkin and Fletcher, a minutia is a point round
// which the phase winds once: ψ = k u + s·arg(z - m). Minutiae come in pairs
// of opposite winding, and each pair's winding term is faded out in a ring
// round the pair, so the phase is untouched except in a disk free of branch
// points where one branch of u is fixed. Whether a spiral point draws a ridge
// ending or a bifurcation depends on the rest of the phase at that point
// (see Target), so each point is slid along the phase gradient until its
// phase is exactly right.
#include "sim/fingerprint/fingerprint.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

namespace dactyra::sim::fingerprint {
namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;

// Half the size of the finger's own frame (pixels at 500 dpi), centred on the
// finger: the finger fits inside with a margin.
constexpr int kFrameHalfWidth = 208;
constexpr int kFrameHalfHeight = 288;

// splitmix64: small, fast, and the same sequence on every platform (the
// standard distributions are not).
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed ^ 0x6a09e667f3bcc909ull) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
  double Gaussian() {
    const double u1 = std::max(Uniform(), 1e-300), u2 = Uniform();
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * kPi * u2);
  }

 private:
  uint64_t state_;
};

// Gauss–Legendre nodes and weights on [0, 1].
template <int N>
struct GaussLegendre {
  std::array<double, N> x{}, w{};
  GaussLegendre() {
    for (int i = 0; i < N; ++i) {
      double t = std::cos(kPi * (i + 0.75) / (N + 0.5)), dp = 1;
      for (int it = 0; it < 100; ++it) {
        double p0 = 1, p1 = t;
        for (int k = 2; k <= N; ++k) {
          const double p2 = ((2 * k - 1) * t * p1 - (k - 1) * p0) / k;
          p0 = p1;
          p1 = p2;
        }
        dp = N * (t * p1 - p0) / (t * t - 1);
        const double dt = p1 / dp;
        t -= dt;
        if (std::abs(dt) < 1e-15) break;
      }
      x[i] = (1 - t) / 2;
      w[i] = 1 / ((1 - t * t) * dp * dp);
    }
  }
};

const GaussLegendre<3>& Nodes3() {
  static const GaussLegendre<3> g;
  return g;
}
const GaussLegendre<10>& Nodes10() {
  static const GaussLegendre<10> g;
  return g;
}
const GaussLegendre<20>& Nodes20() {
  static const GaussLegendre<20> g;
  return g;
}
const GaussLegendre<64>& Nodes64() {
  static const GaussLegendre<64> g;
  return g;
}

double Wrap(double a) { return a - 2 * kPi * std::floor((a + kPi) / (2 * kPi)); }

double Smoothstep(double e0, double e1, double x) {
  const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

struct BranchPoint {
  Complex z;
  bool core = false;
  double u = 0;  // Re of the integral of f from the first branch point, a multiple of π/k
};

// A pair of minutiae of opposite winding and the disk in which their winding
// term lives.
struct Pair {
  Complex m[2];
  int winding = 1;  // the first point winds +winding, the second -winding
  MinutiaType type[2] = {MinutiaType::kEnding, MinutiaType::kEnding};
  double direction[2] = {0, 0};  // in the finger frame
  Complex centre;
  double inner = 0, outer = 0;  // the winding term is whole inside inner, gone at outer
  double u_centre = 0;          // u at the centre on the disk's branch
  Complex f_centre;             // f at the centre on the disk's branch
};

}  // namespace

struct Finger::Model {
  PatternClass pattern = PatternClass::kArch;
  double k = 2 * kPi / 9;  // phase per unit of u
  std::vector<BranchPoint> branch;
  double arch_height = 0, arch_width = 1;  // arch only
  double half_width = 170, top = -250;     // finger outline
  std::vector<Pair> pairs;
  // cos ψ faded near cores, over the frame, row after row.
  std::vector<float> ridge;

  Complex F(Complex z) const {
    if (branch.empty()) {
      const double e = std::exp(-z.real() * z.real() / (2 * arch_width * arch_width));
      const double ux = -arch_height * e * z.real() / (arch_width * arch_width);
      return Complex(ux, -1.0);  // conj of grad u = (ux, 1)
    }
    Complex p = 1;
    for (const auto& b : branch) p = b.core ? p / (z - b.z) : p * (z - b.z);
    return Complex(0, -1) * std::sqrt(p);
  }

  // The branch of f at z closest to `near`.
  Complex FNear(Complex z, Complex near) const {
    const Complex v = F(z);
    return std::real(std::conj(near) * v) < 0 ? -v : v;
  }

  // Re of the integral of f from a to z along the straight path, f starting
  // on the branch closest to f0 (or on any branch when f0 is zero) and
  // followed continuously. `singular_start`/`singular_end` spread the nodes
  // near a branch point at that end. Returns f at z through `f_end`.
  enum class Nodes { k3, k10, k20, k64 };
  double Integrate(Complex a, Complex z, Complex f0, bool singular_start, bool singular_end,
                   Nodes nodes, Complex* f_end) const {
    const Complex d = z - a;
    double sum = 0;
    Complex prev = f0;
    auto run = [&](const auto& g) {
      for (size_t i = 0; i < g.x.size(); ++i) {
        const double t = g.x[i];
        double s, ds;
        if (singular_start && singular_end) {
          s = (1 - std::cos(kPi * t)) / 2;
          ds = kPi / 2 * std::sin(kPi * t);
        } else if (singular_start) {
          s = t * t;
          ds = 2 * t;
        } else {
          s = t;
          ds = 1;
        }
        const Complex v = prev == Complex(0) ? F(a + d * s) : FNear(a + d * s, prev);
        prev = v;
        sum += g.w[i] * ds * std::real(v * d);
      }
    };
    switch (nodes) {
      case Nodes::k3:
        run(Nodes3());
        break;
      case Nodes::k10:
        run(Nodes10());
        break;
      case Nodes::k20:
        run(Nodes20());
        break;
      case Nodes::k64:
        run(Nodes64());
        break;
    }
    if (f_end) *f_end = prev == Complex(0) ? F(z) : FNear(z, prev);
    return sum;
  }

  // u at z on some branch, and f at z on the same branch.
  double U(Complex z, Complex* f_at = nullptr) const {
    if (branch.empty()) {
      if (f_at) *f_at = F(z);
      const double x = z.real();
      return z.imag() + arch_height * std::exp(-x * x / (2 * arch_width * arch_width));
    }
    const BranchPoint* nearest = &branch[0];
    for (const auto& b : branch)
      if (std::norm(z - b.z) < std::norm(z - nearest->z)) nearest = &b;
    if (std::norm(z - nearest->z) < 1e-18) {
      if (f_at) *f_at = 0;
      return nearest->u;
    }
    return nearest->u + Integrate(nearest->z, z, 0, true, false, Nodes::k20, f_at);
  }

  // u inside the disk of pair p, on the branch fixed at its centre.
  double ULocal(const Pair& p, Complex z, Complex* f_at = nullptr) const {
    if (branch.empty()) return U(z, f_at);
    return p.u_centre + Integrate(p.centre, z, p.f_centre, false, false, Nodes::k10, f_at);
  }

  // The winding term of pair p at z, without the point `skip` (0, 1, or -1
  // for none), faded by the ring.
  static double Winding(const Pair& p, Complex z, int skip) {
    double a = 0;
    if (skip < 0) {
      a = std::arg((z - p.m[0]) / (z - p.m[1]));
    } else if (skip == 0) {
      a = -std::arg(z - p.m[1]);
    } else {
      a = std::arg(z - p.m[0]);
    }
    return p.winding * a;
  }

  double Fade(const Pair& p, Complex z) const {
    return 1 - Smoothstep(p.inner, p.outer, std::abs(z - p.centre));
  }

  // The phase at z without the winding of point `skip` of pair `own`.
  double PhaseWithout(const Pair& own, int skip, Complex z, Complex* grad) const {
    Complex f;
    const double u = ULocal(own, z, &f);
    const Complex other = own.m[1 - skip];
    const Complex r = z - other;
    // d/dz of arg(z - c) as a gradient vector (-(y), x) / r².
    const Complex g_arg = Complex(-r.imag(), r.real()) / std::norm(r);
    const double sign = skip == 0 ? -own.winding : own.winding;
    if (grad) *grad = k * std::conj(f) + sign * g_arg;
    return k * u + Winding(own, z, skip);
  }

  // The phase the rest of the picture must have at point j of p for it to
  // draw the wanted type. Near a point winding s, with n the direction of
  // the phase gradient, ψ ≈ rest + k r cos(θ - arg n) + s θ: the extra ridge
  // lies on the side -s J n (J a quarter turn), and the line from the point
  // towards that side is a ridge (an ending) when rest + s arg(-s J n) is 0,
  // a valley (a bifurcation) when it is π.
  static double Target(const Pair& p, int j, Complex gradient) {
    const double s = j == 0 ? p.winding : -p.winding;
    const double side = std::arg(gradient) - s * kPi / 2;
    return (p.type[j] == MinutiaType::kEnding ? 0 : kPi) - s * side;
  }

  bool InsideOutline(double x, double y) const {
    if (std::abs(x) > half_width) return false;
    const double cy = top + half_width;  // the tip is a half disk
    if (y < cy) return (x * x + (y - cy) * (y - cy)) <= half_width * half_width;
    return y < kFrameHalfHeight - 4;
  }

  const Pair* PairAt(Complex z) const {
    for (const auto& p : pairs)
      if (std::abs(z - p.centre) < p.outer) return &p;
    return nullptr;
  }

  // Ridge signal from the phase and |f|: cos ψ, faded to a smudge where
  // the model's ridges crowd (towards a core, |f| large) or spread (at a
  // delta, |f| small) beyond what fingers show.
  static double SignalOf(double psi, double crowd) {
    double fade = 1;
    if (crowd > 1.5) fade = std::pow(1.5 / crowd, 3);
    if (crowd < 0.45) fade = std::pow(crowd / 0.45, 2);
    return fade * std::cos(psi);
  }

  double Signal(Complex z) const {
    Complex f;
    if (const Pair* in = PairAt(z)) {
      const double psi = k * ULocal(*in, z, &f) + Fade(*in, z) * Winding(*in, z, -1);
      return SignalOf(psi, std::abs(f));
    }
    const double u = U(z, &f);
    return SignalOf(k * u, std::abs(f));
  }

  void Build(Random& rng);
  void PlaceBranchPoints(Random& rng);
  bool SolveBranchLevels();
  void PlacePairs(Random& rng);
};

void Finger::Model::PlaceBranchPoints(Random& rng) {
  auto jitter = [&](double x, double y, double j) {
    return Complex(x + rng.Uniform(-j, j), y + rng.Uniform(-j, j));
  };
  switch (pattern) {
    case PatternClass::kArch:
      arch_height = rng.Uniform(35, 70);
      arch_width = rng.Uniform(70, 110);
      break;
    case PatternClass::kTentedArch:
      branch.push_back({Complex(0, rng.Uniform(-38, -22)), true});
      branch.push_back({Complex(0, rng.Uniform(32, 48)), false});
      break;
    case PatternClass::kLeftLoop:
    case PatternClass::kRightLoop: {
      const double side = pattern == PatternClass::kLeftLoop ? 1 : -1;
      branch.push_back({jitter(-10 * side, -35, 10), true});
      branch.push_back({jitter(70 * side, 40, 10), false});
      break;
    }
    case PatternClass::kWhorl: {
      // Symmetric about the vertical axis: the levels of the two deltas
      // then agree (see SolveBranchLevels).
      const Complex d = jitter(95, 70, 8);
      branch.push_back({Complex(0, rng.Uniform(-55, -45)), true});
      branch.push_back({Complex(0, rng.Uniform(0, 10)), true});
      branch.push_back({Complex(-d.real(), d.imag()), false});
      branch.push_back({d, false});
      break;
    }
  }
}

bool Finger::Model::SolveBranchLevels() {
  if (branch.empty()) return true;
  branch[0].u = 0;
  auto level = [&](size_t i) {
    return Integrate(branch[0].z, branch[i].z, 0, true, true, Nodes::k64, nullptr);
  };
  // The last point (a delta) is met by the ridge frequency, which moves by
  // little more than a per cent. The other levels hold by symmetry: a
  // tented arch and a whorl are symmetric about the vertical axis, along
  // which f dz between the two cores is imaginary, and the two deltas of a
  // whorl are mirror images.
  const size_t last = branch.size() - 1;
  const double ud = std::abs(level(last));
  // (A tented arch's core and delta share a level already.)
  if (ud > 1e-6) k = kPi * std::max(1.0, std::round(k * ud / kPi)) / ud;
  const double step = kPi / k;
  double worst = 0;
  for (size_t i = 1; i < branch.size(); ++i) {
    branch[i].u = level(i);
    worst = std::max(worst, std::abs(branch[i].u / step - std::round(branch[i].u / step)));
  }
  return worst < 1e-6;
}

void Finger::Model::PlacePairs(Random& rng) {
  const int wanted = static_cast<int>(rng.Uniform(13, 29));
  for (int attempt = 0; attempt < 4000 && static_cast<int>(pairs.size()) < wanted; ++attempt) {
    Pair p;
    const double length = rng.Uniform(15, 24);
    p.inner = length / 2 + 7;
    p.outer = p.inner + 11;
    p.centre = Complex(rng.Uniform(-half_width + 10, half_width - 10),
                       rng.Uniform(top + 15, kFrameHalfHeight - 30));
    if (!InsideOutline(p.centre.real(), p.centre.imag())) continue;
    bool clear = true;
    for (const auto& b : branch) clear = clear && std::abs(p.centre - b.z) > p.outer + 22;
    for (const auto& q : pairs) clear = clear && std::abs(p.centre - q.centre) > p.outer + q.outer;
    if (!clear) continue;
    Complex f;
    p.u_centre = U(p.centre, &f);
    if (!(std::abs(f) > 0.7 && std::abs(f) < 1.45)) continue;
    p.f_centre = f;
    const double axis = rng.Uniform(0, 2 * kPi);
    p.m[0] = p.centre + std::polar(length / 2, axis);
    p.m[1] = p.centre - std::polar(length / 2, axis);
    p.winding = rng.Uniform() < 0.5 ? 1 : -1;
    for (int j = 0; j < 2; ++j)
      p.type[j] = rng.Uniform() < 0.5 ? MinutiaType::kEnding : MinutiaType::kBifurcation;
    // Slide each point along the phase gradient until the rest of the phase
    // there is +π/2 (ending) or -π/2 (bifurcation).
    bool ok = true;
    for (int it = 0; it < 8; ++it) {
      double worst = 0;
      for (int j = 0; j < 2; ++j) {
        Complex g;
        const double rest = PhaseWithout(p, j, p.m[j], &g);
        const double miss = Wrap(Target(p, j, g) - rest);
        worst = std::max(worst, std::abs(miss));
        p.m[j] += g * (miss / std::norm(g));
      }
      if (worst < 1e-10) break;
    }
    for (int j = 0; j < 2 && ok; ++j) {
      Complex g;
      const double rest = PhaseWithout(p, j, p.m[j], &g);
      ok = std::abs(Wrap(Target(p, j, g) - rest)) < 1e-6 &&
           std::abs(p.m[j] - p.centre) < p.inner - 4;
      // The side where the extra ridge lies, -s J n with J a quarter turn:
      // an ending's ridge and a bifurcation's inner valley both run there.
      const double s = j == 0 ? p.winding : -p.winding;
      const Complex n = g / std::abs(g);
      const Complex e = -s * Complex(-n.imag(), n.real());
      p.direction[j] = std::arg(e);
    }
    if (ok) pairs.push_back(p);
  }
}

void Finger::Model::Build(Random& rng) {
  half_width = rng.Uniform(160, 185);
  top = -rng.Uniform(240, 270);
  k = 2 * kPi / rng.Uniform(8.4, 9.6);
  // A layout whose levels cannot be met is drawn again.
  for (int attempt = 0; attempt < 20; ++attempt) {
    branch.clear();
    PlaceBranchPoints(rng);
    if (SolveBranchLevels()) break;
  }
  PlacePairs(rng);
  const int w = 2 * kFrameHalfWidth, h = 2 * kFrameHalfHeight;
  ridge.assign(static_cast<size_t>(w) * h, 0.f);
  // Along each row u is carried from pixel to pixel by a short integral on
  // the branch of the pixel before; near a branch point, where f changes
  // fast, and inside the disks of minutiae pairs, which fix a branch of
  // their own, each pixel is computed afresh.
  for (int y = 0; y < h; ++y) {
    bool carried = false;
    double u = 0;
    Complex f;
    for (int x = 0; x < w; ++x) {
      const Complex z(x + 0.5 - kFrameHalfWidth, y + 0.5 - kFrameHalfHeight);
      float& out = ridge[static_cast<size_t>(y) * w + x];
      if (PairAt(z)) {
        out = static_cast<float>(Signal(z));
        carried = false;
        continue;
      }
      bool near = false;
      for (const auto& b : branch) near = near || std::norm(z - b.z) < 14 * 14;
      if (near || !carried || branch.empty()) {
        u = U(z, &f);
        carried = !near;
      } else {
        u += Integrate(z - 1.0, z, f, false, false, Nodes::k3, &f);
      }
      out = static_cast<float>(SignalOf(k * u, std::abs(f)));
    }
  }
}

Finger::Finger(uint64_t seed, PatternClass pattern) : seed_(seed), pattern_(pattern) {
  auto model = std::make_shared<Model>();
  model->pattern = pattern;
  Random rng(seed * 0x2545f4914f6cdd1dull + static_cast<uint64_t>(pattern));
  model->Build(rng);
  model_ = std::move(model);
}

Finger Finger::Generate(uint64_t seed) {
  return Finger(seed, static_cast<PatternClass>(Random(seed).Next() % 5));
}

Finger Finger::Generate(uint64_t seed, PatternClass pattern) { return Finger(seed, pattern); }

namespace {

// The move from the finger frame to an impression: p = R q + c + t + D(p),
// D a smooth displacement that grows towards the edge.
struct Placement {
  double cos_r = 1, sin_r = 0;
  Complex offset;  // image centre plus shift
  double amount = 0;
  double radius = 1;
  std::array<double, 3> fx{}, fy{}, phx{}, phy{}, ax{}, ay{};

  Complex Displacement(Complex p) const {
    if (amount == 0) return 0;
    const Complex r = p - offset;
    const double weight = std::norm(r) / (radius * radius);
    double dx = 0, dy = 0;
    for (int i = 0; i < 3; ++i) {
      dx += ax[i] * std::sin(fx[i] * r.real() + fy[i] * r.imag() + phx[i]);
      dy += ay[i] * std::sin(fy[i] * r.real() - fx[i] * r.imag() + phy[i]);
    }
    return amount * weight * Complex(dx, dy);
  }
  Complex ToFinger(Complex p) const {
    const Complex v = p - offset - Displacement(p);
    return Complex(cos_r * v.real() + sin_r * v.imag(), -sin_r * v.real() + cos_r * v.imag());
  }
  Complex ToImpression(Complex q) const {
    const Complex rq(cos_r * q.real() - sin_r * q.imag(), sin_r * q.real() + cos_r * q.imag());
    Complex p = rq + offset;
    for (int i = 0; i < 60; ++i) {
      const Complex next = rq + offset + Displacement(p);
      const bool done = std::abs(next - p) < 1e-12;
      p = next;
      if (done) break;
    }
    return p;
  }
};

void GaussianBlur(std::vector<float>& img, int w, int h, double sigma) {
  const int r = std::max(1, static_cast<int>(std::ceil(3 * sigma)));
  std::vector<float> kernel(2 * r + 1);
  float total = 0;
  for (int i = -r; i <= r; ++i) total += kernel[i + r] = std::exp(-0.5f * i * i / (sigma * sigma));
  for (auto& v : kernel) v /= total;
  std::vector<float> tmp(img.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float s = 0;
      for (int i = -r; i <= r; ++i) s += kernel[i + r] * img[y * w + std::clamp(x + i, 0, w - 1)];
      tmp[y * w + x] = s;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float s = 0;
      for (int i = -r; i <= r; ++i) s += kernel[i + r] * tmp[std::clamp(y + i, 0, h - 1) * w + x];
      img[y * w + x] = s;
    }
}

}  // namespace

Impression Finger::Render(int width, int height, const ImpressionOptions& options) const {
  Impression out;
  if (width < 1 || height < 1) return out;
  const Model& m = *model_;
  out.width = width;
  out.height = height;
  Random rng(options.seed * 0x9e3779b97f4a7c15ull + seed_ + 1);

  Placement place;
  const double rot = options.rotation_degrees * kPi / 180;
  place.cos_r = std::cos(rot);
  place.sin_r = std::sin(rot);
  place.offset = Complex(width / 2.0 + options.shift_x, height / 2.0 + options.shift_y);
  place.amount = options.distortion;
  place.radius = 0.5 * std::hypot(width, height);
  for (int i = 0; i < 3; ++i) {
    place.fx[i] = rng.Uniform(-1, 1) * 2 * kPi / 260;
    place.fy[i] = rng.Uniform(-1, 1) * 2 * kPi / 260;
    place.phx[i] = rng.Uniform(0, 2 * kPi);
    place.phy[i] = rng.Uniform(0, 2 * kPi);
    place.ax[i] = rng.Uniform(0.2, 0.6);
    place.ay[i] = rng.Uniform(0.2, 0.6);
  }

  // Partial contact: a straight cut from a side chosen by the seed, placed
  // so that the wanted fraction of the finger's visible area remains.
  const double cut_angle = rng.Uniform(0, 2 * kPi);
  const Complex cut_dir = std::polar(1.0, cut_angle);
  double cut_limit = 1e300;
  auto finger_at = [&](Complex p, Complex* q) {
    *q = place.ToFinger(p);
    return m.InsideOutline(q->real(), q->imag());
  };
  if (options.contact < 1) {
    std::vector<double> proj;
    for (int y = 0; y < height; y += 2)
      for (int x = 0; x < width; x += 2) {
        Complex q;
        const Complex p(x + 0.5, y + 0.5);
        if (finger_at(p, &q)) proj.push_back(std::real(std::conj(cut_dir) * (p - place.offset)));
      }
    if (!proj.empty()) {
      std::sort(proj.begin(), proj.end());
      const double keep = std::clamp(options.contact, 0.0, 1.0);
      const size_t idx = static_cast<size_t>(keep * (proj.size() - 1));
      cut_limit = keep <= 0 ? -1e300 : proj[idx];
    }
  }
  auto in_contact = [&](Complex p, Complex* q) {
    if (!finger_at(p, q)) return false;
    return std::real(std::conj(cut_dir) * (p - place.offset)) <= cut_limit;
  };

  // Ridge profile: the pressure moves the gray level at which a ridge
  // begins, so wet fingers draw wide ridges and dry ones thin ridges.
  const double threshold = -0.55 * std::clamp(options.pressure, -1.0, 1.0);
  const int fw = 2 * kFrameHalfWidth, fh = 2 * kFrameHalfHeight;
  std::vector<float> img(static_cast<size_t>(width) * height);
  out.contact.assign(img.size(), 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Complex q;
      float v = 238;
      if (in_contact(Complex(x + 0.5, y + 0.5), &q)) {
        const double gx = q.real() + kFrameHalfWidth - 0.5, gy = q.imag() + kFrameHalfHeight - 0.5;
        const int ix = static_cast<int>(std::floor(gx)), iy = static_cast<int>(std::floor(gy));
        double s = 0;
        if (ix >= 0 && iy >= 0 && ix + 1 < fw && iy + 1 < fh) {
          const double ax = gx - ix, ay = gy - iy;
          const float* r0 = &m.ridge[static_cast<size_t>(iy) * fw + ix];
          const float* r1 = r0 + fw;
          s = (1 - ay) * ((1 - ax) * r0[0] + ax * r0[1]) + ay * ((1 - ax) * r1[0] + ax * r1[1]);
        }
        const double dark = Smoothstep(threshold - 0.45, threshold + 0.45, s);
        v = static_cast<float>(212 - 165 * dark);
        out.contact[static_cast<size_t>(y) * width + x] = 1;
      }
      img[static_cast<size_t>(y) * width + x] = v;
    }
  }
  if (options.blur > 0) GaussianBlur(img, width, height, options.blur);
  out.pixels.resize(img.size());
  for (size_t i = 0; i < img.size(); ++i) {
    const double n = options.noise > 0 ? options.noise * rng.Gaussian() : 0;
    out.pixels[i] = static_cast<uint8_t>(std::clamp(std::lround(img[i] + n), 0l, 255l));
  }

  // Ground truth, moved with the finger; what leaves the contact is dropped.
  auto keep = [&](Complex q, Complex* p) {
    *p = place.ToImpression(q);
    if (!(p->real() >= 0 && p->imag() >= 0 && p->real() < width && p->imag() < height))
      return false;
    Complex back;
    return in_contact(*p, &back);
  };
  for (const auto& pair : m.pairs) {
    for (int j = 0; j < 2; ++j) {
      Complex p;
      if (!keep(pair.m[j], &p)) continue;
      // Directions move with the local map: follow a short step.
      const Complex ahead = place.ToImpression(pair.m[j] + std::polar(1.0, pair.direction[j]));
      const Complex d = ahead - p;
      Minutia mi;
      mi.x = p.real();
      mi.y = p.imag();
      mi.direction = std::fmod(std::atan2(-d.imag(), d.real()) + 2 * kPi, 2 * kPi);
      mi.type = pair.type[j];
      out.minutiae.push_back(mi);
    }
  }
  for (const auto& b : m.branch) {
    Complex p;
    if (!keep(b.z, &p)) continue;
    (b.core ? out.cores : out.deltas).push_back({p.real(), p.imag()});
  }
  return out;
}

std::string GroundTruthJson(const Impression& impression) {
  std::string out;
  char buf[192];
  std::snprintf(buf, sizeof buf, "{\"width\":%d,\"height\":%d,\"minutiae\":[", impression.width,
                impression.height);
  out += buf;
  for (size_t i = 0; i < impression.minutiae.size(); ++i) {
    const auto& m = impression.minutiae[i];
    std::snprintf(buf, sizeof buf, "%s{\"x\":%.3f,\"y\":%.3f,\"direction\":%.5f,\"type\":\"%s\"}",
                  i ? "," : "", m.x, m.y, m.direction,
                  m.type == MinutiaType::kEnding ? "ending" : "bifurcation");
    out += buf;
  }
  auto points = [&](const char* name, const std::vector<SingularPoint>& v) {
    out += "],\"";
    out += name;
    out += "\":[";
    for (size_t i = 0; i < v.size(); ++i) {
      std::snprintf(buf, sizeof buf, "%s{\"x\":%.3f,\"y\":%.3f}", i ? "," : "", v[i].x, v[i].y);
      out += buf;
    }
  };
  points("cores", impression.cores);
  points("deltas", impression.deltas);
  out += "]}";
  return out;
}

}  // namespace dactyra::sim::fingerprint
