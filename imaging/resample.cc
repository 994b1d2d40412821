#include "imaging/resample.h"

#include <algorithm>
#include <bit>
#include <cfenv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

// The row loops get a copy for wider vector units too, chosen when the
// library is loaded. The arithmetic is the same in every copy: double
// operations, each rounded, none fused. Sanitizer builds go without: their
// instrumentation of the chooser runs before the sanitizer is ready.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define DACTYRA_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DACTYRA_SANITIZED 1
#endif
#if defined(__x86_64__) && defined(__ELF__) && !defined(DACTYRA_SANITIZED) && \
    defined(__has_attribute)
#if __has_attribute(target_clones)
#define DACTYRA_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif
#endif
#ifndef DACTYRA_VECTOR_CLONES
#define DACTYRA_VECTOR_CLONES
#endif

namespace dactyra {

namespace {

// One step of a span walk: a source index and its weight.
struct Step {
  std::int64_t index;
  double weight;
};

// The span walk over [a, b), keeping only the steps whose index lies in
// [lo, hi). Steps outside are skipped without being walked, so a span far
// larger than the view costs no more than the view.
//
// Span ends lie within ±2^31 (c × SrcWidth / DstWidth with c <= DstWidth),
// so the integer conversion truncates them exactly as std::trunc would, and
// much faster where trunc is a library call.
template <typename Emit>
void WalkSpan(double a, double b, std::int64_t lo, std::int64_t hi, Emit&& emit) {
  const auto first = static_cast<std::int64_t>(a);
  const auto whole_a = static_cast<double>(first);
  if (first >= lo && first < hi) emit(first, std::min(1.0 - (a - whole_a), b - a));
  const auto whole_b = static_cast<double>(static_cast<std::int64_t>(b));
  const double last_weight = b - whole_b;
  for (std::int64_t p = std::max(first + 1, lo); p < hi && static_cast<double>(p) < b; ++p) {
    emit(p, static_cast<double>(p) == whole_b ? last_weight : 1.0);
  }
}

// Destination index range [begin, end) of r (or c) in [0, size) whose written
// position (origin + r, or origin - r when turned) lies in [0, limit).
struct Range {
  std::int64_t begin = 0;
  std::int64_t end = 0;
};

Range Writable(std::int64_t size, std::int64_t origin, std::int64_t limit, bool turned) {
  Range range;
  if (turned) {
    range.begin = std::max<std::int64_t>(0, origin - limit + 1);
    range.end = std::min<std::int64_t>(size, origin + 1);
  } else {
    range.begin = std::max<std::int64_t>(0, -origin);
    range.end = std::min<std::int64_t>(size, limit - origin);
  }
  if (range.end < range.begin) range.end = range.begin;
  return range;
}

// The column steps of all written destination columns. Column c's steps
// read source columns first_column + base[c] + j for j < count[c]; the
// weights are stored step-major (weight[j * columns + c]) and padded with 0
// to the same number of steps per column, so that one step of all columns
// lies side by side.
struct ColumnTable {
  std::size_t columns = 0;
  std::size_t steps = 0;
  // Real steps of all columns together.
  std::size_t total = 0;
  std::int64_t first_column = 0;
  // Source columns from first_column on that the real steps read.
  std::size_t span = 0;
  std::vector<std::int32_t> base;
  std::vector<std::int32_t> count;
  std::vector<double> weight;
  // Every real step weighs exactly 1.
  bool unit_weights = true;
  // Every column has `stride` steps and begins `stride` columns after the
  // previous one (integer reduction factors).
  bool regular = false;
  std::int32_t stride = 0;
};

ColumnTable MakeColumnTable(const Range& cols, double rx, std::int64_t lo, std::int64_t hi) {
  ColumnTable table;
  table.columns = static_cast<std::size_t>(cols.end - cols.begin);
  const std::size_t n = table.columns;
  std::vector<Step> steps;
  steps.reserve(n * (static_cast<std::size_t>(std::min(std::abs(rx), 64.0)) + 2));
  std::vector<std::size_t> starts(n + 1, 0);
  for (std::size_t c = 0; c < n; ++c) {
    starts[c] = steps.size();
    const auto column = static_cast<std::int64_t>(c) + cols.begin;
    const double x0 = static_cast<double>(column) * rx;
    const double x1 = static_cast<double>(column + 1) * rx;
    WalkSpan(x0, x1, lo, hi, [&](std::int64_t m, double w) { steps.push_back({m, w}); });
    table.steps = std::max(table.steps, steps.size() - starts[c]);
  }
  starts[n] = steps.size();
  table.total = steps.size();
  table.base.assign(n, 0);
  table.count.assign(n, 0);
  if (steps.empty()) {
    table.steps = 0;
    return table;
  }
  // Walks yield consecutive indices, so each column's first step is its
  // smallest.
  std::int64_t min_index = steps.front().index;
  for (std::size_t c = 0; c < n; ++c) {
    if (starts[c + 1] > starts[c]) min_index = std::min(min_index, steps[starts[c]].index);
  }
  std::int64_t max_index = min_index;
  for (const Step& step : steps) max_index = std::max(max_index, step.index);
  table.first_column = min_index;
  table.span = static_cast<std::size_t>(max_index - min_index + 1);
  table.weight.assign(table.steps * n, 0.0);
  for (std::size_t c = 0; c < n; ++c) {
    const std::size_t real = starts[c + 1] - starts[c];
    table.count[c] = static_cast<std::int32_t>(real);
    if (real > 0) table.base[c] = static_cast<std::int32_t>(steps[starts[c]].index - min_index);
    for (std::size_t j = 0; j < real; ++j) {
      const double w = steps[starts[c] + j].weight;
      table.weight[j * n + c] = w;
      if (w != 1.0) table.unit_weights = false;
    }
  }
  table.stride = table.count[0];
  table.regular = table.stride > 0;
  for (std::size_t c = 0; c < n && table.regular; ++c) {
    table.regular = table.count[c] == table.stride &&
                    table.base[c] == table.base[0] + table.stride * static_cast<std::int64_t>(c);
  }
  return table;
}

// The mean, clamped to 0..255 and rounded half to even whatever the rounding
// mode.
std::uint8_t Finish(double sum_v, double sum_w) {
  double value = sum_w != 0.0 ? sum_v / sum_w : sum_v;
  if (value > 255.0) value = 255.0;
  // Only negative sizes give values below 0: they become 0.
  if (!(value > 0.0)) return 0;
  const double whole = std::floor(value);
  auto result = static_cast<std::int32_t>(whole);
  const double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && (result & 1) != 0)) ++result;
  return static_cast<std::uint8_t>(result);
}

