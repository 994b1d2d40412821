// Reading the minutiae of a master off its skeleton (see skeleton.h).
#include "sim/fingerprint/skeleton.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numbers>

namespace dactyra::sim::fingerprint {
namespace {

constexpr double kPi = std::numbers::pi;

// The eight neighbours, clockwise from the one above.
constexpr std::array<int, 8> kDx = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr std::array<int, 8> kDy = {-1, -1, 0, 1, 1, 1, 0, -1};

class Grid {
 public:
  Grid(std::vector<uint8_t>& cells, int width, int height)
      : cells_(cells), width_(width), height_(height) {}
  bool At(int x, int y) const {
    return x >= 0 && y >= 0 && x < width_ && y < height_ &&
           cells_[static_cast<size_t>(y) * width_ + x];
  }
  void Set(int x, int y, uint8_t v) { cells_[static_cast<size_t>(y) * width_ + x] = v; }
  // The neighbours set, as bits in kDx order.
  unsigned Ring(int x, int y) const {
    unsigned bits = 0;
    for (int k = 0; k < 8; ++k) bits |= static_cast<unsigned>(At(x + kDx[k], y + kDy[k])) << k;
    return bits;
  }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  std::vector<uint8_t>& cells_;
  int width_, height_;
};

// The number of 0 → 1 steps going once round the ring.
int Crossings(unsigned ring) {
  int n = 0;
  for (int k = 0; k < 8; ++k) n += !((ring >> k) & 1) && ((ring >> ((k + 1) % 8)) & 1);
  return n;
}

// Removes the 8-connected components of value `value` smaller than
// `smallest` pixels by giving them the other value, in `binary` and in
// `ridge` (whose sign says the same).
void RemoveSmall(std::vector<uint8_t>& binary, std::vector<float>& ridge, int w, int h,
                 uint8_t value, int smallest) {
  std::vector<uint8_t> seen(binary.size(), 0);
  std::vector<size_t> stack, component;
  for (size_t start = 0; start < binary.size(); ++start) {
    if (seen[start] || binary[start] != value) continue;
    component.clear();
    stack.assign(1, start);
    seen[start] = 1;
    while (!stack.empty()) {
      const size_t at = stack.back();
      stack.pop_back();
      component.push_back(at);
      const int x = static_cast<int>(at % static_cast<size_t>(w)),
                y = static_cast<int>(at / static_cast<size_t>(w));
      for (int k = 0; k < 8; ++k) {
        const int nx = x + kDx[k], ny = y + kDy[k];
        if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
        const size_t n = static_cast<size_t>(ny) * w + nx;
        if (!seen[n] && binary[n] == value) {
          seen[n] = 1;
          stack.push_back(n);
        }
      }
    }
    if (static_cast<int>(component.size()) >= smallest) continue;
    for (size_t at : component) {
      binary[at] = static_cast<uint8_t>(1 - value);
      ridge[at] = value ? -std::fabs(ridge[at]) - 0.05f : std::fabs(ridge[at]) + 0.05f;
    }
  }
}

// Follows the skeleton from (x, y) through the neighbour `first` for up to
// `steps` pixels, and stops at a junction. Returns the last pixel reached
// and how many steps were taken.
struct Walk {
  int x = 0, y = 0, steps = 0;
  bool junction = false;  // stopped on a pixel where lines meet
  std::vector<std::pair<int, int>> path;
};

Walk Follow(const Grid& g, int x, int y, int first, int steps) {
  Walk w;
  int cx = x + kDx[first], cy = y + kDy[first];
  std::vector<std::pair<int, int>> visited{{x, y}};
  for (w.steps = 1;; ++w.steps) {
    w.path.push_back({cx, cy});
    visited.push_back({cx, cy});
    const unsigned ring = g.Ring(cx, cy);
    if (Crossings(ring) >= 3) {
      w.junction = true;
      break;
    }
    if (w.steps >= steps) break;
    // The next pixel: a junction when one is adjacent (a line may touch
    // it only diagonally, beside a pixel of the line it joins), else a
    // side neighbour before a corner one.
    int next = -1, rank = 3;
    for (int k = 0; k < 8; ++k) {
      if (!((ring >> k) & 1)) continue;
      const std::pair<int, int> n{cx + kDx[k], cy + kDy[k]};
      if (std::find(visited.begin(), visited.end(), n) != visited.end()) continue;
      const int r = Crossings(g.Ring(n.first, n.second)) >= 3 ? 0 : k % 2 == 0 ? 1 : 2;
      if (r < rank) {
        rank = r;
        next = k;
      }
    }
    if (next < 0) break;
    cx += kDx[next];
    cy += kDy[next];
  }
  w.x = cx;
  w.y = cy;
  return w;
}

// The first neighbour of each run of set neighbours round the ring: one per
// line leaving the pixel.
std::vector<int> Branches(unsigned ring) {
  std::vector<int> out;
  for (int k = 0; k < 8; ++k)
    if (((ring >> k) & 1) && !((ring >> ((k + 7) % 8)) & 1)) out.push_back(k);
  return out;
}

// Cuts every line that leaves a junction and ends within `longest` pixels.
void PruneSpurs(Grid& g, int longest) {
  for (int round = 0; round < 3; ++round) {
    bool cut = false;
    for (int y = 0; y < g.height(); ++y)
      for (int x = 0; x < g.width(); ++x) {
        if (!g.At(x, y) || Crossings(g.Ring(x, y)) != 1) continue;
        const auto b = Branches(g.Ring(x, y));
        if (b.empty()) continue;
        const Walk w = Follow(g, x, y, b[0], longest);
        if (!w.junction) continue;
        g.Set(x, y, 0);
        for (size_t i = 0; i + 1 < w.path.size(); ++i) g.Set(w.path[i].first, w.path[i].second, 0);
        cut = true;
      }
    if (!cut) break;
  }
}

double DirectionTo(double fx, double fy, double tx, double ty) {
  const double a = std::atan2(-(ty - fy), tx - fx);
  return a < 0 ? a + 2 * kPi : a;
}

// How much of a ridge lies 3 to 7 pixels from (x, y) in the direction
// `way`: the mean of the pattern there (below 0 in a valley).
double Valley(const std::vector<float>& ridge, int width, int height, double x, double y,
              double way) {
  double sum = 0;
  for (int d = 3; d <= 7; ++d) {
    const int ix = std::clamp(static_cast<int>(x + d * std::cos(way)), 0, width - 1);
    const int iy = std::clamp(static_cast<int>(y - d * std::sin(way)), 0, height - 1);
    sum += ridge[static_cast<size_t>(iy) * width + ix];
  }
  return sum / 5;
}

// The direction along `axis` (up to a half turn) nearer to `way`, in
// [0, 2π).
double Along(double axis, double way) {
  const double d = std::cos(way - axis) >= 0 ? axis : axis + kPi;
  const double a = std::fmod(d, 2 * kPi);
  return a < 0 ? a + 2 * kPi : a;
}

}  // namespace

void Thin(std::vector<uint8_t>& binary, int width, int height) {
  Grid g(binary, width, height);
  std::vector<std::pair<int, int>> remove;
  for (bool changed = true; changed;) {
    changed = false;
    for (int pass = 0; pass < 2; ++pass) {
      remove.clear();
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          if (!g.At(x, y)) continue;
          const unsigned r = g.Ring(x, y);
          const int n = std::popcount(r);
          if (n < 2 || n > 6 || Crossings(r) != 1) continue;
          // P2 P4 P6 and P4 P6 P8 (first pass), P2 P4 P8 and P2 P6 P8
          // (second): bits 0, 2, 4, 6 are up, right, down, left.
          const bool up = r & 1, right = r & 4, down = r & 16, left = r & 64;
          if (pass == 0 ? (up && right && down) || (right && down && left)
                        : (up && right && left) || (up && down && left))
            continue;
          remove.push_back({x, y});
        }
      for (auto [x, y] : remove) g.Set(x, y, 0);
      changed = changed || !remove.empty();
    }
  }
}

