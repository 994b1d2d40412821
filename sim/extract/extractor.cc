// The extraction pipeline. Orientation, coherence, segmentation and the
// singular points live on a grid of 4 × 4-pixel cells; enhancement,
// binarisation, thinning and the minutiae work on pixels.
#include "sim/extract/extractor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

#include "sim/extract/filters.h"

namespace dactyra::sim::extract {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kCell = 4;

template <typename T>
struct Grid {
  int w = 0, h = 0;
  std::vector<T> v;
  Grid() = default;
  Grid(int w_, int h_, T fill = T()) : w(w_), h(h_), v(static_cast<size_t>(w_) * h_, fill) {}
  T& at(int x, int y) { return v[static_cast<size_t>(y) * w + x]; }
  const T& at(int x, int y) const { return v[static_cast<size_t>(y) * w + x]; }
  const T& clamped(int x, int y) const {
    return at(std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1));
  }
};

void Blur(Grid<float>& g, double sigma) { GaussianBlur(g.v.data(), g.w, g.h, sigma); }

void BoxBlur(Grid<float>& g, int r) {
  Grid<float> tmp(g.w, g.h);
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x) {
      float s = 0;
      for (int i = -r; i <= r; ++i) s += g.clamped(x + i, y);
      tmp.at(x, y) = s / (2 * r + 1);
    }
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x) {
      float s = 0;
      for (int i = -r; i <= r; ++i) s += tmp.clamped(x, y + i);
      g.at(x, y) = s / (2 * r + 1);
    }
}

// The orientation field as doubled-angle vectors per cell.
struct Field {
  Grid<float> c, s, mag;                // cos 2φ, sin 2φ of the gradient, weighted; |gradient|²
  double Theta(int cx, int cy) const {  // ridge direction in image coordinates, [0, π)
    double t = 0.5 * std::atan2(s.clamped(cx, cy), c.clamped(cx, cy)) + kPi / 2;
    return t >= kPi ? t - kPi : t;
  }
  double Coherence(int cx, int cy) const {
    const double m = mag.clamped(cx, cy);
    return m > 1e-9 ? std::hypot(c.clamped(cx, cy), s.clamped(cx, cy)) / m : 0;
  }
  void Smooth(bool simple, double sigma) {
    for (Grid<float>* g : {&c, &s, &mag}) {
      if (simple) {
        BoxBlur(*g, 1);
      } else {
        Blur(*g, sigma);
      }
    }
  }
  // Replaces the directions of cells whose coherence stays low with those
  // of a wide neighbourhood.
  void RemoveWeak(double limit) {
    Field wide = *this;
    wide.Smooth(false, 3);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        if (Coherence(x, y) < limit) {
          c.at(x, y) = wide.c.at(x, y);
          s.at(x, y) = wide.s.at(x, y);
          mag.at(x, y) = wide.mag.at(x, y);
        }
  }
};

// std::lround without the call into the maths library, which the period
// estimate makes 400 000 times an image.
inline int RoundHalfAway(double v) {
  return v >= 0 ? static_cast<int>(v + 0.5) : -static_cast<int>(0.5 - v);
}

double WrapHalf(double a) {  // into (-π/2, π/2]
  while (a > kPi / 2) a -= kPi;
  while (a <= -kPi / 2) a += kPi;
  return a;
}

// A minutia as the skeleton first shows it, before the clean-up.
struct Candidate {
  int x, y;
  Kind kind;
  double dir = 0;  // image coordinates, radians
  Dropped why = Dropped::kKept;
  // Where the picture stops, not a ridge event: never paired in the
  // clean-up, so that a real minutia beside the edge stays.
  bool cut = false;
  int link = -1;  // candidate reached along the ridge
  int link_len = 0;
};

constexpr int kNx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kNy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

class Pipeline {
 public:
  Pipeline(const uint8_t* px, int w, int h, const TVxExtractorConfiguration& c,
           std::vector<DroppedCandidate>* dropped)
      : dropped_(dropped),
        px_(px),
        w_(w),
        h_(h),
        cfg_(c),
        cw_((w + kCell - 1) / kCell),
        ch_((h + kCell - 1) / kCell) {}

  Features Run(bool skeleton, uint8_t* binary);

 private:
  void Segment();
  void Normalise();
  void Orient();
  void EstimatePeriod();
  void Enhance();
  void Thin();
  void FindMinutiae(Features& out);
  // A candidate left out, with the first reason found; a cut also stays
  // out of the clean-up's pairs.
  static void Drop(Candidate& c, Dropped why) {
    if (c.why == Dropped::kKept) c.why = why;
  }
  static void Cut(Candidate& c, Dropped why) {
    Drop(c, why);
    c.cut = true;
  }
  void Report(const Candidate& c, Dropped why) const {
    if (dropped_) dropped_->push_back({c.x + 0.5, c.y + 0.5, c.kind, why});
  }
  // The phases of FindMinutiae, in their order.
  std::vector<Candidate> MarkCandidates();
  void TraceCandidates(std::vector<Candidate>& cand);
  void MarkCuts(std::vector<Candidate>& cand) const;
  void DropLinkedPairs(std::vector<Candidate>& cand) const;
  void DropClosePairs(std::vector<Candidate>& cand) const;
  void DropNearSingular(std::vector<Candidate>& cand, const Features& found) const;
  void Describe(const std::vector<Candidate>& cand, Features& out) const;
  void FindSingular(Features& out);

