// A runtime of a test's own: a temporary folder that holds the named
// objects, the device-interface folder and the named-pipe folder (and the
// serial links), so that tests and the stand-ins they start share nothing
// with other tests. Removed again with the fixture.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/testing/temp_folder.h"

namespace dactyra::v100::testing {

// The device path of the stand-in sensor `name` (v100_sensor --name): its
// folder in the device-interface folder, or on Windows, where a program
// cannot add a device to SetupAPI's list, its named pipes.
inline std::string SensorDevicePath(const std::string& name) {
#ifdef _WIN32
  return "\\\\.\\pipe\\dactyra-devices\\{06B62F68-E35E-4F57-8BE2-A5BC6CCCC708}\\" + name;
#else
  return "\\\\?\\" + name;
#endif
}

class PrivateRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::make_unique<platform::testing::TempFolder>("v100");
    root_ = folder_->path();
    setenv("DACTYRA_RUNTIME", root_.c_str(), 1);
    setenv("DACTYRA_SERIAL", root_.c_str(), 1);
    setenv("DACTYRA_DEVICES", (root_ + "/devices").c_str(), 1);
    setenv("DACTYRA_PIPES", (root_ + "/pipes").c_str(), 1);
    unsetenv("XDClientName");
    // Private, as every folder these variables name must be.
    for (const char* folder : {"/devices", "/pipes"}) {
      ASSERT_TRUE(std::filesystem::create_directory(root_ + folder));
      std::filesystem::permissions(root_ + folder, std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::replace);
    }
  }
  void TearDown() override { folder_.reset(); }

  std::unique_ptr<platform::testing::TempFolder> folder_;
  std::string root_;
};

}  // namespace dactyra::v100::testing
