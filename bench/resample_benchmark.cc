// ResampleArea and ResampleAreaTurned side by side with OpenCV's INTER_AREA
// (one thread) on the same pictures and sizes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "imaging/resample.h"
#include "imaging/row_view.h"

namespace {

struct Case {
  int src_width, src_height, dst_width, dst_height;
};

// 0: the DigitalPersona size (factor 1.4), 1: an odd width, 2: halving.
constexpr Case kCases[] = {{448, 511, 320, 365}, {450, 511, 321, 365}, {448, 512, 224, 256}};

// A fingerprint-like picture: curved ridges with some noise.
std::vector<std::uint8_t> Picture(int width, int height) {
  std::vector<std::uint8_t> pixels(static_cast<size_t>(width) * height);
  std::mt19937 random(42);
  std::uniform_int_distribution<int> noise(-20, 20);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = x - width / 2.0, dy = y - height / 2.0;
      const double v = 128 + 100 * std::sin(std::sqrt(dx * dx + dy * dy) * 0.6 + dx * 0.01);
      pixels[static_cast<size_t>(y) * width + x] =
          static_cast<std::uint8_t>(std::clamp(static_cast<int>(v) + noise(random), 0, 255));
    }
  }
  return pixels;
}

void Label(benchmark::State& state, const Case& c) {
  state.SetLabel(std::to_string(c.src_width) + "x" + std::to_string(c.src_height) + "->" +
                 std::to_string(c.dst_width) + "x" + std::to_string(c.dst_height));
  state.SetItemsProcessed(state.iterations() * c.dst_width * c.dst_height);
}

template <bool kTurned>
void BM_Dactyra(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  std::vector<std::uint8_t> source = Picture(c.src_width, c.src_height);
  std::vector<std::uint8_t> target(static_cast<size_t>(c.dst_width) * c.dst_height);
  const dactyra::RowViewPtr src = dactyra::MakeRowView(c.src_width, c.src_height, source.data());
  const dactyra::RowViewPtr dst = dactyra::MakeRowView(c.dst_width, c.dst_height, target.data());
  for (auto _ : state) {
    if (kTurned) {
      dactyra::ResampleAreaTurned(dst.get(), src.get(), c.dst_width - 1, c.dst_height - 1, 0, 0,
                                  c.dst_width, c.dst_height, c.src_width, c.src_height);
    } else {
      dactyra::ResampleArea(dst.get(), src.get(), 0, 0, 0, 0, c.dst_width, c.dst_height,
                            c.src_width, c.src_height);
    }
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  Label(state, c);
}

void BM_OpenCV_INTER_AREA(benchmark::State& state) {
  cv::setNumThreads(1);
  const Case& c = kCases[state.range(0)];
  std::vector<std::uint8_t> source = Picture(c.src_width, c.src_height);
  const cv::Mat src(c.src_height, c.src_width, CV_8UC1, source.data());
  cv::Mat dst(c.dst_height, c.dst_width, CV_8UC1);
  for (auto _ : state) {
    cv::resize(src, dst, dst.size(), 0, 0, cv::INTER_AREA);
    benchmark::DoNotOptimize(dst.data);
    benchmark::ClobberMemory();
  }
  Label(state, c);
}

}  // namespace

BENCHMARK(BM_Dactyra<false>)->Name("ResampleArea")->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Dactyra<true>)
    ->Name("ResampleAreaTurned")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenCV_INTER_AREA)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
