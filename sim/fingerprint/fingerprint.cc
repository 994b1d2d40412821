// First cut of the finger generator: concentric ridges on a finger-shaped
// area, no minutiae yet. The phase model with exact minutiae replaces it.
#include "sim/fingerprint/fingerprint.h"

#include <cmath>
#include <cstdio>

namespace dactyra::sim::fingerprint {

struct Finger::Model {};

Finger::Finger(uint64_t seed, PatternClass pattern)
    : seed_(seed), pattern_(pattern), model_(std::make_shared<Model>()) {}

Finger Finger::Generate(uint64_t seed) { return Finger(seed, static_cast<PatternClass>(seed % 5)); }

Finger Finger::Generate(uint64_t seed, PatternClass pattern) { return Finger(seed, pattern); }

Impression Finger::Render(int width, int height, const ImpressionOptions&) const {
  Impression out;
  if (width < 1 || height < 1) return out;
  out.width = width;
  out.height = height;
  out.pixels.assign(static_cast<size_t>(width) * height, 230);
  const double cx = width / 2.0, cy = height / 2.0;
  const double phase = static_cast<double>(seed_ % 97) / 97.0 * 6.283185307179586;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = (x + 0.5 - cx) / (0.42 * width), dy = (y + 0.5 - cy) / (0.46 * height);
      if (dx * dx + dy * dy > 1) continue;
      const double r = std::hypot(x + 0.5 - cx, (y + 0.5 - cy) * 0.8);
      const double v = std::cos(r * 6.283185307179586 / 9.0 + phase);
      out.pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(128 + 100 * v);
    }
  }
  return out;
}

std::string GroundTruthJson(const Impression& impression) {
  char head[96];
  std::snprintf(head, sizeof head, "{\"width\":%d,\"height\":%d,", impression.width,
                impression.height);
  return std::string(head) + "\"minutiae\":[],\"cores\":[],\"deltas\":[]}";
}

}  // namespace dactyra::sim::fingerprint