// Finish for a whole row. In the default rounding mode (to nearest, half to
// even; what Java and Windows run with) adding and taking away 2^52 rounds a
// value of 0..255 exactly as Finish does, and the loop vectorises.
// `to_nearest` tells whether that mode is in force.
DACTYRA_VECTOR_CLONES void FinishRow(const double* __restrict sum_v, const double* __restrict sum_w,
                                     std::size_t n, bool to_nearest, std::uint8_t* __restrict out) {
  if (!to_nearest) {
    for (std::size_t c = 0; c < n; ++c) out[c] = Finish(sum_v[c], sum_w[c]);
    return;
  }
  constexpr double kRounder = 0x1p52;
  for (std::size_t c = 0; c < n; ++c) {
    const double divisor = sum_w[c] != 0.0 ? sum_w[c] : 1.0;
    double value = sum_v[c] / divisor;
    value = value < 255.0 ? value : 255.0;
    value = value > 0.0 ? value : 0.0;
    const double rounded = (value + kRounder) - kRounder;
    out[c] = static_cast<std::uint8_t>(static_cast<std::int32_t>(rounded));
  }
}

// The source rows of one destination row: absolute row number and weight.
struct RowStep {
  std::int64_t row;
  double weight;
};

// Source rows spread out to the column steps: step j of column c at
// [j * columns + c], as bytes. Each source row is spread once and kept while
// the next destination rows still use it.
class SpreadRows {
 public:
  SpreadRows(const TRowView& src, std::int64_t src_left, const ColumnTable& table)
      : src_(src),
        origin_(src_left + table.first_column),
        table_(table),
        // The columns the table reads, followed by zeros for the padding
        // steps of the last columns.
        padded_(table.span + table.steps, 0) {}

