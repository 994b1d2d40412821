// Waiting in tests for what another thread or process brings about: a
// bounded poll instead of a fixed sleep, so a fast machine does not wait and
// a loaded one does not fail a correct program.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace dactyra::platform::testing {

// How long a test waits for what a correct program does at once: ample on a
// loaded 2-core CI machine, and still an end when the program is wrong.
inline constexpr std::chrono::seconds kPatience{30};

// Polls `done` about every millisecond until it holds or `limit` has passed;
// answers whether it held (asked once more at the end, so a condition that
// became true during the last pause counts).
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = kPatience) {
  const auto give_up = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < give_up) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

}  // namespace dactyra::platform::testing
