// Test support for the reader plug-in tests: a private control folder for the
// test plug-in copies, their configuration and their call logs.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/text.h"

namespace dactyra::testing {

// Paths of the built plug-in copies.
std::string PluginPath(const std::string& file_name);

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the configuration of the copy whose file name (without
  // extension) is `stem`.
  void Configure(const std::string& stem, const std::string& config);
  // The call log of that copy, one entry per line.
  std::vector<std::string> Log(const std::string& stem) const;
  // How many log lines begin with `start`.
  int CountCalls(const std::string& stem, const std::string& start) const;
  // Waits (a few seconds at most) until a line beginning with `start` has
  // been logged `count` times.
  bool WaitForCalls(const std::string& stem, const std::string& start, int count = 1) const;

  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

platform::Text T(const std::string& utf8);

// The message of the library exception `action` raises, or "(no error)".
std::string MessageOf(const std::function<void()>& action);

}  // namespace dactyra::testing