  const std::uint8_t* Get(std::int64_t row) {
    ++clock_;
    Slot* oldest = &slots_[0];
    for (Slot& slot : slots_) {
      if (slot.row == row && !slot.bytes.empty()) {
        slot.used = clock_;
        return slot.bytes.data();
      }
      if (slot.used < oldest->used) oldest = &slot;
    }
    oldest->row = row;
    oldest->used = clock_;
    oldest->bytes.resize(table_.steps * table_.columns);
    std::copy_n(src_.Rows[row] + origin_, table_.span, padded_.begin());
    std::uint8_t* to = oldest->bytes.data();
    switch (table_.steps) {
      case 2:
        Spread<2>(to);
        break;
      case 3:
        Spread<3>(to);
        break;
      case 4:
        Spread<4>(to);
        break;
      default:
        Spread<0>(to);
        break;
    }
    return oldest->bytes.data();
  }

 private:
  // Padding steps take whatever follows the column's real steps (their weight
  // is 0).
  template <std::size_t kSteps>
  void Spread(std::uint8_t* __restrict to) const {
    const std::size_t n = table_.columns;
    const std::size_t steps = kSteps > 0 ? kSteps : table_.steps;
    const std::int32_t* base = table_.base.data();
    const std::uint8_t* from = padded_.data();
    for (std::size_t c = 0; c < n; ++c) {
      const std::uint8_t* p = from + base[c];
      for (std::size_t j = 0; j < steps; ++j) to[j * n + c] = p[j];
    }
  }

  struct Slot {
    std::int64_t row = -1;
    std::uint64_t used = 0;
    std::vector<std::uint8_t> bytes;
  };
  const TRowView& src_;
  const std::int64_t origin_;
  const ColumnTable& table_;
  std::vector<std::uint8_t> padded_;
  std::uint64_t clock_ = 0;
  Slot slots_[4];
};

// sum_v[c] += (wx × wy) × pixel and sum_w[c] += wx × wy, one step of all
// columns after the other: each column's sums are built in exactly the order
// of the algorithm, and padding adds zeros, which changes no sum.
DACTYRA_VECTOR_CLONES void AccumulateSpread(const std::uint8_t* spread, const double* weights,
                                            std::size_t steps, std::size_t n, double wy,
                                            double* __restrict sum_v, double* __restrict sum_w) {
  for (std::size_t j = 0; j < steps; ++j) {
    const std::uint8_t* pixel = spread + j * n;
    const double* wx = weights + j * n;
    for (std::size_t c = 0; c < n; ++c) {
      const double w = wx[c] * wy;
      sum_v[c] += w * static_cast<double>(pixel[c]);
      sum_w[c] += w;
    }
  }
}

// The same for tables whose padding would cost more than the real steps:
// only real steps are visited.
void AccumulateSparse(const std::uint8_t* row, const ColumnTable& table, double wy, double* sum_v,
                      double* sum_w) {
  const std::size_t n = table.columns;
  for (std::size_t c = 0; c < n; ++c) {
    const std::uint8_t* p = row + table.base[c];
    for (std::int32_t j = 0; j < table.count[c]; ++j) {
      const double w = table.weight[static_cast<std::size_t>(j) * n + c] * wy;
      sum_v[c] += w * static_cast<double>(p[j]);
      sum_w[c] += w;
    }
  }
}

// With every weight exactly 1 each product is a pixel and each sum a whole
// number far below 2^53: the double sums are exact, so integer sums in any
// order give the very same values.
template <int kStride>
void SumRegular(const std::uint8_t* __restrict row, std::size_t n, std::int32_t stride,
                std::uint32_t* __restrict sum) {
  if constexpr (kStride > 0) {
    for (std::size_t c = 0; c < n; ++c) {
      std::uint32_t s = 0;
      for (int j = 0; j < kStride; ++j) s += row[c * kStride + j];
      sum[c] += s;
    }
  } else {
    for (std::size_t c = 0; c < n; ++c) {
      std::uint32_t s = 0;
      for (std::int32_t j = 0; j < stride; ++j) s += row[c * static_cast<std::size_t>(stride) + j];
      sum[c] += s;
    }
  }
}