std::vector<SkeletonMinutia> SkeletonMinutiae(std::vector<float>& ridge, int width, int height,
                                              int smallest,
                                              const std::function<double(double, double)>& axis,
                                              const std::function<bool(double, double)>& keep) {
  std::vector<uint8_t> binary(ridge.size());
  for (size_t i = 0; i < ridge.size(); ++i) binary[i] = ridge[i] > 0;
  RemoveSmall(binary, ridge, width, height, 1, smallest);
  RemoveSmall(binary, ridge, width, height, 0, smallest);
  Thin(binary, width, height);
  Grid g(binary, width, height);
  PruneSpurs(g, 8);

  constexpr int kTrace = 10;
  std::vector<SkeletonMinutia> found;
  std::vector<std::pair<double, double>> junctions;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (!g.At(x, y)) continue;
      const unsigned ring = g.Ring(x, y);
      const int crossings = Crossings(ring);
      if (crossings == 1) {
        const Walk w = Follow(g, x, y, Branches(ring)[0], kTrace);
        if (w.steps < kTrace) continue;  // a line too short to carry a direction
        SkeletonMinutia m;
        m.x = x + 0.5;
        m.y = y + 0.5;
        m.direction = Along(axis(m.x, m.y), DirectionTo(x, y, w.x, w.y));
        m.type = MinutiaType::kEnding;
        found.push_back(m);
      } else if (crossings == 3) {
        // A junction of the thinned lines may take two or three pixels:
        // one bifurcation for the pixels within two of each other.
        bool near = false;
        for (auto [jx, jy] : junctions) near = near || std::hypot(jx - x, jy - y) < 2.5;
        junctions.push_back({x, y});
        if (near) continue;
        // The two forks leave along the ridges' axis one way, the stem the
        // other way; the valley between the forks ends here and runs the
        // forks' way: the valley, not the ridge, lies that way.
        const double along = axis(x + 0.5, y + 0.5);
        const int forward = Valley(ridge, width, height, x + 0.5, y + 0.5, along) <
                                    Valley(ridge, width, height, x + 0.5, y + 0.5, along + kPi)
                                ? 2
                                : 1;
        SkeletonMinutia m;
        m.x = x + 0.5;
        m.y = y + 0.5;
        m.direction = Along(along, forward == 2 ? along : along + kPi);
        m.type = MinutiaType::kBifurcation;
        found.push_back(m);
      }
    }
  std::vector<SkeletonMinutia> kept;
  for (const auto& m : found)
    if (keep(m.x, m.y)) kept.push_back(m);
  return kept;
}

}  // namespace dactyra::sim::fingerprint
