// The filters, fast: whole rows at a time over padded copies, four pixels
// of a cell row per pass over its taps, and a table of Zhang–Suen's test.
#include "sim/extract/filters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace dactyra::sim::extract {

void GaussianBlur(float* pixels, int width, int height, double sigma) {
  if (sigma <= 0) return;
  const int r = std::max(1, static_cast<int>(std::ceil(2.5 * sigma)));
  std::vector<float> k(2 * r + 1);
  float total = 0;
  for (int i = -r; i <= r; ++i)
    total += k[i + r] = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
  for (auto& x : k) x /= total;
  const size_t w = static_cast<size_t>(width);
  std::vector<float> tmp(w * height), padded(w + 2 * r);
  for (int y = 0; y < height; ++y) {
    const float* row = pixels + y * w;
    std::fill(padded.begin(), padded.begin() + r, row[0]);
    std::copy(row, row + w, padded.begin() + r);
    std::fill(padded.begin() + r + width, padded.end(), row[w - 1]);
    // (Distinct buffers: __restrict lets the rows be vectorised.)
    float* __restrict out = &tmp[y * w];
    for (int i = 0; i <= 2 * r; ++i) {
      const float wgt = k[i];
      const float* __restrict in = &padded[static_cast<size_t>(i)];
      for (size_t x = 0; x < w; ++x) out[x] += wgt * in[x];
    }
  }
  for (int y = 0; y < height; ++y) {
    float* __restrict out = pixels + y * w;
    std::fill(out, out + w, 0.f);
    for (int i = -r; i <= r; ++i) {
      const float* __restrict row = &tmp[std::clamp(y + i, 0, height - 1) * w];
      const float wgt = k[i + r];
      for (size_t x = 0; x < w; ++x) out[x] += wgt * row[x];
    }
  }
}

void FilterByCells(const float* src, int width, int height, int cell,
                   const std::vector<const Kernel*>& cell_kernels, float* dst) {
  constexpr int kLanes = 4;
  int reach = 0;
  for (const Kernel* k : cell_kernels)
    if (k)
      for (const Tap& t : *k) reach = std::max({reach, std::abs(t.dx), std::abs(t.dy)});
  // The source padded by `reach` on every side with its edge repeated, so
  // that every tap of every pixel reads inside it; a cell row is summed
  // kLanes pixels at a time (a last one narrower reads a few floats past
  // its row, which the slack at the end keeps inside the buffer).
  const int pw = width + 2 * reach;
  std::vector<float> padded(static_cast<size_t>(pw) * (height + 2 * reach) + kLanes);
  for (int y = -reach; y < height + reach; ++y) {
    float* row = &padded[static_cast<size_t>(y + reach) * pw];
    const float* from = src + static_cast<size_t>(std::clamp(y, 0, height - 1)) * width;
    std::fill(row, row + reach, from[0]);
    std::copy(from, from + width, row + reach);
    std::fill(row + reach + width, row + pw, from[width - 1]);
  }
  const int cw = (width + cell - 1) / cell, ch = (height + cell - 1) / cell;
  std::vector<int> offsets;
  std::vector<float> weights;
  for (int cy = 0; cy < ch; ++cy)
    for (int cx = 0; cx < cw; ++cx) {
      const int y0 = cy * cell, y1 = std::min(height, y0 + cell);
      const int x0 = cx * cell, x1 = std::min(width, x0 + cell);
      const Kernel* k = cell_kernels[static_cast<size_t>(cy) * cw + cx];
      if (!k) {
        for (int y = y0; y < y1; ++y) std::fill(dst + y * width + x0, dst + y * width + x1, 0.f);
        continue;
      }
      offsets.clear();
      weights.clear();
      for (const Tap& t : *k) {
        offsets.push_back(t.dy * pw + t.dx);
        weights.push_back(t.w);
      }
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; x += kLanes) {
          const float* p = &padded[static_cast<size_t>(y + reach) * pw + x + reach];
          float s0 = 0, s1 = 0, s2 = 0, s3 = 0;
          for (size_t t = 0; t < offsets.size(); ++t) {
            const float* q = p + offsets[t];
            const float wgt = weights[t];
            s0 += wgt * q[0];
            s1 += wgt * q[1];
            s2 += wgt * q[2];
            s3 += wgt * q[3];
          }
          const float sum[kLanes] = {s0, s1, s2, s3};
          std::copy(sum, sum + std::min(kLanes, x1 - x), dst + y * width + x);
        }
    }
}

namespace {

// Zhang–Suen's test for one pixel by its eight neighbours, from the one
// above clockwise (bit k of `n` is neighbour k): may sub-iteration `sub`
// remove it?
constexpr bool Removable(unsigned n, int sub) {
  int p[8] = {};
  int b = 0, a = 0;
  for (int k = 0; k < 8; ++k) b += p[k] = (n >> k) & 1;
  for (int k = 0; k < 8; ++k) a += !p[k] && p[(k + 1) % 8];
  if (b < 2 || b > 6 || a != 1) return false;
  return sub == 0 ? (p[0] * p[2] * p[4] == 0 && p[2] * p[4] * p[6] == 0)
                  : (p[0] * p[2] * p[6] == 0 && p[0] * p[4] * p[6] == 0);
}

// Both sub-iterations' answers for every neighbourhood: bit `sub`.
constexpr std::array<uint8_t, 256> kRemovable = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned n = 0; n < 256; ++n)
    t[n] = static_cast<uint8_t>(Removable(n, 0) | (Removable(n, 1) << 1));
  return t;
}();

}  // namespace

void ThinZhangSuen(uint8_t* pixels, int width, int height) {
  const std::ptrdiff_t w = width;
  for (int x = 0; x < width; ++x) pixels[x] = pixels[(height - 1) * w + x] = 0;
  for (int y = 0; y < height; ++y) pixels[y * w] = pixels[y * w + w - 1] = 0;
  // Only the pixels still set are visited.
  std::vector<size_t> active, drop;
  for (size_t i = 0; i < static_cast<size_t>(w) * height; ++i)
    if (pixels[i]) active.push_back(i);
  for (bool changed = true; changed;) {
    changed = false;
    for (int sub = 0; sub < 2; ++sub) {
      drop.clear();
      for (size_t i : active) {
        const uint8_t* c = pixels + i;
        const unsigned n = c[-w] | c[1 - w] << 1 | c[1] << 2 | c[w + 1] << 3 | c[w] << 4 |
                           c[w - 1] << 5 | c[-1] << 6 | c[-1 - w] << 7;
        if (kRemovable[n] >> sub & 1) drop.push_back(i);
      }
      for (size_t i : drop) pixels[i] = 0;
      if (!drop.empty()) {
        changed = true;
        std::erase_if(active, [&](size_t i) { return !pixels[i]; });
      }
    }
  }
}

}  // namespace dactyra::sim::extract
