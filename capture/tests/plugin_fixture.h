// Test support for the reader plug-in tests: a private control folder for the
// test plug-in copies, their configuration and their call logs.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/testing/temp_folder.h"
#include "platform/text.h"
#include "support/testing/message_of.h"

namespace dactyra::testing {

// Paths of the built plug-in copies.
std::string PluginPath(const std::string& file_name);

// A path or module file name written as on POSIX ("lib/vxr_a.so") in this
// system's form: on Windows a backslash for each '/' and ".dll" for a final
// ".so" (".DLL" for ".SO"), as the library's own paths and module searches
// have them; unchanged on POSIX. Tests write their names once, for both.
std::string Native(std::string path);

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
  // Waits (with the tests' patience) until a line beginning with `start` has
  // been logged `count` times.
  bool WaitForCalls(const std::string& stem, const std::string& start, int count = 1) const;

  const std::string& dir() const { return dir_; }

 private:
  std::unique_ptr<platform::testing::TempFolder> folder_;
  std::string dir_;
};

platform::Text T(const std::string& utf8);

}  // namespace dactyra::testing
