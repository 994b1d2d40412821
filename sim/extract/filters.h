// The pipeline's image filters, written for speed: a separable Gaussian
// blur, filtering by kernels that change from cell to cell, and Zhang–Suen
// thinning. tests/filters_reference.h transcribes each plainly, and the
// tests hold these to it bit for bit. Images are rows from the top, no
// padding; beyond an edge the edge value repeats.
#pragma once

#include <cstdint>
#include <vector>

namespace dactyra::sim::extract {

// Blurs a width × height image in place with a Gaussian of `sigma` pixels
// (truncated at 2.5 sigma, at least one pixel); sigma ≤ 0 leaves it.
void GaussianBlur(float* pixels, int width, int height, double sigma);

// One weight of a kernel, at an offset from the pixel it serves.
struct Tap {
  int dx = 0, dy = 0;
  float w = 0;
};
using Kernel = std::vector<Tap>;

// dst = src filtered by the kernel of each cell × cell block (row-major,
// ceil(width / cell) per row); a null kernel makes its block 0. Every
// pixel sums its taps in the kernel's order.
void FilterByCells(const float* src, int width, int height, int cell,
                   const std::vector<const Kernel*>& cell_kernels, float* dst);

// Thins the 0/1 ridges of a width × height image to lines one pixel wide
// (Zhang and Suen's two sub-iterations until nothing changes); the image's
// outermost rows and columns are cleared first.
void ThinZhangSuen(uint8_t* pixels, int width, int height);

}  // namespace dactyra::sim::extract
