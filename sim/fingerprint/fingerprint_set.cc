// fingerprint_set: writes a set of impressions for measuring matchers, the
// same for every program that reads it: N fingers, K impressions of each,
// as 8-bit PGM files DIR/f<finger>_<impression>.pgm, and DIR/set.txt, one
// line per impression with the options it was taken with.
//
//   fingerprint_set --fingers N --impressions K --out DIR
//       [--first-seed S] [--size WxH] [--threads T]
//
// Each impression is taken afresh, as a finger is laid on a sensor again:
// turned by up to 15 degrees either way (so two impressions differ by up to
// 30), moved by up to 25 pixels, distorted, pressed harder or softer,
// noisy, a little blurred, and touching 70 % to all of its area. The
// options come from the finger's seed and the impression's number alone.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/fingerprint/fingerprint.h"
#include "sim/fingerprint/random.h"

using namespace dactyra::sim::fingerprint;

namespace {

ImpressionOptions OptionsFor(uint64_t finger_seed, int impression) {
  Random rng(finger_seed * 0x9e3779b97f4a7c15ull + static_cast<uint64_t>(impression) * 7919 + 17);
  ImpressionOptions o;
  o.rotation_degrees = rng.Uniform(-15, 15);
  o.shift_x = rng.Uniform(-25, 25);
  o.shift_y = rng.Uniform(-25, 25);
  o.distortion = rng.Uniform(0, 8);
  o.pressure = rng.Uniform(-0.5, 0.5);
  o.noise = rng.Uniform(4, 14);
  o.blur = rng.Uniform(0, 1);
  o.contact = rng.Uniform() < 0.5 ? 1 : rng.Uniform(0.7, 1);
  o.seed = static_cast<uint64_t>(impression) + 1;
  return o;
}

bool WritePgm(const std::string& path, const Impression& imp) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P5\n%d %d\n255\n", imp.width, imp.height);
  const bool ok = std::fwrite(imp.pixels.data(), 1, imp.pixels.size(), f) == imp.pixels.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  int fingers = 0, impressions = 0, width = 320, height = 365;
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  uint64_t first_seed = 5000;
  std::string out;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const char* v = argv[i + 1];
    if (a == "--fingers") {
      fingers = std::atoi(v);
    } else if (a == "--impressions") {
      impressions = std::atoi(v);
    } else if (a == "--first-seed") {
      first_seed = std::strtoull(v, nullptr, 10);
    } else if (a == "--size" && std::sscanf(v, "%dx%d", &width, &height) == 2) {
    } else if (a == "--threads") {
      threads = static_cast<unsigned>(std::max(1, std::atoi(v)));
    } else if (a == "--out") {
      out = v;
    } else {
      fingers = 0;
      break;
    }
  }
  if (fingers < 1 || impressions < 1 || out.empty() || width < 1 || height < 1 ||
      argc % 2 == 0) {
    std::fprintf(stderr, "usage: see the first comment of fingerprint_set.cc\n");
    return 2;
  }
  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::vector<std::string> lines(static_cast<size_t>(fingers) * impressions);
  auto work = [&] {
    for (int f; !failed && (f = next++) < fingers;) {
      const uint64_t seed = first_seed + static_cast<uint64_t>(f);
      const Finger finger = Finger::Generate(seed);
      for (int k = 0; k < impressions; ++k) {
        const ImpressionOptions o = OptionsFor(seed, k);
        char name[64];
        std::snprintf(name, sizeof name, "f%05d_%d.pgm", f, k);
        if (!WritePgm(out + "/" + name, finger.Render(width, height, o))) {
          std::fprintf(stderr, "%s/%s: cannot write\n", out.c_str(), name);
          failed = true;
          return;
        }
        char line[256];
        std::snprintf(line, sizeof line,
                      "%s finger %d seed %llu impression %d rotation %.2f shift %.1f,%.1f "
                      "distortion %.2f pressure %.2f noise %.1f blur %.2f contact %.2f",
                      name, f, static_cast<unsigned long long>(seed), k, o.rotation_degrees,
                      o.shift_x, o.shift_y, o.distortion, o.pressure, o.noise, o.blur, o.contact);
        lines[static_cast<size_t>(f) * impressions + k] = line;
      }
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
  if (failed) return 1;
  FILE* set = std::fopen((out + "/set.txt").c_str(), "w");
  if (!set) {
    std::fprintf(stderr, "%s/set.txt: cannot write\n", out.c_str());
    return 1;
  }
  std::fprintf(set, "fingers %d impressions %d size %dx%d\n", fingers, impressions, width, height);
  for (const auto& l : lines) std::fprintf(set, "%s\n", l.c_str());
  if (std::fclose(set) != 0) return 1;
  std::printf("%d fingers x %d impressions (%dx%d) in %s\n", fingers, impressions, width, height,
              out.c_str());
  return 0;
}
