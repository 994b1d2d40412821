// The demo: builds a fingerprint-like picture of the size the DigitalPersona
// readers deliver, brings it to 320 × 365 the way their capture does
// (upright and turned), and writes each picture as a binary PGM file.
//
//   dactyra_demo [output folder]     (default: the current folder)
//
// The road is a list of steps over one shared state, so that later parts of
// the capture road join as further steps.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "imaging/gray_image.h"
#include "imaging/resample.h"
#include "imaging/row_view.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/exception.h"

namespace dactyra::demo {
namespace {

using platform::Text;

constexpr std::int32_t kSourceWidth = 448;
constexpr std::int32_t kSourceHeight = 511;
constexpr std::int32_t kTargetWidth = 320;
constexpr std::int32_t kTargetHeight = 365;
constexpr std::int32_t kResolution = 500;

struct State {
  Text folder;
  GrayImagePtr source;
  GrayImagePtr upright;
  GrayImagePtr turned;
  std::vector<Text> written;
};

struct Step {
  const char* name;
  std::function<void(State&)> run;
};

// FNV-1a over the pixels, row after row: a short fingerprint of a picture
// to compare runs by.
std::uint32_t Checksum(const TGrayImage& image) {
  std::uint32_t hash = 2166136261u;
  for (const auto& row : image.Bits) {
    for (std::uint8_t pixel : row) {
      hash ^= pixel;
      hash *= 16777619u;
    }
  }
  return hash;
}

std::string Describe(const TGrayImage& image) {
  char text[96];
  std::snprintf(text, sizeof text, "%dx%d at %d dpi, checksum %08x", image.Width, image.Height,
                image.Resolution, Checksum(image));
  return text;
}

// Ridges circling a core a little above the middle, bent further out, inside
// an oval of skin on a white ground: enough structure for the averaging to
// show.
GrayImagePtr FingerprintLikePicture(std::int32_t width, std::int32_t height) {
  GrayImagePtr image(CreateGrayImage(width, height, kResolution));
  const double cx = width * 0.5, cy = height * 0.42;
  const double rx = width * 0.46, ry = height * 0.48;
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const double dx = x - cx, dy = y - cy;
      const double oval =
          (dx * dx) / (rx * rx) + ((y - height * 0.5) * (y - height * 0.5)) / (ry * ry);
      if (oval >= 1.0) {
        image->Bits[y][x] = 255;
        continue;
      }
      const double radius = std::sqrt(dx * dx + 1.6 * dy * dy);
      const double bend = 6.0 * std::sin(std::atan2(dy, dx) * 2.0) * (radius / 200.0);
      const double ridge = std::cos((radius + bend) * (2.0 * std::numbers::pi / 9.0));
      // Pressure fades towards the edge of the oval.
      const double contrast = 110.0 * (1.0 - oval * oval);
      const double level = 140.0 - contrast * ridge;
      image->Bits[y][x] = static_cast<std::uint8_t>(std::lround(std::clamp(level, 0.0, 255.0)));
    }
  }
  return image;
}

// A row view over an image's own rows.
RowViewPtr ViewOf(TGrayImage& image) {
  RowViewPtr view = CreateRowView(image.Width, image.Height);
  for (std::int32_t y = 0; y < image.Height; ++y) view->Rows[y] = image.Bits[y].data();
  return view;
}

void WritePgm(State& state, const TGrayImage& image, const std::string& name) {
  std::string bytes =
      "P5\n" + std::to_string(image.Width) + " " + std::to_string(image.Height) + "\n255\n";
  for (const auto& row : image.Bits) bytes.append(row.begin(), row.end());
  const Text path = state.folder + platform::PathDelimiter() + platform::FromUtf8(name);
  if (!platform::Env::Default().WriteFileBytes(path, bytes)) {
    throw Exception(u"Could not write " + path);
  }
  state.written.push_back(path);
  std::printf("  wrote %s (%zu bytes)\n", platform::ToUtf8(path).c_str(), bytes.size());
}

std::vector<Step> Road() {
  return {
      {"generate a fingerprint-like picture",
       [](State& s) {
         s.source = FingerprintLikePicture(kSourceWidth, kSourceHeight);
         std::printf("  source %s\n", Describe(*s.source).c_str());
       }},
      {"resample 448x511 to 320x365 (ResampleArea)",
       [](State& s) {
         s.upright.reset(CreateGrayImage(kTargetWidth, kTargetHeight, kResolution));
         const RowViewPtr src = ViewOf(*s.source);
         const RowViewPtr dst = ViewOf(*s.upright);
         ResampleArea(dst.get(), src.get(), 0, 0, 0, 0, kTargetWidth, kTargetHeight, kSourceWidth,
                      kSourceHeight);
         std::printf("  upright %s\n", Describe(*s.upright).c_str());
       }},
      {"resample turned by 180 degrees (ResampleAreaTurned)",
       [](State& s) {
         s.turned.reset(CreateGrayImage(kTargetWidth, kTargetHeight, kResolution));
         const RowViewPtr src = ViewOf(*s.source);
         const RowViewPtr dst = ViewOf(*s.turned);
         ResampleAreaTurned(dst.get(), src.get(), kTargetWidth - 1, kTargetHeight - 1, 0, 0,
                            kTargetWidth, kTargetHeight, kSourceWidth, kSourceHeight);
         std::printf("  turned %s\n", Describe(*s.turned).c_str());
         // The turned picture is the upright one read backwards.
         bool same = true;
         for (std::int32_t y = 0; y < kTargetHeight && same; ++y)
           for (std::int32_t x = 0; x < kTargetWidth && same; ++x)
             same = s.turned->Bits[kTargetHeight - 1 - y][kTargetWidth - 1 - x] ==
                    s.upright->Bits[y][x];
         if (!same) throw Exception(u"The turned picture is not the upright one turned.");
         std::printf("  turned = upright turned by 180 degrees: yes\n");
       }},
      {"write the pictures as PGM files",
       [](State& s) {
         if (!platform::Env::Default().CreateFolders(s.folder)) {
           throw Exception(u"Could not create the folder " + s.folder);
         }
         WritePgm(s, *s.source, "demo_source_448x511.pgm");
         WritePgm(s, *s.upright, "demo_resampled_320x365.pgm");
         WritePgm(s, *s.turned, "demo_turned_320x365.pgm");
       }},
  };
}

int Main(int argc, char** argv) {
  if (argc > 2 ||
      (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help"))) {
    std::fprintf(stderr, "usage: %s [output folder]\n", argv[0]);
    return 2;
  }
  State state;
  state.folder = platform::FullPath(argc == 2 ? platform::FromUtf8(argv[1])
                                              : platform::Env::Default().CurrentFolder());
  while (state.folder.size() > 1 && state.folder.back() == platform::PathDelimiter()) {
    state.folder.pop_back();
  }
  std::printf("dactyra demo, output folder %s\n", platform::ToUtf8(state.folder).c_str());
  const std::vector<Step> road = Road();
  for (size_t i = 0; i < road.size(); ++i) {
    std::printf("%zu. %s\n", i + 1, road[i].name);
    try {
      road[i].run(state);
    } catch (const std::exception& e) {
      std::fflush(stdout);
      std::fprintf(stderr, "step %zu failed: %s\n", i + 1, e.what());
      return 1;
    }
  }
  std::printf("done: %zu steps, %zu files written\n", road.size(), state.written.size());
  return 0;
}

}  // namespace
}  // namespace dactyra::demo

int main(int argc, char** argv) { return dactyra::demo::Main(argc, argv); }