void SumIrregular(const std::uint8_t* row, const ColumnTable& table, std::uint32_t* sum) {
  for (std::size_t c = 0; c < table.columns; ++c) {
    const std::uint8_t* p = row + table.base[c];
    std::uint32_t s = 0;
    for (std::int32_t j = 0; j < table.count[c]; ++j) s += p[j];
    sum[c] += s;
  }
}

// The mean of `count` pixels for a power-of-two count 2^shift, rounded half
// to even: what Finish gives for these exact sums.
void FinishPowerOfTwo(const std::uint32_t* __restrict sum, std::size_t n, int shift,
                      std::uint8_t* __restrict out) {
  if (shift == 0) {
    for (std::size_t c = 0; c < n; ++c) out[c] = static_cast<std::uint8_t>(sum[c]);
    return;
  }
  const std::uint32_t half_less_one = (1u << (shift - 1)) - 1;
  for (std::size_t c = 0; c < n; ++c) {
    const std::uint32_t s = sum[c];
    out[c] = static_cast<std::uint8_t>((s + half_less_one + ((s >> shift) & 1u)) >> shift);
  }
}

// The mean of the 2 × 2 block under output column c, rounded half to even.
// Each pair of pixels is read as one 16-bit word, which vectorises better
// than two byte loads; the byte order does not matter for the sum.
inline std::uint8_t BlockMean2x2(const std::uint8_t* top, const std::uint8_t* bottom,
                                 std::size_t c) {
  std::uint16_t a = 0;
  std::uint16_t b = 0;
  std::memcpy(&a, top + 2 * c, 2);
  std::memcpy(&b, bottom + 2 * c, 2);
  const std::uint16_t s = static_cast<std::uint16_t>((a & 0xFF) + (a >> 8) + (b & 0xFF) + (b >> 8));
  return static_cast<std::uint8_t>((s + 1 + ((s >> 2) & 1)) >> 2);
}

// Halving both ways, in one pass over the two rows.
DACTYRA_VECTOR_CLONES void HalveRows(const std::uint8_t* __restrict top,
                                     const std::uint8_t* __restrict bottom, std::size_t n,
                                     std::uint8_t* __restrict out) {
  for (std::size_t c = 0; c < n; ++c) out[c] = BlockMean2x2(top, bottom, c);
}

// The same, written right to left for a turned result.
DACTYRA_VECTOR_CLONES void HalveRowsTurned(const std::uint8_t* __restrict top,
                                           const std::uint8_t* __restrict bottom, std::size_t n,
                                           std::uint8_t* __restrict out) {
  for (std::size_t c = 0; c < n; ++c) out[n - 1 - c] = BlockMean2x2(top, bottom, c);
}

DACTYRA_VECTOR_CLONES void ReverseRow(const std::uint8_t* __restrict from, std::size_t n,
                                      std::uint8_t* __restrict to) {
  for (std::size_t c = 0; c < n; ++c) to[n - 1 - c] = from[c];
}

class Resampler {
 public:
  Resampler(const TRowView& dst, const TRowView& src, std::int64_t dst_x, std::int64_t dst_y,
            bool turned, std::int32_t src_left, std::int32_t src_top, std::int32_t dst_width,
            std::int32_t dst_height, std::int32_t src_width, std::int32_t src_height)
      : dst_(dst),
        src_(src),
        dst_x_(dst_x),
        dst_y_(dst_y),
        turned_(turned),
        src_left_(src_left),
        src_top_(src_top),
        dst_height_(dst_height),
        src_height_(src_height),
        rows_(Writable(dst_height, dst_y, dst.Height, turned)),
        table_(MakeColumnTable(Writable(dst_width, dst_x, dst.Width, turned),
                               static_cast<double>(src_width) / static_cast<double>(dst_width),
                               -static_cast<std::int64_t>(src_left),
                               static_cast<std::int64_t>(src.Width) - src_left)),
        column_begin_(Writable(dst_width, dst_x, dst.Width, turned).begin) {}