  bool Fg(int x, int y) const {
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return false;
    return fg_.at(x / kCell, y / kCell) != 0;
  }
  bool Inner(int x, int y) const {
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return false;
    return inner_.at(x / kCell, y / kCell) != 0;
  }
  bool Skel(int x, int y) const { return x >= 0 && y >= 0 && x < w_ && y < h_ && skel_.at(x, y); }
  // Follows the skeleton from `from` (leaving `start` behind) for at most
  // `steps` pixels; stops at a minutia. Returns the last pixel and the
  // number of steps, and through `hit` the minutia index reached or -1.
  int Trace(int sx, int sy, int fx, int fy, int steps, int* hit, int* ex, int* ey) const;

  std::vector<DroppedCandidate>* dropped_;  // may be null
  const uint8_t* px_;
  int w_, h_;
  TVxExtractorConfiguration cfg_;
  int cw_, ch_;
  Grid<float> img_;          // working image
  Grid<float> smooth_;       // the same, smoothed (sigma 1)
  Grid<float> period_cell_;  // ridge period per cell
  Grid<uint8_t> fg_;         // foreground cells
  Grid<uint8_t> inner_;      // foreground cells away from the border
  Field field_;              // for enhancement
  Field field2_;             // for singular points and directions
  double period_ = 9;
  Grid<uint8_t> ridge_, skel_;
  Grid<int> mark_;            // minutia index at a skeleton pixel, -1 elsewhere
  Grid<float> energy_;        // gradient energy per pixel, per cell
  double finger_energy_ = 0;  // its median over the finger's cells
};

void Pipeline::Segment() {
  // Variance over a 16-pixel window of the lightly smoothed image, by
  // integral images.
  const Grid<float>& smooth = smooth_;
  std::vector<double> s1(static_cast<size_t>(w_ + 1) * (h_ + 1)), s2(s1.size());
  for (int y = 0; y < h_; ++y) {
    double r1 = 0, r2 = 0;
    for (int x = 0; x < w_; ++x) {
      const double v = smooth.at(x, y);
      r1 += v;
      r2 += v * v;
      s1[(y + 1) * (w_ + 1) + x + 1] = s1[y * (w_ + 1) + x + 1] + r1;
      s2[(y + 1) * (w_ + 1) + x + 1] = s2[y * (w_ + 1) + x + 1] + r2;
    }
  }
  fg_ = Grid<uint8_t>(cw_, ch_);
  for (int cy = 0; cy < ch_; ++cy)
    for (int cx = 0; cx < cw_; ++cx) {
      const int x0 = std::max(0, cx * kCell - 6), x1 = std::min(w_, cx * kCell + 10);
      const int y0 = std::max(0, cy * kCell - 6), y1 = std::min(h_, cy * kCell + 10);
      const double n = static_cast<double>(x1 - x0) * (y1 - y0);
      auto sum = [&](const std::vector<double>& s) {
        return s[y1 * (w_ + 1) + x1] - s[y0 * (w_ + 1) + x1] - s[y1 * (w_ + 1) + x0] +
               s[y0 * (w_ + 1) + x0];
      };
      const double m = sum(s1) / n, var = sum(s2) / n - m * m;
      fg_.at(cx, cy) = var > cfg_.LimiarVariancia;
    }
  // Two majority passes close small holes and drop specks.
  for (int pass = 0; pass < 2; ++pass) {
    Grid<uint8_t> next = fg_;
    for (int cy = 0; cy < ch_; ++cy)
      for (int cx = 0; cx < cw_; ++cx) {
        int n = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) n += fg_.clamped(cx + dx, cy + dy);
        next.at(cx, cy) = n >= 5;
      }
    fg_ = next;
  }
  // Background reached from the image's edge stays; enclosed holes (a
  // smudge, a crowded core) are finger.
  Grid<uint8_t> outside(cw_, ch_);
  std::vector<std::pair<int, int>> stack;
  for (int cy = 0; cy < ch_; ++cy)
    for (int cx = 0; cx < cw_; ++cx)
      if ((cx == 0 || cy == 0 || cx == cw_ - 1 || cy == ch_ - 1) && !fg_.at(cx, cy)) {
        outside.at(cx, cy) = 1;
        stack.push_back({cx, cy});
      }
  while (!stack.empty()) {
    const auto [x, y] = stack.back();
    stack.pop_back();
    const int nx[4] = {x + 1, x - 1, x, x}, ny[4] = {y, y, y + 1, y - 1};
    for (int k = 0; k < 4; ++k) {
      if (nx[k] < 0 || ny[k] < 0 || nx[k] >= cw_ || ny[k] >= ch_) continue;
      if (outside.at(nx[k], ny[k]) || fg_.at(nx[k], ny[k])) continue;
      outside.at(nx[k], ny[k]) = 1;
      stack.push_back({nx[k], ny[k]});
    }
  }
  for (size_t i = 0; i < fg_.v.size(); ++i) fg_.v[i] = !outside.v[i];
}

void Pipeline::Normalise() {
  double sum = 0, sum2 = 0, n = 0;
  for (int y = 0; y < h_; ++y)
    for (int x = 0; x < w_; ++x)
      if (Fg(x, y)) {
        sum += img_.at(x, y);
        sum2 += static_cast<double>(img_.at(x, y)) * img_.at(x, y);
        ++n;
      }
  if (n < 1 || cfg_.SemAjuste) return;
  const double mean = sum / n, var = std::max(1.0, sum2 / n - mean * mean);
  const double gain = std::sqrt(cfg_.VarianciaDesejada / var);
  for (auto& v : img_.v) v = static_cast<float>(cfg_.MediaDesejada + (v - mean) * gain);
  for (auto& v : smooth_.v) v = static_cast<float>(cfg_.MediaDesejada + (v - mean) * gain);
}

