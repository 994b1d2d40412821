// Writes impressions of synthetic fingers for the Java tests of the
// fingerprint base and the tool: for finger f of n and impression k of m,
// "finger<f>-<k>.bmp" (8-bit gray, 320 × 365), the impressions the
// database tests use.
//   impressions_fixture <folder> <fingers> <impressions>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "database/tests/impressions.h"
#include "imaging/bmp_encoder.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: impressions_fixture <folder> <fingers> <impressions>\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  const int fingers = std::atoi(argv[2]);
  const int impressions = std::atoi(argv[3]);
  for (int f = 0; f < fingers; ++f) {
    for (int k = 0; k < impressions; ++k) {
      const auto image =
          dactyra::database::testing::RenderImpression(501 + static_cast<uint64_t>(f), k);
      std::vector<uint8_t> bmp;
      dactyra::SaveGrayBitmap(image->Width, image->Height, image->Bits.Pixels(), bmp);
      std::ofstream out(folder / ("finger" + std::to_string(f) + "-" + std::to_string(k) + ".bmp"),
                        std::ios::binary);
      out.write(reinterpret_cast<const char*>(bmp.data()),
                static_cast<std::streamsize>(bmp.size()));
      if (!out) return 1;
    }
  }
  return 0;
}
