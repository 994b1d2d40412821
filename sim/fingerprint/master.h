// The master fingerprint of a finger: its ridge pattern over the finger's
// own frame, before any impression is taken of it.
//
// Grown the way SFinGe grows it (R. Cappelli, A. Erol, D. Maio and D.
// Maltoni, "Synthetic fingerprint-image generation", ICPR 2000; Maltoni,
// Maio, Jain and Prabhakar, Handbook of Fingerprint Recognition, ch. 6):
// - the finger's outline;
// - an orientation map from the cores and deltas of the pattern class (the
//   zero-pole model of Sherlock and Monro);
// - a ridge period map, about 9 pixels at 500 dpi, varying smoothly over the
//   finger and wider near the singular points;
// - a few random seeds, grown by filtering the picture again and again with
//   the Gabor filter of the local orientation and period, clipping after
//   each pass. The ridges spread from the seeds along the flow; where the
//   flow fans out or the period changes, and where ridges grown from two
//   seeds meet out of step, a ridge has to end or split: the minutiae
//   arise there, by themselves, spread as in real fingers.
//
// The frame is kFrameWidth × kFrameHeight pixels at 500 dpi; its point
// (0, 0) is the centre of the frame, x to the right, y down.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "sim/fingerprint/fingerprint.h"
#include "sim/fingerprint/random.h"

namespace dactyra::sim::fingerprint {

inline constexpr int kFrameWidth = 416;
inline constexpr int kFrameHeight = 576;

using Complex = std::complex<double>;

struct Outline {
  double half_width = 170;
  double top = -250;  // the tip's highest point; the tip is a half disk
  // Whether (x, y) lies inside, `margin` pixels or more from the edge (a
  // negative margin reaches outside). The bottom of the frame cuts the
  // finger too.
  bool Inside(double x, double y, double margin = 0) const;
};

struct BranchPoint {
  Complex z;
  bool core = false;
};

struct Master {
  PatternClass pattern = PatternClass::kArch;
  Outline outline;
  std::vector<BranchPoint> singular;
  // The arch's hump, for the one pattern without singular points.
  double arch_height = 0, arch_width = 1;
  // The ridge pattern over the frame, row after row: above 0 on a ridge,
  // below on a valley, about ±1 away from the ridge edges.
  std::vector<float> ridge;
  // The direction across the ridges the pattern was grown along, per frame
  // pixel (radians, defined up to a half turn; y down).
  std::vector<float> normal;

  // The flow at z: the direction across the ridges (their normal), as a
  // complex number whose argument is defined up to a half turn.
  Complex Normal(Complex z) const;
};

// Grows the master of a finger of `pattern` from `rng`.
Master GrowMaster(PatternClass pattern, Random& rng);

}  // namespace dactyra::sim::fingerprint
