// fingerprint_render: writes one impression of a synthetic finger as
// <out>.png, its ground truth as <out>.json and the truth marked on the
// picture as <out>-truth.png.
//
//   fingerprint_render [--seed N] [--pattern arch|tented|left|right|whorl]
//       [--size WxH] [--rotation DEG] [--shift DX,DY] [--distortion PX]
//       [--pressure P] [--noise SD] [--blur SD] [--contact F]
//       [--impression-seed N] [--out PREFIX] [--zoom X,Y,W,H,S]
// --zoom also writes <out>-zoom.png: the marked W x H area at (X, Y) enlarged
// S times.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "sim/fingerprint/fingerprint.h"
#include "sim/fingerprint/picture.h"

using namespace dactyra::sim::fingerprint;

int main(int argc, char** argv) {
  uint64_t seed = 1;
  bool pattern_given = false;
  PatternClass pattern = PatternClass::kArch;
  int width = 448, height = 511;
  ImpressionOptions options;
  std::string out = "finger";
  int zx = 0, zy = 0, zw = 0, zh = 0, zs = 0;
  // Every option takes a value.
  for (int i = 1; i < argc; i += 2) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto number = [&] { return v ? std::strtod(v, nullptr) : 0.0; };
    bool used = true;
    if (a == "--seed" && v) {
      seed = std::strtoull(v, nullptr, 10);
    } else if (a == "--pattern" && v) {
      pattern_given = true;
      const std::string p = v;
      if (p == "arch")
        pattern = PatternClass::kArch;
      else if (p == "tented")
        pattern = PatternClass::kTentedArch;
      else if (p == "left")
        pattern = PatternClass::kLeftLoop;
      else if (p == "right")
        pattern = PatternClass::kRightLoop;
      else if (p == "whorl")
        pattern = PatternClass::kWhorl;
      else {
        std::fprintf(stderr, "unknown pattern %s\n", v);
        return 2;
      }
    } else if (a == "--size" && v && std::sscanf(v, "%dx%d", &width, &height) == 2) {
    } else if (a == "--rotation" && v) {
      options.rotation_degrees = number();
    } else if (a == "--shift" && v &&
               std::sscanf(v, "%lf,%lf", &options.shift_x, &options.shift_y) == 2) {
    } else if (a == "--distortion" && v) {
      options.distortion = number();
    } else if (a == "--pressure" && v) {
      options.pressure = number();
    } else if (a == "--noise" && v) {
      options.noise = number();
    } else if (a == "--blur" && v) {
      options.blur = number();
    } else if (a == "--contact" && v) {
      options.contact = number();
    } else if (a == "--impression-seed" && v) {
      options.seed = std::strtoull(v, nullptr, 10);
    } else if (a == "--zoom" && v &&
               std::sscanf(v, "%d,%d,%d,%d,%d", &zx, &zy, &zw, &zh, &zs) == 5 && zw > 0 && zh > 0 &&
               zs > 0 && zs <= 16) {
    } else if (a == "--out" && v) {
      out = v;
    } else {
      used = false;
    }
    if (!used || width < 1 || height < 1) {
      std::fprintf(stderr, "usage: see the first comment of fingerprint_render.cc (at %s)\n",
                   a.c_str());
      return 2;
    }
  }
  const Finger finger = pattern_given ? Finger::Generate(seed, pattern) : Finger::Generate(seed);
  const Impression imp = finger.Render(width, height, options);
  std::string error;
  Canvas marked = Canvas::FromGray(width, height, imp.pixels);
  DrawTruth(marked, imp);
  if (!WritePng(out + ".png", width, height, 1, imp.pixels.data(), &error) ||
      !WritePng(out + "-truth.png", width, height, 3, marked.rgb().data(), &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  if (zs > 0) {
    Canvas zoom(zw * zs, zh * zs);
    for (int y = 0; y < zh * zs; ++y)
      for (int x = 0; x < zw * zs; ++x) {
        const int sx = zx + x / zs, sy = zy + y / zs;
        if (sx < 0 || sy < 0 || sx >= width || sy >= height) continue;
        const uint8_t* p = &marked.rgb()[3 * (static_cast<size_t>(sy) * width + sx)];
        zoom.Set(x, y, {p[0], p[1], p[2]});
      }
    if (!WritePng(out + "-zoom.png", zoom.width(), zoom.height(), 3, zoom.rgb().data(), &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  std::ofstream json(out + ".json");
  json << GroundTruthJson(imp) << "\n";
  if (!json) {
    std::fprintf(stderr, "%s.json: cannot write\n", out.c_str());
    return 1;
  }
  std::printf("%s.png: %d minutiae, %zu cores, %zu deltas\n", out.c_str(),
              static_cast<int>(imp.minutiae.size()), imp.cores.size(), imp.deltas.size());
  return 0;
}
