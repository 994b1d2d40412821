// Test support for the Virdi plug-in: the UCBioBSP stand-in configured from a
// private file, a clock the test sets, and readers' expected frames.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/testing/temp_folder.h"
#include "plugins/interface/vxr_plugin.h"

namespace dactyra::virdi::testing {

// The system, with a tick count the test sets.
class ManualClock : public platform::EnvWrapper {
 public:
  ManualClock() : EnvWrapper(platform::Env::Default()) {}
  uint32_t TickCount() override { return now.load(); }
  std::atomic<uint32_t> now{5000};
};

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Fails the test when the stand-in recorded a breach of its interface.
  void TearDown() override;

  // Replaces the stand-in's configuration and resets it.
  void Configure(const std::string& config);
  static uint32_t Calls(const char* function);

 private:
  std::unique_ptr<platform::testing::TempFolder> folder_;
  std::string dir_;
};

// The serials of a complete list block, in order.
std::vector<std::string> Serials(const uint8_t* block, size_t size);
// Bytes of a complete list with these names.
int32_t ListSize(const std::vector<std::string>& names);
// The frame a reader of the stand-in shows last in a capture.
std::vector<uint8_t> LastFrame(uint64_t seed, int width, int height, int frames = 3);

}  // namespace dactyra::virdi::testing
