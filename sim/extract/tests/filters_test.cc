// The fast filters against their plain transcriptions, bit for bit, on
// pictures of random values and sizes that are not multiples of a cell.
#include "sim/extract/filters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "sim/extract/tests/filters_reference.h"

namespace dactyra::sim::extract {
namespace {

std::vector<float> RandomPicture(std::mt19937& rng, int w, int h) {
  std::uniform_real_distribution<float> gray(0, 255);
  std::vector<float> px(static_cast<size_t>(w) * h);
  for (auto& v : px) v = gray(rng);
  return px;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(Filters, GaussianBlurMatchesThePlainOne) {
  std::mt19937 rng(1);
  for (const double sigma : {0.4, 1.0, 2.5, 3.0})
    for (const auto& [w, h] : {std::pair{37, 23}, std::pair{5, 40}, std::pair{1, 1}}) {
      auto fast = RandomPicture(rng, w, h), plain = fast;
      GaussianBlur(fast.data(), w, h, sigma);
      reference::GaussianBlur(plain, w, h, sigma);
      EXPECT_TRUE(SameBits(fast, plain)) << "sigma " << sigma << ", " << w << "x" << h;
    }
}

TEST(Filters, FilterByCellsMatchesThePlainOne) {
  std::mt19937 rng(2);
  std::uniform_int_distribution<int> offset(-9, 9), count(1, 25);
  std::uniform_real_distribution<float> weight(-1, 1);
  std::vector<Kernel> kernels(6);
  for (auto& k : kernels)
    for (int n = count(rng); n > 0; --n) k.push_back({offset(rng), offset(rng), weight(rng)});
  for (const auto& [w, h] : {std::pair{45, 38}, std::pair{12, 9}, std::pair{3, 2}}) {
    const int cw = (w + 3) / 4, ch = (h + 3) / 4;
    std::vector<const Kernel*> cells(static_cast<size_t>(cw) * ch);
    for (size_t i = 0; i < cells.size(); ++i)
      cells[i] = i % 7 == 3 ? nullptr : &kernels[i % kernels.size()];  // some cells off
    const auto src = RandomPicture(rng, w, h);
    std::vector<float> fast(src.size(), -1);
    FilterByCells(src.data(), w, h, 4, cells, fast.data());
    EXPECT_TRUE(SameBits(fast, reference::FilterByCells(src, w, h, 4, cells))) << w << "x" << h;
  }
}

TEST(Filters, ThinningMatchesThePlainOne) {
  std::mt19937 rng(3);
  for (const auto& [w, h, sigma] : {std::tuple{64, 50, 1.5}, std::tuple{31, 77, 3.0}}) {
    // Blobs and strokes: smoothed noise cut at its middle.
    auto px = RandomPicture(rng, w, h);
    reference::GaussianBlur(px, w, h, sigma);
    std::vector<uint8_t> fast(px.size());
    for (size_t i = 0; i < px.size(); ++i) fast[i] = px[i] > 127.5f;
    auto plain = fast;
    ThinZhangSuen(fast.data(), w, h);
    reference::ThinZhangSuen(plain, w, h);
    EXPECT_EQ(fast, plain) << w << "x" << h;
    EXPECT_GT(std::count(fast.begin(), fast.end(), 1), 20) << "nothing left to compare";
  }
}

}  // namespace
}  // namespace dactyra::sim::extract