void Pipeline::Orient() {
  const Grid<float>& g = cfg_.MediaGauss ? smooth_ : img_;
  field_.c = Grid<float>(cw_, ch_);
  field_.s = Grid<float>(cw_, ch_);
  field_.mag = Grid<float>(cw_, ch_);
  for (int y = 1; y + 1 < h_; ++y)
    for (int x = 1; x + 1 < w_; ++x) {
      // Sobel.
      const float* r0 = &g.at(x, y - 1);
      const float* r1 = &g.at(x, y);
      const float* r2 = &g.at(x, y + 1);
      const float gx = (r0[1] + 2 * r1[1] + r2[1]) - (r0[-1] + 2 * r1[-1] + r2[-1]);
      const float gy = (r2[-1] + 2 * r2[0] + r2[1]) - (r0[-1] + 2 * r0[0] + r0[1]);
      const int cx = x / kCell, cy = y / kCell;
      field_.c.at(cx, cy) += gx * gx - gy * gy;
      field_.s.at(cx, cy) += 2 * gx * gy;
      field_.mag.at(cx, cy) += gx * gx + gy * gy;
    }
  // The gradient energy per pixel of each cell, and its median over the
  // finger: where it stays low, there are no ridges. Unlike the gray
  // variance it does not swell where a window holds a little finger and
  // much background.
  energy_ = Grid<float>(cw_, ch_);
  std::vector<float> on_finger;
  for (int cy = 0; cy < ch_; ++cy)
    for (int cx = 0; cx < cw_; ++cx) {
      const int nx = std::min(w_ - 1, cx * kCell + kCell) - std::max(1, cx * kCell);
      const int ny = std::min(h_ - 1, cy * kCell + kCell) - std::max(1, cy * kCell);
      if (nx > 0 && ny > 0) {
        energy_.at(cx, cy) = field_.mag.at(cx, cy) / (nx * ny);
      } else {  // a last row or column of cells with no whole pixel: its neighbour's
        energy_.at(cx, cy) = energy_.clamped(nx > 0 ? cx : cx - 1, ny > 0 ? cy : cy - 1);
      }
      if (fg_.at(cx, cy)) on_finger.push_back(energy_.at(cx, cy));
    }
  if (!on_finger.empty()) {
    std::nth_element(on_finger.begin(), on_finger.begin() + on_finger.size() / 2, on_finger.end());
    finger_energy_ = on_finger[on_finger.size() / 2];
  }
  field2_ = field_;
  if (cfg_.PassoSuavizar1) field_.Smooth(cfg_.MediaDirecoesSimples1, 1.5);
  if (cfg_.PassoRemoverDirecoes1) field_.RemoveWeak(0.2);
  if (cfg_.PassoSuavizar2) field2_.Smooth(cfg_.MediaDirecoesSimples2, 2.5);
  if (cfg_.PassoRemoverDirecoes2) field2_.RemoveWeak(0.2);
  // Cells far enough from the background for minutiae and singular
  // points. The image's edge is not the finger's: there two cells are
  // enough to keep the ridges that leave the picture from ending.
  inner_ = Grid<uint8_t>(cw_, ch_);
  const int r = cfg_.TruncarArea ? 3 : 0;
  for (int cy = 0; cy < ch_; ++cy)
    for (int cx = 0; cx < cw_; ++cx) {
      bool ok = fg_.at(cx, cy);
      for (int dy = -r; dy <= r && ok; ++dy)
        for (int dx = -r; dx <= r && ok; ++dx) {
          const int x = cx + dx, y = cy + dy;
          ok = x < 0 || y < 0 || x >= cw_ || y >= ch_ || fg_.at(x, y);
        }
      inner_.at(cx, cy) = ok;
    }
}

