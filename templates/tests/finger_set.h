// The synthetic fingers the extraction tests run the open engine on, and
// how its minutiae are scored against their ground truth: a found minutia
// matches a true one within 10 pixels and 30 degrees, one to one, greedily
// by distance (the rule the engine's own quality is measured by).
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "sim/fingerprint/fingerprint.h"

namespace dactyra::templates::testing {

// Clean 320 × 365 impressions of fingers 100, 101, ...
inline sim::fingerprint::Impression TestFinger(int i) {
  sim::fingerprint::ImpressionOptions options;
  options.seed = static_cast<uint64_t>(i);
  return sim::fingerprint::Finger::Generate(100 + static_cast<uint64_t>(i))
      .Render(320, 365, options);
}

// Precision and recall floors of the engine on clean impressions, a little
// below what its own tests measure.
inline constexpr double kEnginePrecisionFloor = 0.72;
inline constexpr double kEngineRecallFloor = 0.72;

struct FoundMinutia {
  double x, y, direction;
};

inline size_t MatchedMinutiae(const std::vector<sim::fingerprint::Minutia>& truth,
                              const std::vector<FoundMinutia>& found) {
  struct Pair {
    double d;
    size_t i, j;
  };
  std::vector<Pair> pairs;
  for (size_t i = 0; i < truth.size(); ++i) {
    for (size_t j = 0; j < found.size(); ++j) {
      const double d = std::hypot(truth[i].x - found[j].x, truth[i].y - found[j].y);
      const double gap =
          std::fmod(std::abs(truth[i].direction - found[j].direction), 2 * std::numbers::pi);
      if (d <= 10 && std::min(gap, 2 * std::numbers::pi - gap) <= std::numbers::pi / 6) {
        pairs.push_back({d, i, j});
      }
    }
  }
  std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.d < b.d; });
  std::vector<bool> used_truth(truth.size()), used_found(found.size());
  size_t matched = 0;
  for (const Pair& p : pairs) {
    if (used_truth[p.i] || used_found[p.j]) continue;
    used_truth[p.i] = used_found[p.j] = true;
    ++matched;
  }
  return matched;
}

}  // namespace dactyra::templates::testing
