// vxr_virdi.so through the library's plug-in module, copied into a folder
// with and without UCBioBSP.so beside it. This executable does not link
// UCBioBSP: the plug-in has to find it itself, through its $ORIGIN run path.
// The test without the library comes first, since once a copy of UCBioBSP
// is loaded the dynamic loader would hand it to any later plug-in too (ctest
// runs each test in a process of its own anyway).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/vxr/vxr_capture_module.h"
#include "platform/env.h"
#include "platform/module.h"
#include "platform/text.h"
#include "sim/virdi/ucbiobsp_sim.h"
#include "support/exception.h"

namespace dactyra::virdi::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace fs = std::filesystem;

platform::Text T(const std::string& utf8) { return platform::FromUtf8(utf8); }

class VirdiModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "dactyra-virdi-module-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string Copy(const char* file) {
    const fs::path to = fs::path(dir_) / fs::path(file).filename();
    fs::copy_file(file, to);
    return to.string();
  }
  std::string dir_;
};

TEST_F(VirdiModuleTest, WithoutUCBioBSPThePluginIsNotLoadedAndOthersStillAre) {
  const std::string plugin = Copy(DACTYRA_VIRDI_PLUGIN);
  std::string message;
  try {
    TVxrCaptureModule module(T("virdi"), T(plugin));
    ADD_FAILURE() << "loaded without UCBioBSP.so";
  } catch (const Exception& e) {
    message = platform::ToUtf8(e.message());
  }
  EXPECT_THAT(message, HasSubstr("UCBioBSP.so"));
  // Another plug-in loads as before.
  TVxrCaptureModule other(T("test"), T(DACTYRA_TEST_PLUGIN));
  EXPECT_EQ(other.DeviceCount(), 0);
}

TEST_F(VirdiModuleTest, BesideUCBioBSPItsReadersAreListedOpenedAndCaptured) {
  const std::string config = dir_ + "/UCBioBSP.conf";
  std::ofstream(config) << "reader=1 320x480 name=Alpha\n"
                           "reader=200 320x480 name=Hidden\n"
                           "reader=2 300x400 seed=21 name=Twin\n"
                           "reader=3 300x400 seed=22 name=Twin\n";
  ASSERT_EQ(setenv("DACTYRA_UCBIOBSP_CONFIG", config.c_str(), 1), 0);
  const std::string plugin = Copy(DACTYRA_VIRDI_PLUGIN);
  const std::string library = Copy(DACTYRA_UCBIOBSP);

  auto module = std::make_unique<TVxrCaptureModule>(T("virdi"), T(plugin));
  // The copy the plug-in loaded, reached for its controls.
  const std::unique_ptr<platform::Module> sim = platform::Env::Default().LoadModule(T(library));
  ASSERT_NE(sim, nullptr);
  const auto count = sim->Function<uint32_t (*)(const char*)>("UCBioSim_Count");
  ASSERT_NE(count, nullptr);

  EXPECT_EQ(module->Prefix(), u"ViRDI");
  EXPECT_EQ(module->DeviceCount(), 3);
  std::vector<platform::Text> names;
  EXPECT_EQ(module->GetDeviceList(names), 3);
  EXPECT_THAT(names, ElementsAre(u"ViRDI\\Alpha", u"ViRDI\\Twin", u"ViRDI\\Twin"));
  // Counting and listing a moment apart: one enumeration.
  EXPECT_EQ(count("UCBioAPI_EnumerateDevice"), 1u);

  std::string refused;
  try {
    module->OpenDevice(u"twin");
  } catch (const Exception& e) {
    refused = platform::ToUtf8(e.message());
  }
  EXPECT_EQ(refused, "Could not open device ViRDI\\twin");

  std::unique_ptr<TVxCaptureDevice> device = module->OpenDevice(u"Twin");
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> seen;
  device->SetOnImage([&](TVxCaptureDevice& sender) {
    const uint8_t* pixels = sender.ImageBuffer();
    seen.assign(pixels, pixels + sender.ImageWidth() * sender.ImageHeight());
  });
  device->Allocate();
  ASSERT_TRUE(device->WaitImage());
  device->DoImage();
  EXPECT_EQ(device->ImageWidth(), 300);
  EXPECT_EQ(device->ImageHeight(), 400);
  // The first "Twin" (seed 21), its last frame.
  EXPECT_TRUE(seen == sim::virdi::FramePixels(21, 300, 400, 2));
  device->Close();
  device.reset();
  module.reset();

  EXPECT_EQ(count("UCBioAPI_Capture"), 1u);
  EXPECT_EQ(count("UCBioAPI_FreeFIRHandle"), 1u);
  EXPECT_EQ(count("open devices"), 0u);
  EXPECT_EQ(count("violations"), 0u);
}

}  // namespace
}  // namespace dactyra::virdi::testing