void Pipeline::EstimatePeriod() {
  // Gray profiles across the ridges at coherent cells; the period is the
  // lag of the first autocorrelation peak. Cells without a measure take
  // the weighted mean of their neighbours', and the median of all where
  // there are none.
  Grid<float> sum(cw_, ch_), weight(cw_, ch_);
  std::vector<double> all;
  for (int cy = 1; cy + 1 < ch_; cy += 2)
    for (int cx = 1; cx + 1 < cw_; cx += 2) {
      if (!fg_.at(cx, cy) || field_.Coherence(cx, cy) < 0.4) continue;
      const double t = field_.Theta(cx, cy);
      const double nx = -std::sin(t), ny = std::cos(t), tx = std::cos(t), ty = std::sin(t);
      const double x0 = cx * kCell + 2, y0 = cy * kCell + 2;
      std::array<double, 41> prof{};
      for (int i = -20; i <= 20; ++i) {
        double v = 0;
        for (int j = -2; j <= 2; ++j) {
          const int x = RoundHalfAway(x0 + i * nx + j * tx);
          const int y = RoundHalfAway(y0 + i * ny + j * ty);
          v += smooth_.clamped(x, y);
        }
        prof[i + 20] = v;
      }
      double mean = 0;
      for (double v : prof) mean += v;
      mean /= prof.size();
      for (double& v : prof) v -= mean;
      std::array<double, 22> ac{};
      for (int l = 0; l <= 21; ++l) {
        double a = 0;
        for (int i = 0; i + l < 41; ++i) a += prof[i] * prof[i + l];
        ac[l] = a / (41 - l);
      }
      int lag = 0;
      for (int l = 4; l <= 20; ++l)
        if (ac[l] > ac[l - 1] && ac[l] >= ac[l + 1] && ac[l] > 0.2 * ac[0]) {
          lag = l;
          break;
        }
      if (!lag) continue;
      // Parabolic refinement of the peak.
      const double den = ac[lag - 1] - 2 * ac[lag] + ac[lag + 1];
      const double p = lag + (std::abs(den) > 1e-9 ? 0.5 * (ac[lag - 1] - ac[lag + 1]) / den : 0);
      sum.at(cx, cy) = static_cast<float>(p);
      weight.at(cx, cy) = 1;
      all.push_back(p);
    }
  if (!all.empty()) {
    std::nth_element(all.begin(), all.begin() + all.size() / 2, all.end());
    period_ = std::clamp(all[all.size() / 2], 5.0, 16.0);
  }
  Blur(sum, 2.5);
  Blur(weight, 2.5);
  period_cell_ = Grid<float>(cw_, ch_, static_cast<float>(period_));
  for (size_t i = 0; i < sum.v.size(); ++i)
    if (weight.v[i] > 0.02f) period_cell_.v[i] = std::clamp(sum.v[i] / weight.v[i], 5.f, 16.f);
}

void Pipeline::Enhance() {
  // One pair of kernels (along the ridge: Gaussian; across: Gabor) per
  // direction and whole-pixel period; each pixel takes those of its cell.
  const int bins = cfg_.TipoDirecoes;
  constexpr int kMinPeriod = 5, kMaxPeriod = 16;
  struct Pair {
    Kernel along, across;
  };
  std::vector<Pair> kernels(static_cast<size_t>(bins) * (kMaxPeriod - kMinPeriod + 1));
  for (int period = kMinPeriod; period <= kMaxPeriod; ++period) {
    const double sc = cfg_.FatorGabor * period, sa = 1.5 * sc;
    const int la = std::max(1, static_cast<int>(std::ceil(2 * sa)));
    const int lc = std::max(2, static_cast<int>(std::ceil(2.5 * sc)));
    for (int b = 0; b < bins; ++b) {
      Pair& k = kernels[static_cast<size_t>(period - kMinPeriod) * bins + b];
      const double t = kPi * b / bins;
      const double tx = std::cos(t), ty = std::sin(t), nx = -ty, ny = tx;
      double total = 0;
      for (int i = -la; i <= la; ++i) {
        const float wgt = static_cast<float>(std::exp(-0.5 * i * i / (sa * sa)));
        k.along.push_back(
            {static_cast<int>(std::lround(i * tx)), static_cast<int>(std::lround(i * ty)), wgt});
        total += wgt;
      }
      for (auto& tap : k.along) tap.w = static_cast<float>(tap.w / total);
      double mean = 0;
      for (int j = -lc; j <= lc; ++j) {
        const double wgt = std::exp(-0.5 * j * j / (sc * sc)) * std::cos(2 * kPi * j / period);
        k.across.push_back({static_cast<int>(std::lround(j * nx)),
                            static_cast<int>(std::lround(j * ny)), static_cast<float>(wgt)});
        mean += wgt;
      }
      mean /= k.across.size();
      for (auto& tap : k.across) tap.w -= static_cast<float>(mean);
    }
  }
  std::vector<const Kernel*> along(static_cast<size_t>(cw_) * ch_),
      across(static_cast<size_t>(cw_) * ch_);
  for (int cy = 0; cy < ch_; ++cy)
    for (int cx = 0; cx < cw_; ++cx) {
      if (!fg_.at(cx, cy)) continue;
      const double t = field_.Theta(cx, cy);
      const int b = static_cast<int>(std::lround(t / kPi * bins)) % bins;
      const int period = std::clamp(static_cast<int>(std::lround(period_cell_.at(cx, cy))),
                                    kMinPeriod, kMaxPeriod);
      const Pair& k = kernels[static_cast<size_t>(period - kMinPeriod) * bins + b];
      along[static_cast<size_t>(cy) * cw_ + cx] = &k.along;
      across[static_cast<size_t>(cy) * cw_ + cx] = &k.across;
    }
  Grid<float> smooth(w_, h_), resp(w_, h_);
  FilterByCells(img_.v.data(), w_, h_, kCell, along, smooth.v.data());
  FilterByCells(smooth.v.data(), w_, h_, kCell, across, resp.v.data());
  ridge_ = Grid<uint8_t>(w_, h_);
  for (int y = 0; y < h_; ++y)
    for (int x = 0; x < w_; ++x) ridge_.at(x, y) = Fg(x, y) && resp.at(x, y) < 0;
}

void Pipeline::Thin() {
  skel_ = ridge_;
  ThinZhangSuen(skel_.v.data(), w_, h_);
}

