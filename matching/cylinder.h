// The Minutia Cylinder-Code of a template, in its bit form, and the local
// similarity of two cylinders.
//
// Follows R. Cappelli, M. Ferrara and D. Maltoni, "Minutia Cylinder-Code: a
// new representation and matching technique for fingerprint recognition",
// IEEE Trans. PAMI 32(12), 2010, with the parameters the paper recommends.
// Around each minutia a cylinder of radius R and height 2π is cut into
// kSide × kSide × kSections cells, turned with the minutia's direction so
// that it does not depend on how the finger lies. A cell holds one bit: the
// neighbouring minutiae near its centre whose direction, relative to the
// cylinder's, falls in the cell's section weigh at least μΨ. A cell is
// valid when it lies within R of the minutia and inside the convex hull of
// all minutiae enlarged by Ω; invalid cells are zero and do not count.
//
// Layout: plane k (the section) holds the kSide² cells of one section row
// after row, kPlaneWords words of 64 bits; the validity mask has the same
// shape as one plane.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "matching/template.h"

namespace dactyra::matching {

namespace mcc {
inline constexpr double kRadius = 70;            // R, pixels
inline constexpr int kSide = 16;                 // NS
inline constexpr int kSections = 6;              // ND
inline constexpr double kSigmaS = 28.0 / 3;      // σS, pixels
inline constexpr double kSigmaD = 2 * 3.14159265358979323846 / 9;  // σD
inline constexpr double kMuPsi = 0.01;           // μΨ, the bit threshold
inline constexpr double kOmega = 50;             // Ω, the hull's margin
inline constexpr double kMinValidCells = 0.75;   // minVC
inline constexpr int kMinNeighbours = 2;         // minM
inline constexpr double kMinMatchable = 0.6;     // minME
inline constexpr double kMaxTurn = 3.14159265358979323846 / 2;  // δθ

inline constexpr int kCells = kSide * kSide;
inline constexpr int kPlaneWords = (kCells + 63) / 64;
inline constexpr int kWords = kPlaneWords * kSections;
}  // namespace mcc

struct Cylinder {
  std::array<uint64_t, mcc::kWords> bits{};
  std::array<uint64_t, mcc::kPlaneWords> valid{};
  uint16_t ones = 0;         // bits set
  uint16_t valid_cells = 0;  // cells set in `valid`
  bool whole = false;        // every cell within R is valid
};

// A minutia as the comparison sees it: y up, so that angles and turns take
// their usual mathematical sense.
struct Point {
  float x = 0, y = 0;
  float direction = 0;  // radians, [0, 2π)
  // The direction in units of 2π/65536, so that differences of directions
  // wrap by themselves in 16-bit arithmetic.
  uint16_t angle = 0;
};

// The binary angle of `radians`, and the size of a difference of two
// binary angles in [0, 32768] (that is, [0, π]).
uint16_t BinaryAngle(double radians);
inline int TurnSize(uint16_t a, uint16_t b) {
  const auto d = static_cast<int16_t>(static_cast<uint16_t>(a - b));
  return d < 0 ? -d : d;
}

// The same cylinder with each 2 × 2 block of cells pooled into one
// (coarse.h).
namespace mcc {
inline constexpr int kCoarseSide = kSide / 2;
inline constexpr int kCoarseCells = kCoarseSide * kCoarseSide;
static_assert(kCoarseCells == 64, "one word per section");
}  // namespace mcc

struct CoarseCylinder {
  std::array<uint64_t, mcc::kSections> bits{};  // one word per section
  uint64_t valid = 0;
  uint16_t angle = 0;  // the minutia's direction (binary angle)
  uint16_t ones = 0;
  bool whole = false;  // every coarse cell within R is valid
};

struct PreparedTemplate {
  std::vector<Minutia> minutiae;
  // The usable minutiae (those with a valid cylinder) and their cylinders,
  // index for index, in order of direction (`angle`).
  std::vector<Point> points;
  std::vector<Cylinder> cylinders;
  std::vector<uint16_t> source;  // index of each in `minutiae`
  // The same cylinders, coarse (coarse.h), for the quick score.
  std::vector<CoarseCylinder> coarse;
};

// Computes the cylinders of `minutiae` and keeps the usable ones.
PreparedTemplate Prepare(std::vector<Minutia> minutiae);

// The number of cells within R of a cylinder's centre, per plane.
int CellsWithinRadius();

// Two cylinders whose minutiae may correspond, and their local similarity.
struct LocalMatch {
  uint16_t a = 0, b = 0;  // indices in each template
  float similarity = 0;
};

// The builds of the similarity kernel: plain C++, and for x86 processors
// with POPCNT (every one since 2008), AVX2, and AVX-512 with VPOPCNTQ.
// BestKernel is the widest this processor runs; asked for one it does not
// run, the functions below use the plain one.
enum class Kernel { kPortable, kPopcnt, kAvx2, kAvx512 };
Kernel BestKernel();
bool KernelRuns(Kernel kernel);

// Every pair of cylinders of `a` and `b` whose minutia directions lie
// within δθ of each other and whose similarity is above 0, appended to
// `out` (a's index ascending, then b's in order of direction).
void LocalSimilarities(const PreparedTemplate& a, const PreparedTemplate& b,
                       std::vector<LocalMatch>& out, Kernel kernel = BestKernel());

// The local similarity of two cylinders, 0 to 1: 1 − ‖a ⊕ b‖ / (‖a‖ + ‖b‖)
// over the cells valid in both (‖·‖ the square root of the bits set); 0
// when fewer than minME of the cells are valid in both, or no bit is set.
float Similarity(const Cylinder& a, const Cylinder& b, Kernel kernel = BestKernel());

}  // namespace dactyra::matching
