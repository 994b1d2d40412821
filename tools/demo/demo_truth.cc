// demo_truth: writes the ground truth of the frames a simulated reader
// serves, as the Java side receives them, into a folder keyed by the pixels.
//
//   demo_truth --out DIR --seed S --size WxH [--virdi-frames N]
//              [--dp-fit dpfpapi|dpfpfns]
//
// The frame is rendered exactly as the stand-in renders it (the V100 sensor,
// the FPSmm module and the DigitalPersona libraries show the plain
// impression; the UCBioBSP stand-in shows frames 0 to N-1 of a capture, each
// moved a little further) and, for a DigitalPersona reader, brought to the
// binding's delivered size the way the binding does it. The file
// DIR/<W>x<H>-<hash>.txt, named after the delivered pixels (FNV-1a 64 over
// the W x H bytes, 16 lower-case hex digits), holds the truth in those
// pixels' coordinates, one item a line:
//   minutia X Y DIRECTION TYPE   (direction in radians, counter-clockwise on
//                                 screen; type "ending" or "bifurcation")
//   core X Y
//   delta X Y
// A reader whose delivered pixels differ from these finds no file: the demo
// reports it instead of scoring against the wrong finger.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "capture/digitalpersona/binding.h"
#include "capture/digitalpersona/scan_man.h"
#include "sim/fingerprint/fingerprint.h"
#include "sim/virdi/ucbiobsp_sim.h"

namespace {

namespace fp = dactyra::sim::fingerprint;
namespace dp = dactyra::capture::digitalpersona;

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (const uint8_t b : bytes) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  return h;
}

// Where a point of the served frame lands in the delivered one.
struct Mapping {
  double sx = 1, sy = 1;
  bool turned = false;
  int width = 0, height = 0;  // delivered size
  void Apply(double& x, double& y) const {
    x *= sx;
    y *= sy;
    if (turned) {
      x = width - x;
      y = height - y;
    }
  }
  double Direction(double d) const {
    // A uniform scale keeps directions; an unequal one bends them.
    d = std::atan2(std::sin(d) * sy, std::cos(d) * sx);
    if (turned) d += std::numbers::pi;
    d = std::fmod(d, 2 * std::numbers::pi);
    return d < 0 ? d + 2 * std::numbers::pi : d;
  }
};

bool Write(const std::string& folder, const std::vector<uint8_t>& pixels, int width, int height,
           const fp::Impression& imp, const Mapping& map) {
  char name[64];
  std::snprintf(name, sizeof name, "/%dx%d-%016llx.txt", width, height,
                static_cast<unsigned long long>(Fnv1a(pixels)));
  std::ofstream out(folder + name);
  for (const auto& m : imp.minutiae) {
    double x = m.x, y = m.y;
    map.Apply(x, y);
    // Minutiae the delivered picture no longer shows are not truth for it.
    if (x < 0 || y < 0 || x >= width || y >= height) continue;
    out << "minutia " << x << ' ' << y << ' ' << map.Direction(m.direction) << ' '
        << (m.type == fp::MinutiaType::kEnding ? "ending" : "bifurcation") << '\n';
  }
  for (const auto& c : imp.cores) {
    double x = c.x, y = c.y;
    map.Apply(x, y);
    out << "core " << x << ' ' << y << '\n';
  }
  for (const auto& d : imp.deltas) {
    double x = d.x, y = d.y;
    map.Apply(x, y);
    out << "delta " << x << ' ' << y << '\n';
  }
  out.close();
  if (!out) {
    std::fprintf(stderr, "demo_truth: cannot write %s%s\n", folder.c_str(), name);
    return false;
  }
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: demo_truth --out DIR --seed S --size WxH [--virdi-frames N] "
               "[--dp-fit dpfpapi|dpfpfns]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out, fit;
  uint64_t seed = 0;
  bool seeded = false;
  int width = 0, height = 0, virdi_frames = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const char* v = argv[i + 1];
    if (a == "--out") {
      out = v;
    } else if (a == "--seed") {
      char* end = nullptr;
      seed = std::strtoull(v, &end, 10);
      seeded = end && *end == '\0' && end != v;
    } else if (a == "--size") {
      if (std::sscanf(v, "%dx%d", &width, &height) != 2) return Usage();
    } else if (a == "--virdi-frames") {
      virdi_frames = std::atoi(v);
    } else if (a == "--dp-fit") {
      fit = v;
    } else {
      return Usage();
    }
  }
  if (argc % 2 == 0 || out.empty() || !seeded || width < 1 || height < 1 || virdi_frames < 0 ||
      (!fit.empty() && fit != "dpfpapi" && fit != "dpfpfns")) {
    return Usage();
  }

  const fp::Finger finger = fp::Finger::Generate(seed);
  if (virdi_frames > 0) {
    for (int k = 0; k < virdi_frames; ++k) {
      const auto imp = finger.Render(width, height, dactyra::sim::virdi::FrameOptions(seed, k));
      if (!Write(out, imp.pixels, width, height, imp, Mapping{1, 1, false, width, height}))
        return 1;
    }
    return 0;
  }
  const auto imp = finger.Render(width, height);
  if (fit.empty()) {
    return Write(out, imp.pixels, width, height, imp, Mapping{1, 1, false, width, height}) ? 0 : 1;
  }
  // The binding's fit: the top-left source rectangle of its family averaged
  // down to its delivered size (dpFpFns also turns it half a turn).
  const bool turned = fit == "dpfpfns";
  const int dst_width = turned ? dp::kDpFpFnsWidth : dp::kDPFPApiWidth;
  const int dst_height = dp::kSMImageHeight;
  const int rect_width = std::min(width, turned ? 450 : 448);
  const int rect_height = std::min(height, 511);
  std::vector<uint8_t> delivered(static_cast<size_t>(dst_width) * dst_height);
  if (!dp::FitImage(delivered.data(), dst_width, dst_height, imp.pixels.data(), width, height,
                    rect_width, rect_height, turned)) {
    std::fprintf(stderr, "demo_truth: the binding cannot fit a %dx%d picture\n", width, height);
    return 1;
  }
  const Mapping map{static_cast<double>(dst_width) / rect_width,
                    static_cast<double>(dst_height) / rect_height, turned, dst_width, dst_height};
  return Write(out, delivered, dst_width, dst_height, imp, map) ? 0 : 1;
}
