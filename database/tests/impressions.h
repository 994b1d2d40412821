// Impressions of synthetic fingers as gray images, for the database tests
// and the impressions fixture of the Java tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "imaging/gray_image.h"
#include "sim/fingerprint/fingerprint.h"

namespace dactyra::database::testing {

// Impression `k` of finger `seed` at 320 × 365: each a little turned,
// moved and noisy, as a finger laid on a reader again.
inline GrayImagePtr RenderImpression(uint64_t seed, int k) {
  sim::fingerprint::ImpressionOptions o;
  const double turns[] = {0, 7, -6, 4, -9, 10};
  o.rotation_degrees = turns[k % 6];
  o.shift_x = (k % 3 - 1) * 9.0;
  o.shift_y = (k % 2 == 0 ? 6.0 : -7.0);
  o.noise = 6;
  o.distortion = 2;
  o.seed = static_cast<uint64_t>(k) * 7919 + seed;
  const auto imp = sim::fingerprint::Finger::Generate(seed).Render(320, 365, o);
  GrayImagePtr image = CreateGrayImage(imp.width, imp.height, 500);
  std::memcpy(image->Bits.Pixels().data(), imp.pixels.data(), imp.pixels.size());
  return image;
}

// The same, rendered once for the whole program and copied out.
inline GrayImagePtr Impression(uint64_t seed, int k) {
  static std::mutex lock;
  static std::map<std::pair<uint64_t, int>, GrayImagePtr> rendered;
  std::lock_guard held(lock);
  GrayImagePtr& image = rendered[{seed, k}];
  if (!image) image = RenderImpression(seed, k);
  return CopyGrayImage(image.get());
}

// A picture of nothing: no template can come of it.
inline GrayImagePtr Blank(uint8_t gray = 200) {
  GrayImagePtr image = CreateGrayImage(320, 365, 500);
  std::ranges::fill(image->Bits.Pixels(), gray);
  return image;
}

}  // namespace dactyra::database::testing