int Pipeline::Trace(int sx, int sy, int fx, int fy, int steps, int* hit, int* ex, int* ey) const {
  // The last few pixels walked, so that the walk never turns back through
  // the clumps a thinned line keeps at its corners.
  std::array<std::pair<int, int>, 4> recent{};
  recent.fill({sx, sy});
  int x = fx, y = fy, n = 1;
  *hit = -1;
  for (; n < steps; ++n) {
    if (mark_.at(x, y) >= 0) {
      *hit = mark_.at(x, y);
      break;
    }
    // Prefer a step that leaves the previous pixel behind, then one that
    // stays beside it (a corner of the thinned line); never a pixel walked.
    int nx = -1, ny = -1;
    for (int pass = 0; pass < 2 && nx < 0; ++pass)
      for (int i = 0; i < 8; ++i) {
        const int qx = x + kNx[(2 * i) % 8 + (i >= 4)], qy = y + kNy[(2 * i) % 8 + (i >= 4)];
        if (!Skel(qx, qy)) continue;
        bool walked = false;
        for (const auto& [rx, ry] : recent) walked = walked || (rx == qx && ry == qy);
        const bool beside =
            std::abs(recent[3].first - qx) <= 1 && std::abs(recent[3].second - qy) <= 1;
        if (walked || (pass == 0 && beside)) continue;
        nx = qx;
        ny = qy;
        break;
      }
    if (nx < 0) break;
    std::rotate(recent.begin(), recent.begin() + 1, recent.end());
    recent[3] = {x, y};
    x = nx;
    y = ny;
  }
  *ex = x;
  *ey = y;
  return n;
}

void Pipeline::FindMinutiae(Features& out) {
  std::vector<Candidate> cand = MarkCandidates();
  TraceCandidates(cand);
  MarkCuts(cand);
  if (cfg_.EliminarMinucias) {
    DropLinkedPairs(cand);
    DropClosePairs(cand);
  }
  DropNearSingular(cand, out);
  Describe(cand, out);
}

std::vector<Candidate> Pipeline::MarkCandidates() {
  // Crossing numbers: 1 at a ridge ending, 3 at a fork.
  std::vector<Candidate> cand;
  mark_ = Grid<int>(w_, h_, -1);
  for (int y = 1; y + 1 < h_; ++y)
    for (int x = 1; x + 1 < w_; ++x) {
      if (!skel_.at(x, y) || !Fg(x, y)) continue;
      int cn = 0;
      for (int i = 0; i < 8; ++i)
        cn += std::abs(skel_.at(x + kNx[i], y + kNy[i]) -
                       skel_.at(x + kNx[(i + 1) % 8], y + kNy[(i + 1) % 8]));
      cn /= 2;
      if (cn == 1 || cn == 3) {
        mark_.at(x, y) = static_cast<int>(cand.size());
        cand.push_back({x, y, cn == 1 ? Kind::kEnding : Kind::kBifurcation});
      }
    }
  return cand;
}

void Pipeline::TraceCandidates(std::vector<Candidate>& cand) {
  // Each branch is followed a little over a ridge period: its far end
  // gives the branch's direction, and the nearest candidate met on the way
  // is the link the clean-up judges.
  const int reach = static_cast<int>(std::lround(1.2 * period_));
  std::vector<std::pair<int, int>> starts;
  std::vector<double> dirs;
  for (size_t i = 0; i < cand.size(); ++i) {
    Candidate& c = cand[i];
    // The branches leaving the point: runs of skeleton neighbours.
    starts.clear();
    for (int k = 0; k < 8; ++k) {
      const int qx = c.x + kNx[k], qy = c.y + kNy[k];
      const int px = c.x + kNx[(k + 7) % 8], py = c.y + kNy[(k + 7) % 8];
      if (Skel(qx, qy) && !Skel(px, py)) starts.push_back({qx, qy});
    }
    dirs.clear();
    for (auto [sx, sy] : starts) {
      int hit, ex, ey;
      mark_.at(c.x, c.y) = -1;
      const int len = Trace(c.x, c.y, sx, sy, reach + 2, &hit, &ex, &ey);
      mark_.at(c.x, c.y) = static_cast<int>(i);
      if (hit >= 0 && (c.link < 0 || len < c.link_len)) {
        c.link = hit;
        c.link_len = len;
      }
      dirs.push_back(std::atan2(ey - c.y, ex - c.x));
    }
    if (c.kind == Kind::kEnding) {
      c.dir = dirs.empty() ? 0 : dirs[0];
    } else if (dirs.size() == 3) {
      // The two branches lie close together; the stem is the odd one out,
      // and the valley between the branches runs opposite it.
      auto gap = [](double a, double b) {
        const double d = std::fmod(std::abs(a - b), 2 * kPi);
        return std::min(d, 2 * kPi - d);
      };
      int stem = 0;
      double best = -1;
      for (int k = 0; k < 3; ++k) {
        const double g = gap(dirs[(k + 1) % 3], dirs[(k + 2) % 3]);
        if (best < 0 || g < best) {
          best = g;
          stem = k;
        }
      }
      c.dir = dirs[stem] + kPi;
    } else {
      c.why = Dropped::kNoBranches;
    }
    // Snap to the smoothed orientation, keeping the traced sense.
    const double t = field2_.Theta(c.x / kCell, c.y / kCell);
    const double a = std::remainder(c.dir - t, kPi);
    if (std::abs(a) < kPi / 3) c.dir -= a;
  }
}

