// The ground truth of a master fingerprint, read off its skeleton: the
// ridges binarised, dots and pin holes smaller than a ridge period
// removed (from the master too, so the pictures agree), thinned to one
// pixel (Zhang and Suen), short spurs pruned, and the minutiae found by
// crossing numbers: an ending where a skeleton line stops, a bifurcation
// where three meet.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sim/fingerprint/fingerprint.h"

namespace dactyra::sim::fingerprint {

// A minutia in pixel coordinates of the picture it was read from (the
// centre of pixel (i, j) at (i + 0.5, j + 0.5)); direction as in Minutia.
struct SkeletonMinutia {
  double x = 0, y = 0;
  double direction = 0;
  MinutiaType type = MinutiaType::kEnding;
};

// `ridge` holds width × height values, above 0 on ridges. Dots and holes
// smaller than `smallest` pixels are erased from it. `axis` gives the ridges'
// direction at a point (radians, up to a half turn, counter-clockwise on
// screen): a minutia's direction lies along it, the way the skeleton
// leaves. Minutiae where `keep` answers false (the edges of the finger, the
// singular points) are left out.
std::vector<SkeletonMinutia> SkeletonMinutiae(std::vector<float>& ridge, int width, int height,
                                              int smallest,
                                              const std::function<double(double, double)>& axis,
                                              const std::function<bool(double, double)>& keep);

// The thinning alone, for its test: `binary` (1 on ridges) becomes its
// one-pixel skeleton.
void Thin(std::vector<uint8_t>& binary, int width, int height);

}  // namespace dactyra::sim::fingerprint