  void Run() {
    const std::size_t n = table_.columns;
    if (rows_.begin >= rows_.end || n == 0) return;
    // Padding is worth it while it stays within a few times the real steps.
    const bool spread = table_.steps * n <= 2 * table_.total + 16 * n;
    sum_v_.assign(n, 0.0);
    sum_w_.assign(n, 0.0);
    std::vector<std::uint32_t> sum(table_.unit_weights ? n : 0);
    // A turned row is built here and then written reversed; an upright one is
    // built in place.
    std::vector<std::uint8_t> turned_row(turned_ ? n : 0);
    std::optional<SpreadRows> spread_rows;
    if (spread && !table_.unit_weights) spread_rows.emplace(src_, src_left_, table_);
    std::vector<RowStep> steps;
    // Row r spans [y(r), y(r + 1)): each end is computed once.
    double y0 = RowEnd(rows_.begin);
    for (std::int64_t r = rows_.begin; r < rows_.end; ++r) {
      const double y1 = RowEnd(r + 1);
      const double row_y0 = y0;
      y0 = y1;
      std::uint8_t* out = dst_.Rows[dst_y_ + (turned_ ? -r : r)];
      if (!out) continue;
      std::uint8_t* values = turned_ ? turned_row.data() : out + (dst_x_ + column_begin_);
      RowSteps(row_y0, y1, steps);
      const bool unit_rows =
          std::all_of(steps.begin(), steps.end(), [](const RowStep& s) { return s.weight == 1.0; });
      // Whole sums must fit 32 bits: at most 255 per step.
      const bool small = static_cast<std::uint64_t>(steps.size()) * table_.steps <= (1u << 24);
      // Where a turned row goes, its column 0 at the right end.
      std::uint8_t* turned_out =
          turned_ ? out + (dst_x_ - column_begin_ - static_cast<std::int64_t>(n) + 1) : nullptr;
      if (table_.unit_weights && unit_rows && small) {
        if (WholeSums(steps, sum.data(), values, turned_out)) continue;
      } else {
        std::fill(sum_v_.begin(), sum_v_.end(), 0.0);
        std::fill(sum_w_.begin(), sum_w_.end(), 0.0);
        for (const RowStep& step : steps) {
          if (spread) {
            if (!spread_rows) spread_rows.emplace(src_, src_left_, table_);
            AccumulateSpread(spread_rows->Get(step.row), table_.weight.data(), table_.steps, n,
                             step.weight, sum_v_.data(), sum_w_.data());
          } else {
            AccumulateSparse(src_.Rows[step.row] + src_left_ + table_.first_column, table_,
                             step.weight, sum_v_.data(), sum_w_.data());
          }
        }
        FinishRow(sum_v_.data(), sum_w_.data(), n, to_nearest_, values);
      }
      // Column c goes to dst_x - (column_begin + c): the row reversed.
      if (turned_) ReverseRow(values, n, turned_out);
    }
  }

 private:
  // (r × SrcHeight) / DstHeight: an integer product, one division in double.
  double RowEnd(std::int64_t r) const {
    return static_cast<double>(r * src_height_) / static_cast<double>(dst_height_);
  }

  // The source rows of the span [y0, y1) that lie inside the source view
  // and have a row slot.
  void RowSteps(double y0, double y1, std::vector<RowStep>& steps) const {
    steps.clear();
    if (table_.steps == 0) return;
    WalkSpan(y0, y1, -static_cast<std::int64_t>(src_top_),
             static_cast<std::int64_t>(src_.Height) - src_top_, [&](std::int64_t k, double wy) {
               const std::int64_t row = src_top_ + k;
               if (src_.Rows[row]) steps.push_back({row, wy});
             });
  }