void Pipeline::MarkCuts(std::vector<Candidate>& cand) const {
  // A ridge that runs out of the picture ends on the skeleton as a real
  // ending does. Beyond a real ending's tip lies a valley, and round any
  // ridge event the skin goes on; a cut ridge goes on to the image's frame,
  // or the skin stops. The Gabor filter also draws ghost ridges along the
  // skin's edge, just outside it, and they end and fork at random: they
  // too lack skin a ridge period further out.
  const int reach = static_cast<int>(std::lround(2 * period_));
  // The skin shows as ridges' gradient energy round a point a ridge period
  // away (clamped into the image, so that a corner of background next to
  // the frame is seen as such).
  constexpr double kRatio = 0.25;
  auto skin = [&](int x, int y) {
    const int cx = std::clamp(x, 0, w_ - 1) / kCell, cy = std::clamp(y, 0, h_ - 1) / kCell;
    double sum = 0;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) sum += energy_.clamped(cx + dx, cy + dy);
    return sum / 9 > kRatio * finger_energy_;
  };
  // Three quarters of a ridge period and a pixel: from a ghost or a cut
  // ending on the edge the point outward lies off the skin, while a
  // minutia a ridge period inside the edge keeps skin all round. (A whole
  // period and two pixels lost every minutia within 6 px of a contact's
  // cut and four in ten of those 6 to 9 px in.)
  const int ring = static_cast<int>(std::lround(0.75 * period_)) + 1;
  auto inside = [&](int x, int y) { return x >= 0 && y >= 0 && x < w_ && y < h_; };
  for (Candidate& c : cand) {
    if (cfg_.TruncarArea) {
      bool all_round = true;
      for (int k = 0; k < 8 && all_round; ++k) {
        const double a = k * kPi / 4;
        all_round = skin(c.x + static_cast<int>(std::lround(ring * std::cos(a))),
                         c.y + static_cast<int>(std::lround(ring * std::sin(a))));
      }
      if (!all_round) {
        Cut(c, Dropped::kNoSkinRound);
        continue;
      }
    }
    if (c.kind != Kind::kEnding) continue;
    // Within a ridge's half width of the frame no valley fits beyond the
    // tip, and a ridge that leaves at a slant ends here too.
    if (c.x < 3 || c.y < 3 || c.x + 3 >= w_ || c.y + 3 >= h_) {
      Cut(c, Dropped::kAtFrame);
      continue;
    }
    const double tx = -std::cos(c.dir), ty = -std::sin(c.dir);
    for (int s = 1; s <= reach; ++s) {
      const int x = static_cast<int>(std::lround(c.x + s * tx));
      const int y = static_cast<int>(std::lround(c.y + s * ty));
      if (!inside(x, y)) {
        Cut(c, Dropped::kCutByFrame);
        break;
      }
      // A valley three pixels wide across the walk, so that a slant or a
      // direction a little off does not step out of the ridge sideways.
      const int lx = static_cast<int>(std::lround(-ty)), ly = static_cast<int>(std::lround(tx));
      auto ridge = [&](int qx, int qy) { return inside(qx, qy) && ridge_.at(qx, qy); };
      if (!ridge(x, y) && !ridge(x + lx, y + ly) && !ridge(x - lx, y - ly)) break;
    }
  }
}

void Pipeline::DropLinkedPairs(std::vector<Candidate>& cand) const {
  // Two candidates joined by a short stretch of skeleton.
  const double near = 1.35 * period_;
  for (Candidate& c : cand) {
    if (c.link < 0 || c.cut) continue;
    Candidate& o = cand[static_cast<size_t>(c.link)];
    if (o.cut) continue;
    if (c.kind == Kind::kBifurcation && o.kind == Kind::kBifurcation) {
      // A bridge joins neighbouring ridges across the flow; two forks
      // along the flow close a lake, which is real.
      const double line = std::atan2(o.y - c.y, o.x - c.x);
      const double t = field2_.Theta(c.x / kCell, c.y / kCell);
      if (c.link_len <= near && std::abs(std::remainder(line - t, kPi)) > kPi / 4) {
        Drop(c, Dropped::kBridge);
        Drop(o, Dropped::kBridge);
      }
    } else if (c.link_len <= 0.8 * period_) {
      // Spurs (ending to fork) and dots (ending to ending).
      Drop(c, Dropped::kSpur);
      Drop(o, Dropped::kSpur);
    }
  }
}

void Pipeline::DropClosePairs(std::vector<Candidate>& cand) const {
  // Candidates too close together to be two ridge events, and broken
  // ridges: two endings facing each other along the flow. Candidates come
  // in raster order: once b lies more than `near` rows below a, so do all
  // the rest.
  const double close = 0.6 * period_, near = 1.35 * period_;
  for (size_t i = 0; i < cand.size(); ++i)
    for (size_t j = i + 1; j < cand.size() && cand[j].y - cand[i].y < near; ++j) {
      Candidate& a = cand[i];
      Candidate& b = cand[j];
      if (std::abs(a.x - b.x) >= near || a.cut || b.cut) continue;
      const double d = std::hypot(a.x - b.x, a.y - b.y);
      if (d < close) {
        Drop(a, Dropped::kTooClose);
        Drop(b, Dropped::kTooClose);
      } else if (d < near && a.kind == Kind::kEnding && b.kind == Kind::kEnding) {
        const double facing = std::abs(std::remainder(a.dir - b.dir - kPi, 2 * kPi));
        const double line = std::atan2(b.y - a.y, b.x - a.x);
        if (facing < kPi / 4 && std::abs(std::remainder(line - a.dir, 2 * kPi)) < kPi / 3) {
          Drop(a, Dropped::kBrokenRidge);
          Drop(b, Dropped::kBrokenRidge);
        }
      }
    }
}

