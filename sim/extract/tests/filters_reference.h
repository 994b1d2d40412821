// The pipeline's filters transcribed plainly, a pixel at a time with the
// edge repeated: what filters.cc must match bit for bit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "sim/extract/filters.h"

namespace dactyra::sim::extract::reference {

inline float At(const std::vector<float>& px, int w, int h, int x, int y) {
  return px[static_cast<size_t>(std::clamp(y, 0, h - 1)) * w + std::clamp(x, 0, w - 1)];
}

inline void GaussianBlur(std::vector<float>& px, int w, int h, double sigma) {
  if (sigma <= 0) return;
  const int r = std::max(1, static_cast<int>(std::ceil(2.5 * sigma)));
  std::vector<float> k(2 * r + 1);
  float total = 0;
  for (int i = -r; i <= r; ++i)
    total += k[i + r] = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
  for (auto& x : k) x /= total;
  std::vector<float> across(px.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float s = 0;
      for (int i = -r; i <= r; ++i) s += k[i + r] * At(px, w, h, x + i, y);
      across[static_cast<size_t>(y) * w + x] = s;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float s = 0;
      for (int i = -r; i <= r; ++i) s += k[i + r] * At(across, w, h, x, y + i);
      px[static_cast<size_t>(y) * w + x] = s;
    }
}

inline std::vector<float> FilterByCells(const std::vector<float>& src, int w, int h, int cell,
                                        const std::vector<const Kernel*>& cell_kernels) {
  std::vector<float> dst(src.size());
  const int cw = (w + cell - 1) / cell;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Kernel* k = cell_kernels[static_cast<size_t>(y / cell) * cw + x / cell];
      float s = 0;
      if (k)
        for (const Tap& t : *k) s += t.w * At(src, w, h, x + t.dx, y + t.dy);
      dst[static_cast<size_t>(y) * w + x] = s;
    }
  return dst;
}

// Zhang and Suen (1984): in each sub-iteration every pixel is tested on
// the picture as the sub-iteration found it, then those that pass go.
inline void ThinZhangSuen(std::vector<uint8_t>& px, int w, int h) {
  for (int x = 0; x < w; ++x) px[x] = px[static_cast<size_t>(h - 1) * w + x] = 0;
  for (int y = 0; y < h; ++y)
    px[static_cast<size_t>(y) * w] = px[static_cast<size_t>(y) * w + w - 1] = 0;
  const int nx[8] = {0, 1, 1, 1, 0, -1, -1, -1}, ny[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
  for (bool changed = true; changed;) {
    changed = false;
    for (int sub = 0; sub < 2; ++sub) {
      std::vector<size_t> gone;
      for (int y = 1; y + 1 < h; ++y)
        for (int x = 1; x + 1 < w; ++x) {
          if (!px[static_cast<size_t>(y) * w + x]) continue;
          int p[8], b = 0, a = 0;
          for (int k = 0; k < 8; ++k)
            b += p[k] = px[static_cast<size_t>(y + ny[k]) * w + x + nx[k]];
          for (int k = 0; k < 8; ++k) a += !p[k] && p[(k + 1) % 8];
          const bool pass = sub == 0 ? p[0] * p[2] * p[4] == 0 && p[2] * p[4] * p[6] == 0
                                     : p[0] * p[2] * p[6] == 0 && p[0] * p[4] * p[6] == 0;
          if (b >= 2 && b <= 6 && a == 1 && pass) gone.push_back(static_cast<size_t>(y) * w + x);
        }
      for (size_t i : gone) px[i] = 0;
      changed = changed || !gone.empty();
    }
  }
}

}  // namespace dactyra::sim::extract::reference
