// Coarse cylinders and the quick score that narrows a search of a large
// gallery before the full comparison.
//
// A coarse cylinder is a template's cylinder with each 2 × 2 block of cells
// pooled into one (a bit set where any of the four is; valid where any of
// the four is): 8 × 8 cells of 6 sections, 384 bits, six words a
// comparison reads instead of twenty-four. The quick score of a probe
// against a template is the mean, over the nP probe cylinders that find
// the best partners, of each one's best local similarity among the
// template's cylinders within 45 degrees: the local sort of the Minutia
// Cylinder-Code comparison without its one-to-one pairing and relaxation.
// It costs a fraction of a full comparison and ranks the mates of a probe
// near the top (the gallery's test holds it to an exhaustive search).
#pragma once

#include <vector>

#include "matching/cylinder.h"

namespace dactyra::matching {

// The coarse cylinder of `c`, whose minutia points at `angle`.
CoarseCylinder Coarsen(const Cylinder& c, uint16_t angle);

// The quick score of `probe` against `other` (both in order of direction),
// 0 to 1.
float QuickScore(const std::vector<CoarseCylinder>& probe, const std::vector<CoarseCylinder>& other);

}  // namespace dactyra::matching
