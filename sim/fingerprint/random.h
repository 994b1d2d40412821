// The generator's random numbers: splitmix64, small, fast, and the same
// sequence on every platform (the standard distributions are not).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace dactyra::sim::fingerprint {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed ^ 0x6a09e667f3bcc909ull) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
  double Gaussian() {
    const double u1 = std::max(Uniform(), 1e-300), u2 = Uniform();
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2);
  }

 private:
  uint64_t state_;
};

}  // namespace dactyra::sim::fingerprint
