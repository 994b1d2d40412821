// Scoring the engine against the generator's ground truth: a detection
// matches a true minutia within 10 pixels and 30 degrees (cores and deltas:
// within the distance only), one to one, greedily by distance. Beside a
// detector that gives no directions the rule is the distance alone.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "sim/extract/extractor.h"
#include "sim/fingerprint/fingerprint.h"

namespace dactyra::sim::extract {

struct Score {
  size_t truth = 0, found = 0, matched = 0;
  size_t same_type = 0;  // matched minutiae whose type agrees too
  void Add(const Score& o) {
    truth += o.truth;
    found += o.found;
    matched += o.matched;
    same_type += o.same_type;
  }
  double type_agreement() const { return matched ? static_cast<double>(same_type) / matched : 1; }
  double precision() const { return found ? static_cast<double>(matched) / found : 1; }
  double recall() const { return truth ? static_cast<double>(matched) / truth : 1; }
};

inline double AngleGap(double a, double b) {
  const double d = std::fmod(std::abs(a - b), 2 * std::numbers::pi);
  return std::min(d, 2 * std::numbers::pi - d);
}

// Pairs (truth i, found j) closer than `distance` and, when `angles` is set,
// within `angle` radians, taken greedily by distance, one to one.
template <typename T, typename F, typename Ok, typename Each>
size_t MatchCount(const std::vector<T>& truth, const std::vector<F>& found, double distance, Ok ok,
                  Each each) {
  struct Pair {
    double d;
    size_t i, j;
  };
  std::vector<Pair> pairs;
  for (size_t i = 0; i < truth.size(); ++i)
    for (size_t j = 0; j < found.size(); ++j) {
      const double d = std::hypot(truth[i].x - found[j].x, truth[i].y - found[j].y);
      if (d <= distance && ok(truth[i], found[j])) pairs.push_back({d, i, j});
    }
  std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.d < b.d; });
  std::vector<bool> ti(truth.size()), fj(found.size());
  size_t n = 0;
  for (const auto& p : pairs)
    if (!ti[p.i] && !fj[p.j]) {
      ti[p.i] = fj[p.j] = true;
      each(truth[p.i], found[p.j]);
      ++n;
    }
  return n;
}

template <typename T, typename F, typename Ok>
size_t MatchCount(const std::vector<T>& truth, const std::vector<F>& found, double distance,
                  Ok ok) {
  return MatchCount(truth, found, distance, ok, [](const T&, const F&) {});
}

inline Score ScoreMinutiae(const fingerprint::Impression& imp, const Features& f) {
  Score s;
  s.truth = imp.minutiae.size();
  s.found = f.minutiae.size();
  s.matched = MatchCount(
      imp.minutiae, f.minutiae, 10,
      [](const fingerprint::Minutia& t, const FoundMinutia& d) {
        return AngleGap(t.direction, d.direction) <= std::numbers::pi / 6;
      },
      [&](const fingerprint::Minutia& t, const FoundMinutia& d) {
        s.same_type += (t.type == fingerprint::MinutiaType::kEnding) == (d.kind == Kind::kEnding);
      });
  return s;
}

// A detection of a detector that reports positions only, in the truth's
// coordinates (pixel centres at .5).
struct PeerMinutia {
  double x = 0, y = 0;
};

// The rule shared with a peer detector that reports positions only: within
// 10 pixels, one to one.
template <typename F>
Score ScorePositions(const fingerprint::Impression& imp, const std::vector<F>& found) {
  Score s;
  s.truth = imp.minutiae.size();
  s.found = found.size();
  s.matched = MatchCount(imp.minutiae, found, 10, [](const auto&, const auto&) { return true; });
  return s;
}

inline Score ScoreSingular(const std::vector<fingerprint::SingularPoint>& truth,
                           const std::vector<FoundSingular>& found, double distance = 16) {
  Score s;
  s.truth = truth.size();
  s.found = found.size();
  s.matched = MatchCount(truth, found, distance, [](const auto&, const auto&) { return true; });
  return s;
}

}  // namespace dactyra::sim::extract
