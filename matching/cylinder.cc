// Building the cylinders of a template and comparing two of them (the
// model and its parameters are described in cylinder.h).
#include "matching/cylinder.h"

#include "matching/coarse.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <bit>

namespace dactyra::matching {
namespace {

using namespace mcc;

constexpr double kPi = std::numbers::pi;
constexpr double kCellSize = 2 * kRadius / kSide;  // ΔS
constexpr double kSectionSize = 2 * kPi / kSections;  // ΔD

double Wrap(double a) { return a - 2 * kPi * std::floor((a + kPi) / (2 * kPi)); }

struct Vec {
  double x = 0, y = 0;
};
double Cross(Vec o, Vec a, Vec b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }
double Dist2(Vec a, Vec b) { return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y); }

// The square of the distance from p to the segment ab.
double SegmentDist2(Vec p, Vec a, Vec b) {
  const double vx = b.x - a.x, vy = b.y - a.y;
  const double len2 = vx * vx + vy * vy;
  double t = len2 > 0 ? ((p.x - a.x) * vx + (p.y - a.y) * vy) / len2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  return Dist2(p, Vec{a.x + t * vx, a.y + t * vy});
}

// The convex hull of the minutiae, counter-clockwise (Andrew's monotone
// chain), and whether a point lies within Ω of it.
class Hull {
 public:
  explicit Hull(std::vector<Vec> points) {
    std::sort(points.begin(), points.end(),
              [](Vec a, Vec b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    points.erase(std::unique(points.begin(), points.end(),
                             [](Vec a, Vec b) { return a.x == b.x && a.y == b.y; }),
                 points.end());
    if (points.size() < 3) {
      corners_ = points;
      return;
    }
    std::vector<Vec> h(2 * points.size());
    size_t k = 0;
    for (const Vec& p : points) {
      while (k >= 2 && Cross(h[k - 2], h[k - 1], p) <= 0) --k;
      h[k++] = p;
    }
    for (size_t i = points.size() - 1, lower = k + 1; i-- > 0;) {
      while (k >= lower && Cross(h[k - 2], h[k - 1], points[i]) <= 0) --k;
      h[k++] = points[i];
    }
    h.resize(k - 1);
    corners_ = std::move(h);
  }

  bool Near(Vec p) const {
    const size_t n = corners_.size();
    if (n == 0) return false;
    if (n == 1) return Dist2(p, corners_[0]) <= kOmega * kOmega;
    bool inside = n >= 3;
    double best = 1e300;
    for (size_t i = 0; i < n; ++i) {
      const Vec a = corners_[i], b = corners_[(i + 1) % n];
      if (n >= 3 && Cross(a, b, p) < 0) inside = false;
      best = std::min(best, SegmentDist2(p, a, b));
    }
    return inside || best <= kOmega * kOmega;
  }

 private:
  std::vector<Vec> corners_;
};

// The cells within R of the centre, one plane's worth of bits.
struct CircleMask {
  std::array<uint64_t, kPlaneWords> bits{};
  int count = 0;
  CircleMask() {
    for (int j = 0; j < kSide; ++j)
      for (int i = 0; i < kSide; ++i) {
        const double a = kCellSize * (i - (kSide - 1) / 2.0);
        const double b = kCellSize * (j - (kSide - 1) / 2.0);
        if (a * a + b * b <= kRadius * kRadius) {
          const int c = j * kSide + i;
          bits[c / 64] |= uint64_t{1} << (c % 64);
          ++count;
        }
      }
  }
};

const CircleMask& Circle() {
  static const CircleMask mask;
  return mask;
}

// The share of a direction difference that falls in each section: the
// integral over the section of a Gaussian of deviation σD centred on it.
std::array<double, kSections> SectionWeights(double turn) {
  std::array<double, kSections> w{};
  const double scale = 1 / (kSigmaD * std::numbers::sqrt2);
  for (int k = 0; k < kSections; ++k) {
    const double centre = -kPi + (k + 0.5) * kSectionSize;
    const double alpha = Wrap(turn - centre);
    w[k] = 0.5 * (std::erf((alpha + kSectionSize / 2) * scale) -
                  std::erf((alpha - kSectionSize / 2) * scale));
  }
  return w;
}

}  // namespace

int CellsWithinRadius() { return Circle().count; }

uint16_t BinaryAngle(double radians) {
  const double turns = radians / (2 * kPi);
  return static_cast<uint16_t>(
      static_cast<int64_t>(std::llround((turns - std::floor(turns)) * 65536)) & 0xFFFF);
}

PreparedTemplate Prepare(std::vector<Minutia> minutiae) {
  PreparedTemplate out;
  out.minutiae = std::move(minutiae);
  const auto& source = out.minutiae;
  const size_t n = source.size();
  std::vector<Vec> at(n);
  std::vector<double> dir(n);
  for (size_t i = 0; i < n; ++i) {
    at[i] = Vec{source[i].x, -source[i].y};
    dir[i] = source[i].direction;
  }
  const Hull hull(at);
  const CircleMask& circle = Circle();
  const double reach2 = std::pow(kRadius + 3 * kSigmaS, 2);
  const double near2 = 9 * kSigmaS * kSigmaS;
  const double gauss = 1 / (kSigmaS * std::sqrt(2 * kPi));

  struct Neighbour {
    Vec at;
    std::array<double, kSections> weight;
  };
  std::vector<Neighbour> neighbours;
  for (size_t m = 0; m < n; ++m) {
    neighbours.clear();
    for (size_t t = 0; t < n; ++t) {
      if (t == m || Dist2(at[t], at[m]) > reach2) continue;
      neighbours.push_back({at[t], SectionWeights(Wrap(dir[t] - dir[m]))});
    }
    if (static_cast<int>(neighbours.size()) < kMinNeighbours) continue;
    Cylinder c;
    const double cs = std::cos(dir[m]), sn = std::sin(dir[m]);
    for (int j = 0; j < kSide; ++j)
      for (int i = 0; i < kSide; ++i) {
        const int cell = j * kSide + i;
        const uint64_t bit = uint64_t{1} << (cell % 64);
        if (!(circle.bits[cell / 64] & bit)) continue;
        const double a = kCellSize * (i - (kSide - 1) / 2.0);
        const double b = kCellSize * (j - (kSide - 1) / 2.0);
        const Vec p{at[m].x + a * cs - b * sn, at[m].y + a * sn + b * cs};
        if (!hull.Near(p)) continue;
        c.valid[cell / 64] |= bit;
        std::array<double, kSections> v{};
        for (const Neighbour& t : neighbours) {
          const double d2 = Dist2(t.at, p);
          if (d2 > near2) continue;
          const double s = gauss * std::exp(-d2 / (2 * kSigmaS * kSigmaS));
          for (int k = 0; k < kSections; ++k) v[k] += s * t.weight[k];
        }
        for (int k = 0; k < kSections; ++k)
          if (v[k] >= kMuPsi) c.bits[k * kPlaneWords + cell / 64] |= bit;
      }
    int valid = 0, ones = 0;
    for (uint64_t w : c.valid) valid += std::popcount(w);
    if (valid < kMinValidCells * circle.count) continue;
    for (uint64_t w : c.bits) ones += std::popcount(w);
    c.valid_cells = static_cast<uint16_t>(valid);
    c.ones = static_cast<uint16_t>(ones);
    c.whole = valid == circle.count;
    out.cylinders.push_back(c);
    out.points.push_back({static_cast<float>(at[m].x), static_cast<float>(at[m].y),
                          static_cast<float>(dir[m]), BinaryAngle(dir[m])});
    out.source.push_back(static_cast<uint16_t>(m));
  }
  // In order of direction, so that the cylinders within δθ of a direction
  // are one run (see local_similarity.cc).
  std::vector<size_t> order(out.points.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t x, size_t y) { return out.points[x].angle < out.points[y].angle; });
  PreparedTemplate sorted;
  sorted.minutiae = std::move(out.minutiae);
  for (size_t i : order) {
    sorted.points.push_back(out.points[i]);
    sorted.cylinders.push_back(out.cylinders[i]);
    sorted.source.push_back(out.source[i]);
    sorted.coarse.push_back(Coarsen(out.cylinders[i], out.points[i].angle));
  }
  return sorted;
}

}  // namespace dactyra::matching