void Pipeline::DropNearSingular(std::vector<Candidate>& cand, const Features& found) const {
  // The crossing numbers at a core or delta describe the flow, not a
  // ridge event: candidates within a ridge period and a half of one go.
  for (Candidate& c : cand)
    for (const auto* points : {&found.cores, &found.deltas})
      for (const auto& p : *points)
        if (std::hypot(c.x + 0.5 - p.x, c.y + 0.5 - p.y) < 1.5 * period_)
          Drop(c, Dropped::kNearSingular);
}

void Pipeline::Describe(const std::vector<Candidate>& cand, Features& out) const {
  // The survivors with their quality (the flow's coherence), curvature
  // (the widest turn of the flow two cells away) and contrast (the gray
  // spread round the point); those in poor areas are left out.
  const double contrast_floor = 0.6 * std::sqrt(static_cast<double>(cfg_.VarianciaDesejada));
  // A window of 13 pixels, over a ridge period at 500 dpi, holds ridge and
  // valley wherever the point lies, a fork's dark heart too.
  constexpr int spread = 6;
  for (const Candidate& c : cand) {
    if (c.why != Dropped::kKept) {
      Report(c, c.why);
      continue;
    }
    const int cx = c.x / kCell, cy = c.y / kCell;
    FoundMinutia m;
    m.x = c.x + 0.5;
    m.y = c.y + 0.5;
    m.kind = c.kind;
    double d = std::fmod(-c.dir, 2 * kPi);  // screen counter-clockwise
    if (d < 0) d += 2 * kPi;
    m.direction = d;
    m.quality = std::clamp(static_cast<int>(std::lround(100 * field2_.Coherence(cx, cy))), 1, 100);
    if (!cfg_.PermitirQMenor && m.quality < 20) {
      Report(c, Dropped::kLowQuality);
      continue;
    }
    double turn = 0;
    const double t0 = field2_.Theta(cx, cy);
    for (int k = 0; k < 8; ++k)
      turn =
          std::max(turn, std::abs(WrapHalf(field2_.Theta(cx + 2 * kNx[k], cy + 2 * kNy[k]) - t0)));
    m.curvature = std::clamp(static_cast<int>(std::lround(254 * turn / (kPi / 2))), 0, 254);
    double s1 = 0, s2 = 0, n = 0;
    for (int y = c.y - spread; y <= c.y + spread; ++y)
      for (int x = c.x - spread; x <= c.x + spread; ++x) {
        const double v = img_.clamped(x, y);
        s1 += v;
        s2 += v * v;
        ++n;
      }
    m.contrast = std::clamp(
        static_cast<int>(std::lround(std::sqrt(std::max(0.0, s2 / n - (s1 / n) * (s1 / n))))), 0,
        254);
    // Poor areas: faint ridges (a smudge) or a muddled flow.
    if (cfg_.ApagarAreaRuim && !cfg_.SemAjuste &&
        (m.contrast < contrast_floor || field2_.Coherence(cx, cy) < 0.25)) {
      Report(c, Dropped::kPoorArea);
      continue;
    }
    out.minutiae.push_back(m);
  }
}

void Pipeline::FindSingular(Features& out) {
  // Poincaré index over the square ring of cells four away.
  constexpr int kR = 4;
  std::vector<std::pair<int, int>> ring;
  for (int i = -kR; i < kR; ++i) ring.push_back({i, -kR});
  for (int i = -kR; i < kR; ++i) ring.push_back({kR, i});
  for (int i = kR; i > -kR; --i) ring.push_back({i, kR});
  for (int i = kR; i > -kR; --i) ring.push_back({-kR, i});
  Grid<float> theta(cw_, ch_);
  for (int cy = 0; cy < ch_; ++cy)
    for (int cx = 0; cx < cw_; ++cx) theta.at(cx, cy) = static_cast<float>(field2_.Theta(cx, cy));
  Grid<int8_t> index(cw_, ch_);
  for (int cy = kR; cy + kR < ch_; ++cy)
    for (int cx = kR; cx + kR < cw_; ++cx) {
      if (!inner_.at(cx, cy)) continue;
      double sum = 0;
      for (size_t k = 0; k < ring.size(); ++k) {
        const auto [ax, ay] = ring[k];
        const auto [bx, by] = ring[(k + 1) % ring.size()];
        sum += WrapHalf(theta.at(cx + bx, cy + by) - theta.at(cx + ax, cy + ay));
      }
      if (std::abs(sum - kPi) < 0.5) index.at(cx, cy) = 1;
      if (std::abs(sum + kPi) < 0.5) index.at(cx, cy) = -1;
    }
  // Each connected run of cells of one sign is one point, at its centre.
  Grid<uint8_t> seen(cw_, ch_);
  std::vector<std::pair<int, int>> stack;
  for (int cy = 0; cy < ch_; ++cy)
    for (int cx = 0; cx < cw_; ++cx) {
      const int sign = index.at(cx, cy);
      if (!sign || seen.at(cx, cy)) continue;
      double sx = 0, sy = 0, n = 0;
      stack.assign(1, {cx, cy});
      seen.at(cx, cy) = 1;
      while (!stack.empty()) {
        auto [x, y] = stack.back();
        stack.pop_back();
        sx += x;
        sy += y;
        ++n;
        for (int k = 0; k < 8; ++k) {
          const int qx = x + kNx[k], qy = y + kNy[k];
          if (qx < 0 || qy < 0 || qx >= cw_ || qy >= ch_) continue;
          if (seen.at(qx, qy) || index.at(qx, qy) != sign) continue;
          seen.at(qx, qy) = 1;
          stack.push_back({qx, qy});
        }
      }
      FoundSingular p;
      p.x = (sx / n + 0.5) * kCell;
      p.y = (sy / n + 0.5) * kCell;
      // The ways the flow leaves the point: where the orientation on a ring
      // of radius 3 cells points along the radius.
      const int ccx = static_cast<int>(sx / n), ccy = static_cast<int>(sy / n);
      std::array<double, 32> score{};
      for (int k = 0; k < 32; ++k) {
        const double a = 2 * kPi * k / 32;
        const double t = field2_.Theta(ccx + static_cast<int>(std::lround(3 * std::cos(a))),
                                       ccy + static_cast<int>(std::lround(3 * std::sin(a))));
        score[k] = std::cos(2 * (t - a));
      }
      std::vector<std::pair<double, int>> peaks;
      for (int k = 0; k < 32; ++k)
        if (score[k] >= score[(k + 31) % 32] && score[k] > score[(k + 1) % 32])
          peaks.push_back({score[k], k});
      std::sort(peaks.rbegin(), peaks.rend());
      auto screen = [](int k) {
        double d = std::fmod(-2 * kPi * k / 32, 2 * kPi);
        return d < 0 ? d + 2 * kPi : d;
      };
      if (!peaks.empty()) p.angle = screen(peaks[0].second);
      for (size_t k = 0; k < 3 && k < peaks.size(); ++k) p.arms[k] = screen(peaks[k].second);
      (sign > 0 ? out.cores : out.deltas).push_back(p);
    }
}

