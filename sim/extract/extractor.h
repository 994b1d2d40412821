// The extraction pipeline of the open engine: from gray pixels to minutiae,
// cores and deltas, by the classic road (segmentation, normalisation,
// orientation, ridge period, oriented Gabor enhancement, binarisation,
// thinning, crossing numbers, clean-up, Poincaré index). No state between
// calls.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/extract/vx_extract.h"

namespace dactyra::sim::extract {

enum class Kind : uint8_t { kEnding = 1, kBifurcation = 2 };

struct FoundMinutia {
  double x = 0, y = 0;
  double direction = 0;  // radians, counter-clockwise on screen
  Kind kind = Kind::kEnding;
  int quality = 0;    // 1..100
  int curvature = 0;  // 0..254
  int contrast = 0;   // 0..254
};

struct FoundSingular {
  double x = 0, y = 0;
  double angle = 0;
  double arms[3] = {0, 0, 0};  // deltas only
};

// Why a candidate the skeleton showed was left out, for people tuning the
// engine (extract_compare prints it beside each missed minutia).
enum class Dropped : uint8_t {
  kKept,
  kNoBranches,    // neither one branch nor three leave it
  kNoSkinRound,   // the skin does not go on all round it: the finger's edge
  kAtFrame,       // an ending within a ridge's half width of the frame
  kCutByFrame,    // beyond the ending's tip the ridge runs on to the frame
  kBridge,        // two forks joined across the flow
  kSpur,          // an ending joined to a fork or an ending by a short ridge
  kTooClose,      // closer to another than two ridge events can be
  kBrokenRidge,   // two endings facing each other along the flow
  kNearSingular,  // within reach of a core or delta
  kLowQuality,
  kPoorArea,  // faint ridges or a muddled flow
};
const char* DroppedName(Dropped why);

struct DroppedCandidate {
  double x = 0, y = 0;
  Kind kind = Kind::kEnding;
  Dropped why = Dropped::kKept;
};

struct Features {
  std::vector<FoundMinutia> minutiae;
  std::vector<FoundSingular> cores, deltas;
};

// The defaults GetDefaultConfig hands out.
TVxExtractorConfiguration DefaultConfig();

// The configuration with every value brought into its range.
TVxExtractorConfiguration Sanitised(const TVxExtractorConfiguration& config);

// Extracts the features of a width × height image (both at least
// VX_MIN_SIDE). `binary`, when not null, receives width × height bytes: the
// binarised ridges, or the skeleton when `skeleton` is set; `dropped`, when
// not null, the candidates left out and why.
Features Extract(const uint8_t* pixels, int width, int height,
                 const TVxExtractorConfiguration& config, bool skeleton, uint8_t* binary,
                 std::vector<DroppedCandidate>* dropped = nullptr);

// Writes the template record (layout in vx_extract.h) into `buffer` when it
// is not null and returns its size.
int32_t WriteRecord(const Features& features, uint8_t* buffer, int32_t width, int32_t height,
                    int32_t horz_resolution, int32_t vert_resolution, int32_t position,
                    int32_t impression_type, bool save_curvature, bool save_g);

}  // namespace dactyra::sim::extract