  // Fills `values`, or for a halving writes a turned row straight to
  // `turned_out` and answers true.
  bool WholeSums(const std::vector<RowStep>& steps, std::uint32_t* sum, std::uint8_t* values,
                 std::uint8_t* turned_out) {
    const std::size_t n = table_.columns;
    if (table_.regular && table_.stride == 2 && steps.size() == 2) {
      const std::size_t offset = static_cast<std::size_t>(src_left_ + table_.first_column) +
                                 static_cast<std::size_t>(table_.base[0]);
      const std::uint8_t* top = src_.Rows[steps[0].row] + offset;
      const std::uint8_t* bottom = src_.Rows[steps[1].row] + offset;
      if (turned_out) {
        HalveRowsTurned(top, bottom, n, turned_out);
        return true;
      }
      HalveRows(top, bottom, n, values);
      return false;
    }
    std::fill(sum, sum + n, 0u);
    for (const RowStep& step : steps) {
      const std::uint8_t* row = src_.Rows[step.row] + src_left_ + table_.first_column;
      if (table_.regular) {
        row += table_.base[0];
        switch (table_.stride) {
          case 1:
            SumRegular<1>(row, n, 1, sum);
            break;
          case 2:
            SumRegular<2>(row, n, 2, sum);
            break;
          default:
            SumRegular<0>(row, n, table_.stride, sum);
            break;
        }
      } else {
        SumIrregular(row, table_, sum);
      }
    }
    const std::uint64_t rows = steps.size();
    if (table_.regular) {
      const std::uint64_t count = rows * static_cast<std::uint64_t>(table_.stride);
      if (count != 0 && (count & (count - 1)) == 0 && count <= (1u << 16)) {
        FinishPowerOfTwo(sum, n, std::countr_zero(count), values);
        return false;
      }
    }
    for (std::size_t c = 0; c < n; ++c) {
      sum_v_[c] = static_cast<double>(sum[c]);
      sum_w_[c] = static_cast<double>(rows * static_cast<std::uint64_t>(table_.count[c]));
    }
    FinishRow(sum_v_.data(), sum_w_.data(), n, to_nearest_, values);
    return false;
  }

  const TRowView& dst_;
  const TRowView& src_;
  const std::int64_t dst_x_, dst_y_;
  const bool turned_;
  const std::int32_t src_left_, src_top_, dst_height_, src_height_;
  const Range rows_;
  const ColumnTable table_;
  const std::int64_t column_begin_;
  std::vector<double> sum_v_, sum_w_;
  const bool to_nearest_ = std::fegetround() == FE_TONEAREST;
};

