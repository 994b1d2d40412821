// The compatibilities of the minutia pairs a comparison consolidates (the
// relaxation step of compare.cc), n² of them per comparison: the costliest
// arithmetic of a comparison after the cylinders'.
//
// For pairs r and c, with A the line from r's minutia to c's in the first
// template and B the same in the second, the compatibility is the product
// of three sigmoids (Cappelli, Ferrara and Maltoni 2010, the relaxation's
// ρ): of the difference of the lengths of A and B; of the difference of
// the two pairs' turns (a pair's turn is its first direction less its
// second); and of the difference of c's turn and φ, the angle from B to A.
// Swapping r and c reverses both lines and leaves φ as it is, so one
// arctangent per pair of pairs would serve both orders; the kernels still
// compute every (r, c), since a row whose values lie side by side is
// cheaper to write than the half of it that would be scattered.
//
// Compatibilities() computes them lanes at a time, with the exponential
// and the arctangent as polynomials; ReferenceCompatibility() is the plain
// double-precision reading the kernels are held to (relaxation_test.cc
// states the tolerance).
#pragma once

#include <cstddef>
#include <vector>

#include "matching/cylinder.h"

namespace dactyra::matching {

// The pairs' geometry, one array per quantity, each padded with zeros to
// `stride` (a multiple of kPairLanes) so that a kernel reads whole vectors.
inline constexpr size_t kPairLanes = 16;

struct PairGeometry {
  size_t n = 0;
  size_t stride = 0;
  // First template's minutia, second's (y up), and the turn in radians,
  // [−π, π].
  std::vector<float> ax, ay, bx, by, turn;

  // Room for n pairs, all zero.
  void Reset(size_t pairs);
  void Set(size_t i, const Point& a, const Point& b);
};

// out[r · stride + c] for r, c < n: what pair r lends pair c in a round of
// relaxation; 0 where r == c. The columns from n to stride are written
// with values of no meaning. `out` holds n · stride floats.
void Compatibilities(const PairGeometry& g, float* out, Kernel kernel = BestKernel());

// The same value in double precision, with the library's exponential and
// arctangent.
double ReferenceCompatibility(const PairGeometry& g, size_t r, size_t c);

}  // namespace dactyra::matching
