// A runtime of a test's own: a temporary folder that holds the named
// objects, the device-interface folder and the named-pipe folder (and the
// serial links), so that tests and the stand-ins they start share nothing
// with other tests. Removed again with the fixture.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace dactyra::v100::testing {

class PrivateRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "v100-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    setenv("DACTYRA_RUNTIME", root_.c_str(), 1);
    setenv("DACTYRA_SERIAL", root_.c_str(), 1);
    setenv("DACTYRA_DEVICES", (root_ + "/devices").c_str(), 1);
    setenv("DACTYRA_PIPES", (root_ + "/pipes").c_str(), 1);
    unsetenv("XDClientName");
    std::filesystem::create_directories(root_ + "/devices");
    std::filesystem::create_directories(root_ + "/pipes");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::string root_;
};

}  // namespace dactyra::v100::testing