Features Pipeline::Run(bool skeleton, uint8_t* binary) {
  Features out;
  img_ = Grid<float>(w_, h_);
  for (size_t i = 0; i < img_.v.size(); ++i) img_.v[i] = px_[i];
  smooth_ = img_;
  Blur(smooth_, 1.0);
  Segment();
  Normalise();
  Orient();
  EstimatePeriod();
  Enhance();
  Thin();
  FindSingular(out);
  FindMinutiae(out);
  if (binary) {
    const Grid<uint8_t>& src = skeleton ? skel_ : ridge_;
    for (size_t i = 0; i < src.v.size(); ++i) binary[i] = src.v[i] ? 255 : 0;
  }
  return out;
}

}  // namespace

const char* DroppedName(Dropped why) {
  switch (why) {
    case Dropped::kKept:
      return "kept";
    case Dropped::kNoBranches:
      return "not one branch or three";
    case Dropped::kNoSkinRound:
      return "no skin all round";
    case Dropped::kAtFrame:
      return "ending at the frame";
    case Dropped::kCutByFrame:
      return "ridge runs on to the frame";
    case Dropped::kBridge:
      return "bridge";
    case Dropped::kSpur:
      return "spur or dot";
    case Dropped::kTooClose:
      return "too close to another";
    case Dropped::kBrokenRidge:
      return "broken ridge";
    case Dropped::kNearSingular:
      return "near a core or delta";
    case Dropped::kLowQuality:
      return "low quality";
    case Dropped::kPoorArea:
      return "poor area";
  }
  return "?";
}

TVxExtractorConfiguration DefaultConfig() {
  TVxExtractorConfiguration c;
  std::memset(&c, 0, sizeof c);
  c.LimiarVariancia = 300;
  c.MediaDesejada = 128;
  c.VarianciaDesejada = 2500;
  c.FatorGabor = 0.42;
  c.PassoRemoverDirecoes1 = 1;
  c.PassoSuavizar1 = 1;
  c.PassoRemoverDirecoes2 = 0;
  c.PassoSuavizar2 = 1;
  c.TipoDirecoes = 16;
  c.PermitirQMenor = 0;
  c.SemAjuste = 0;
  c.MediaDirecoesSimples1 = 0;
  c.MediaDirecoesSimples2 = 0;
  c.MediaGauss = 1;
  c.EliminarMinucias = 1;
  c.TruncarArea = 1;
  c.ApagarAreaRuim = 1;
  return c;
}

TVxExtractorConfiguration Sanitised(const TVxExtractorConfiguration& in) {
  const TVxExtractorConfiguration d = DefaultConfig();
  TVxExtractorConfiguration c = in;
  c.LimiarVariancia = std::clamp(c.LimiarVariancia, 0, 20000);
  c.MediaDesejada = std::clamp(c.MediaDesejada, 0, 255);
  c.VarianciaDesejada = std::clamp(c.VarianciaDesejada, 100, 16000);
  c.FatorGabor = std::isfinite(c.FatorGabor) ? std::clamp(c.FatorGabor, 0.15, 1.5) : d.FatorGabor;
  if (c.TipoDirecoes != 8 && c.TipoDirecoes != 12 && c.TipoDirecoes != 16 && c.TipoDirecoes != 24)
    c.TipoDirecoes = 16;
  return c;
}

Features Extract(const uint8_t* pixels, int width, int height,
                 const TVxExtractorConfiguration& config, bool skeleton, uint8_t* binary,
                 std::vector<DroppedCandidate>* dropped) {
  Pipeline p(pixels, width, height, Sanitised(config), dropped);
  return p.Run(skeleton, binary);
}

}  // namespace dactyra::sim::extract
