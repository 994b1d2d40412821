// The synthetic fingers of the matcher's tests, each grown once per test
// program: growing is most of a case's time under the sanitizers, and the
// gallery and comparison tests draw on the same seeds.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "sim/fingerprint/fingerprint.h"

namespace dactyra::matching::testing {

inline const sim::fingerprint::Finger& FingerOf(uint64_t seed) {
  static std::map<uint64_t, sim::fingerprint::Finger> made;
  static std::mutex lock;
  std::lock_guard hold(lock);
  auto it = made.find(seed);
  if (it == made.end()) it = made.emplace(seed, sim::fingerprint::Finger::Generate(seed)).first;
  return it->second;
}

}  // namespace dactyra::matching::testing