// Whole reduction factors with both rectangles inside their views: source columns c × fx to c × fx
// + fx - 1 and rows r × fy to r × fy + fy - 1 under destination pixel (c, r), each with weight
// exactly 1 (the ratios and spans are whole numbers in double), so whole sums
// give the algorithm's values without tables. Answers false, touching
// nothing, when the call does not have that shape.
bool WholeFactors(const TRowView& dst, const TRowView& src, std::int64_t dst_x, std::int64_t dst_y,
                  bool turned, std::int64_t src_left, std::int64_t src_top, std::int64_t dst_width,
                  std::int64_t dst_height, std::int64_t src_width, std::int64_t src_height) {
  if (src_width < dst_width || src_height < dst_height || src_width % dst_width != 0 ||
      src_height % dst_height != 0) {
    return false;
  }
  const std::int64_t fx = src_width / dst_width;
  const std::int64_t fy = src_height / dst_height;
  if (fx * fy > (1 << 24)) return false;
  if (src_left < 0 || src_top < 0 || src_left + src_width > src.Width ||
      src_top + src_height > src.Height) {
    return false;
  }
  const std::int64_t left = turned ? dst_x - dst_width + 1 : dst_x;
  const std::int64_t top = turned ? dst_y - dst_height + 1 : dst_y;
  if (left < 0 || top < 0 || left + dst_width > dst.Width || top + dst_height > dst.Height) {
    return false;
  }
  for (std::int64_t k = src_top; k < src_top + src_height; ++k)
    if (!src.Rows[k]) return false;
  for (std::int64_t k = top; k < top + dst_height; ++k)
    if (!dst.Rows[k]) return false;

  const auto n = static_cast<std::size_t>(dst_width);
  const std::int64_t count = fx * fy;
  const bool power_of_two = (count & (count - 1)) == 0;
  std::vector<std::uint32_t> sum(fx == 2 && fy == 2 ? 0 : n);
  std::vector<std::uint8_t> values(turned ? n : 0);
  std::vector<double> sum_v(power_of_two ? 0 : n), sum_w(power_of_two ? 0 : n);
  const bool to_nearest = std::fegetround() == FE_TONEAREST;
  for (std::int64_t r = 0; r < dst_height; ++r) {
    std::uint8_t* out = dst.Rows[turned ? dst_y - r : dst_y + r] + left;
    const std::uint8_t* const* rows = src.Rows + src_top + r * fy;
    if (fx == 2 && fy == 2) {
      if (turned) {
        HalveRowsTurned(rows[0] + src_left, rows[1] + src_left, n, out);
      } else {
        HalveRows(rows[0] + src_left, rows[1] + src_left, n, out);
      }
      continue;
    }
    std::uint8_t* target = turned ? values.data() : out;
    std::fill(sum.begin(), sum.end(), 0u);
    for (std::int64_t i = 0; i < fy; ++i) {
      const std::uint8_t* row = rows[i] + src_left;
      const auto stride = static_cast<std::int32_t>(fx);
      switch (fx) {
        case 1:
          SumRegular<1>(row, n, 1, sum.data());
          break;
        case 2:
          SumRegular<2>(row, n, 2, sum.data());
          break;
        default:
          SumRegular<0>(row, n, stride, sum.data());
          break;
      }
    }
    if (power_of_two) {
      FinishPowerOfTwo(sum.data(), n, std::countr_zero(static_cast<std::uint64_t>(count)), target);
    } else {
      for (std::size_t c = 0; c < n; ++c) {
        sum_v[c] = static_cast<double>(sum[c]);
        sum_w[c] = static_cast<double>(count);
      }
      FinishRow(sum_v.data(), sum_w.data(), n, to_nearest, target);
    }
    if (turned) ReverseRow(values.data(), n, out);
  }
  return true;
}

void Resample(const TRowView* dst, const TRowView* src, std::int64_t dst_x, std::int64_t dst_y,
              bool turned, std::int32_t src_left, std::int32_t src_top, std::int32_t dst_width,
              std::int32_t dst_height, std::int32_t src_width, std::int32_t src_height) {
  if (!dst || !src || dst_width <= 0 || dst_height <= 0) return;
  if (WholeFactors(*dst, *src, dst_x, dst_y, turned, src_left, src_top, dst_width, dst_height,
                   src_width, src_height)) {
    return;
  }
  Resampler(*dst, *src, dst_x, dst_y, turned, src_left, src_top, dst_width, dst_height, src_width,
            src_height)
      .Run();
}

}  // namespace

void ResampleArea(const TRowView* dst, const TRowView* src, std::int32_t DstLeft,
                  std::int32_t DstTop, std::int32_t SrcLeft, std::int32_t SrcTop,
                  std::int32_t DstWidth, std::int32_t DstHeight, std::int32_t SrcWidth,
                  std::int32_t SrcHeight) {
  Resample(dst, src, DstLeft, DstTop, false, SrcLeft, SrcTop, DstWidth, DstHeight, SrcWidth,
           SrcHeight);
}

void ResampleAreaTurned(const TRowView* dst, const TRowView* src, std::int32_t DstRight,
                        std::int32_t DstBottom, std::int32_t SrcLeft, std::int32_t SrcTop,
                        std::int32_t DstWidth, std::int32_t DstHeight, std::int32_t SrcWidth,
                        std::int32_t SrcHeight) {
  Resample(dst, src, DstRight, DstBottom, true, SrcLeft, SrcTop, DstWidth, DstHeight, SrcWidth,
           SrcHeight);
}

}  // namespace dactyra
