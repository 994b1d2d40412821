// extract_compare: renders an impression, runs the engine on it and writes
// <out>.png with the ground truth (left, green; cores red, deltas blue) beside
// the engine's detections (right, magenta; cores and deltas orange), and
// prints the scores.
//
//   extract_compare [--seed N] [--size WxH] [--noise SD] [--blur SD]
//       [--pressure P] [--rotation DEG] [--contact F] [--impression-seed N]
//       [--out PREFIX]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/extract/evaluation.h"
#include "sim/fingerprint/picture.h"

using namespace dactyra::sim;

int main(int argc, char** argv) {
  uint64_t seed = 1;
  int width = 448, height = 511;
  fingerprint::ImpressionOptions o;
  std::string out = "compare";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const char* v = argv[i + 1];
    if (a == "--seed")
      seed = std::strtoull(v, nullptr, 10);
    else if (a == "--size" && std::sscanf(v, "%dx%d", &width, &height) == 2) {
    } else if (a == "--noise")
      o.noise = std::strtod(v, nullptr);
    else if (a == "--blur")
      o.blur = std::strtod(v, nullptr);
    else if (a == "--pressure")
      o.pressure = std::strtod(v, nullptr);
    else if (a == "--rotation")
      o.rotation_degrees = std::strtod(v, nullptr);
    else if (a == "--contact")
      o.contact = std::strtod(v, nullptr);
    else if (a == "--impression-seed")
      o.seed = std::strtoull(v, nullptr, 10);
    else if (a == "--out")
      out = v;
    else {
      std::fprintf(stderr, "unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  if (width < VX_MIN_SIDE || height < VX_MIN_SIDE || width > 2000 || height > 2000) return 2;
  const auto imp = fingerprint::Finger::Generate(seed).Render(width, height, o);
  std::vector<uint8_t> binary(imp.pixels.size());
  std::vector<extract::DroppedCandidate> dropped;
  const auto f = extract::Extract(imp.pixels.data(), width, height, extract::DefaultConfig(), false,
                                  binary.data(), &dropped);
  fingerprint::Canvas left = fingerprint::Canvas::FromGray(width, height, imp.pixels);
  fingerprint::DrawTruth(left, imp);
  fingerprint::Canvas right = fingerprint::Canvas::FromGray(width, height, imp.pixels);
  for (const auto& m : f.minutiae)
    right.Mark(m.x, m.y, m.direction,
               m.kind == extract::Kind::kEnding ? fingerprint::MinutiaType::kEnding
                                                : fingerprint::MinutiaType::kBifurcation,
               {220, 0, 220});
  for (const auto& c : f.cores) right.Square(c.x, c.y, 7, {255, 140, 0});
  for (const auto& d : f.deltas) right.Triangle(d.x, d.y, 7, {255, 140, 0});
  fingerprint::Canvas both(2 * width + 8, height);
  both.Paste(left, 0, 0);
  both.Paste(right, width + 8, 0);
  std::string error;
  if (!fingerprint::WritePng(out + ".png", both.width(), both.height(), 3, both.rgb().data(),
                             &error) ||
      !fingerprint::WritePng(out + "-binary.png", width, height, 1, binary.data(), &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const auto s = extract::ScoreMinutiae(imp, f);
  const auto c = extract::ScoreSingular(imp.cores, f.cores);
  const auto d = extract::ScoreSingular(imp.deltas, f.deltas);
  std::printf("minutiae: truth %zu found %zu matched %zu precision %.3f recall %.3f\n", s.truth,
              s.found, s.matched, s.precision(), s.recall());
  std::printf("cores: %zu/%zu/%zu  deltas: %zu/%zu/%zu (truth/found/matched)\n", c.truth, c.found,
              c.matched, d.truth, d.found, d.matched);
  // The true minutiae left unmatched, with the nearest detection and the
  // nearest candidate the engine left out.
  for (const auto& t : imp.minutiae) {
    double best = 1e9, gap = 0;
    for (const auto& m : f.minutiae) {
      const double d = std::hypot(t.x - m.x, t.y - m.y);
      if (d < best) {
        best = d;
        gap = extract::AngleGap(t.direction, m.direction) * 180 / 3.14159265358979;
      }
    }
    if (best <= 10 && gap <= 30) continue;
    // How far the skin goes on round it (pixels off the skin within 20 px).
    double skin = 99;
    for (int dy = -20; dy <= 20; ++dy)
      for (int dx = -20; dx <= 20; ++dx) {
        const int px = static_cast<int>(t.x) + dx, py = static_cast<int>(t.y) + dy;
        if (px >= 0 && py >= 0 && px < width && py < height &&
            !imp.contact[static_cast<size_t>(py) * width + px])
          skin = std::min(skin, std::hypot(dx, dy));
      }
    std::printf("missed %s (%.0f, %.0f), skin's edge %s%.0f px: nearest detection %.1f px, %.0f deg off",
                t.type == fingerprint::MinutiaType::kEnding ? "ending" : "fork", t.x, t.y,
                skin > 20 ? ">" : "", std::min(skin, 20.0), best, gap);
    const extract::DroppedCandidate* near = nullptr;
    for (const auto& d : dropped)
      if (!near || std::hypot(t.x - d.x, t.y - d.y) < std::hypot(t.x - near->x, t.y - near->y))
        near = &d;
    if (near && std::hypot(t.x - near->x, t.y - near->y) <= 10)
      std::printf("; left out at (%.0f, %.0f): %s", near->x, near->y,
                  extract::DroppedName(near->why));
    std::printf("\n");
  }
  return 0;
}
