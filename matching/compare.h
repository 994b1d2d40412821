// One-to-one comparison of two prepared templates.
//
// The score is a similarity on a fixed scale from 0 (nothing in common) to
// kMaxScore (the same minutiae): the global score of the Minutia
// Cylinder-Code comparison times kMaxScore, rounded. It is symmetric within
// a few points, does not depend on where the finger lies on the sensor or on
// how it is turned, and is meant to be compared with a threshold. The
// thresholds below were measured on the project's synthetic fingers
// (tools/run-benchmarks, the matcher's accuracy rows); on real fingers they
// are a starting point.
#pragma once

#include <cstdint>

#include "matching/template.h"

namespace dactyra::matching {

inline constexpr int32_t kMaxScore = 10000;

// Measured thresholds: the lowest scores at which the false match rate
// among different fingers is at most the one named. From the matcher
// benchmark's 1,273,600 impostor comparisons (200 synthetic fingers × 8
// impressions at 320 × 365, templates by the open engine): at 474, 1,262
// impostor scores reach it (FMR 0.099 %) and 0.125 % of the 5,600 genuine
// ones fall short; at 785, 127 reach it (FMR 0.0100 %) and 0.179 % fall
// short. The benchmark prints both rates at these two thresholds.
inline constexpr int32_t kThresholdFmr1In1000 = 474;
inline constexpr int32_t kThresholdFmr1In10000 = 785;
// What a caller without its own policy should use: one false match in ten
// thousand comparisons.
inline constexpr int32_t kDefaultThreshold = kThresholdFmr1In10000;

// A comparison with what supports its score.
struct Comparison {
  int32_t score = 0;
  // The minutia pairs the score was consolidated over.
  int32_t pairs = 0;
  // The move that brings the first template's minutiae onto the second's,
  // estimated from those pairs: a turn by `rotation_degrees`
  // (counter-clockwise on screen) about the origin, then a shift by (dx, dy)
  // pixels. All zero when there are no pairs.
  double rotation_degrees = 0;
  double dx = 0;
  double dy = 0;
};

// The similarity of `a` and `b`, 0 to kMaxScore. Safe from any thread.
int32_t Compare(const Template& a, const Template& b);

// The same, with the pairs and the move behind it.
Comparison CompareDetailed(const Template& a, const Template& b);

}  // namespace dactyra::matching
