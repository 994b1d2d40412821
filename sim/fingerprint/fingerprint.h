// Synthetic fingerprints with exact ground truth, for the stand-ins of every
// reader and for measuring the extraction engine. A finger is generated from
// a seed; each impression of it is rendered at any size with a rigid move,
// distortion, pressure, noise, blur and partial contact, and carries the
// true minutiae, cores and deltas moved with it. Everything is deterministic
// from the seeds.
//
// Pixels are 8-bit gray, one byte each, rows from the top, no padding; ridges
// are dark on a light background. The master fingerprint is grown from an
// orientation map (the zero-pole model of Sherlock and Monro) and a ridge
// period map, as SFinGe grows it, so minutiae arise where ridges must end
// or split; the truth is read off the master's skeleton (master.h,
// skeleton.h). Coordinates are pixels of the impression
// (x to the right, y down, the centre of the top-left pixel at 0.5, 0.5).
// Directions are radians in [0, 2π), counter-clockwise on screen from the
// +x axis (so a direction θ points to (cos θ, −sin θ) in image coordinates).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dactyra::sim::fingerprint {

enum class PatternClass { kArch, kTentedArch, kLeftLoop, kRightLoop, kWhorl };

enum class MinutiaType { kEnding, kBifurcation };

struct Minutia {
  double x = 0;
  double y = 0;
  // For an ending, the direction in which the ridge runs away from its end;
  // for a bifurcation, the direction of the valley that ends between the two
  // branches (the direction an ending of the inverted picture would have).
  double direction = 0;
  MinutiaType type = MinutiaType::kEnding;
};

// A core or a delta.
struct SingularPoint {
  double x = 0;
  double y = 0;
};

struct ImpressionOptions {
  // Rigid move of the finger on the sensor, about the impression's centre.
  double rotation_degrees = 0;
  double shift_x = 0;
  double shift_y = 0;
  // Strength of a smooth elastic distortion, 0 for none (about pixels of
  // displacement at the edge of the contact area).
  double distortion = 0;
  // Ridge width: 0 normal, towards −1 dry (thin ridges), towards +1 wet
  // (thick ridges).
  double pressure = 0;
  // Standard deviation of added gray noise, in gray levels.
  double noise = 0;
  // Standard deviation of a Gaussian blur, in pixels (0 for none).
  double blur = 0;
  // Fraction of the finger area in contact, 1 for all of it; less cuts the
  // contact area from one side chosen by the seed.
  double contact = 1;
  // Seed of the noise, distortion field and contact cut of this impression.
  uint64_t seed = 0;
};

struct Impression {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width × height bytes
  // The true minutiae inside the contact area of this impression.
  std::vector<Minutia> minutiae;
  std::vector<SingularPoint> cores;
  std::vector<SingularPoint> deltas;
  // 1 where the finger touches the sensor, 0 elsewhere; width × height.
  std::vector<uint8_t> contact;
};

class Finger {
 public:
  // A finger of a pattern class chosen by the seed, or of the given class.
  static Finger Generate(uint64_t seed);
  static Finger Generate(uint64_t seed, PatternClass pattern);

  PatternClass pattern() const { return pattern_; }
  uint64_t seed() const { return seed_; }

  // Renders an impression of width × height pixels (both at least 1) at
  // 500 dpi, the finger centred on the image.
  Impression Render(int width, int height, const ImpressionOptions& options = {}) const;

 private:
  Finger(uint64_t seed, PatternClass pattern);
  uint64_t seed_;
  PatternClass pattern_;
  struct Model;
  // The implementation keeps its model here; shared so fingers copy cheaply.
  std::shared_ptr<const Model> model_;
};

// The ground truth of an impression as a JSON text (for people and tools).
std::string GroundTruthJson(const Impression& impression);

}  // namespace dactyra::sim::fingerprint
