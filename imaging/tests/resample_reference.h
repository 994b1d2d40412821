// The area resampling algorithm transcribed plainly, without tables or
// shortcuts: what the tests and the fuzz target compare the resampler with.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "imaging/row_view.h"

namespace dactyra::reference {

// The algorithm, transcribed plainly: the reference that the resampler must
// match bit for bit. `inside` decides which source pixels count; the plain
// algorithm counts them all (both rectangles inside their views).
template <typename Step>
inline void SpanWalk(double a, double b, Step step) {
  const double whole_a = std::trunc(a);
  std::int64_t p = static_cast<std::int64_t>(whole_a);
  step(p, std::min(1.0 - (a - whole_a), b - a));
  for (++p; p < b; ++p) step(p, p == std::trunc(b) ? b - std::trunc(b) : 1.0);
}

struct Call {
  std::int32_t dst_x, dst_y;  // DstLeft, DstTop or DstRight, DstBottom
  std::int32_t src_left, src_top;
  std::int32_t dst_width, dst_height, src_width, src_height;
};

template <typename Inside>
inline void Reference(const TRowView& dst, const TRowView& src, const Call& call, bool turned,
                      Inside inside) {
  const double rx = static_cast<double>(call.src_width) / call.dst_width;
  for (std::int64_t r = 0; r < call.dst_height; ++r) {
    const double y0 = static_cast<double>(r * call.src_height) / call.dst_height;
    const double y1 = static_cast<double>((r + 1) * call.src_height) / call.dst_height;
    for (std::int64_t c = 0; c < call.dst_width; ++c) {
      const double x0 = c * rx;
      const double x1 = (c + 1) * rx;
      double sum_w = 0;
      double sum_v = 0;
      SpanWalk(y0, y1, [&](std::int64_t k, double wy) {
        SpanWalk(x0, x1, [&](std::int64_t m, double wx) {
          const std::int64_t row = call.src_top + k;
          const std::int64_t col = call.src_left + m;
          if (!inside(row, col)) return;
          const double w = wx * wy;
          sum_v += w * src.Rows[row][col];
          sum_w += w;
        });
      });
      double value = sum_w != 0 ? sum_v / sum_w : sum_v;
      if (value > 255.0) value = 255.0;
      const std::int64_t y = turned ? call.dst_y - r : call.dst_y + r;
      const std::int64_t x = turned ? call.dst_x - c : call.dst_x + c;
      if (y < 0 || y >= dst.Height || x < 0 || x >= dst.Width) continue;
      // The default rounding mode rounds half to even.
      dst.Rows[y][x] = static_cast<std::uint8_t>(std::nearbyint(std::max(value, 0.0)));
    }
  }
}

inline void PlainReference(const TRowView& dst, const TRowView& src, const Call& call,
                           bool turned) {
  Reference(dst, src, call, turned, [](std::int64_t, std::int64_t) { return true; });
}

inline void ClippedReference(const TRowView& dst, const TRowView& src, const Call& call,
                             bool turned) {
  Reference(dst, src, call, turned, [&](std::int64_t row, std::int64_t col) {
    return row >= 0 && row < src.Height && col >= 0 && col < src.Width;
  });
}

}  // namespace dactyra::reference
