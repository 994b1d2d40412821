// Writes synthetic fingers for the extraction tests in a Java VM: for
// finger i of n, "finger<i>.bmp" (8-bit gray) and "finger<i>.txt", its true
// minutiae, one "x y direction" line each (pixels; radians counter-clockwise
// on screen from +x).
//   finger_fixture <folder> <n>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/bmp_encoder.h"
#include "sim/fingerprint/fingerprint.h"
#include "templates/tests/finger_set.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: finger_fixture <folder> <n>\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  const int n = std::atoi(argv[2]);
  for (int i = 0; i < n; ++i) {
    const auto imp = dactyra::templates::testing::TestFinger(i);
    std::vector<uint8_t> bmp;
    dactyra::SaveGrayBitmap(imp.width, imp.height, imp.pixels, bmp);
    const std::string base = "finger" + std::to_string(i);
    std::ofstream(folder / (base + ".bmp"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
    std::ofstream truth(folder / (base + ".txt"));
    for (const auto& m : imp.minutiae) truth << m.x << ' ' << m.y << ' ' << m.direction << '\n';
    if (!truth) return 1;
  }
  return 0;
}
