// vxr_virdi.so's exports, called as the library calls them, against the
// UCBioBSP stand-in. The plug-in's state lives as long as this process, so
// every test here sees the same readers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/module.h"
#include "plugins/interface/vxr_plugin.h"
#include "plugins/virdi/tests/virdi_fixture.h"
#include "sim/virdi/ucbiobsp_sim.h"

namespace dactyra::virdi::testing {
namespace {

using ::testing::ElementsAre;

constexpr const char* kReaders =
    "reader=1 320x480 name=Alpha\n"
    "reader=200 320x480 name=Hidden\n"
    "reader=2 300x400 seed=21 name=Twin\n"
    "reader=3 300x400 seed=22 name=Twin\n"
    "reader=255 320x480 name=Reserved\n"
    "reader=4 320x480 capture=noframe frames=5 frame_ms=20 name=Empty\n";

struct Exports {
  TFuncVXR_GetPrefix GetPrefix;
  TFuncVXR_GetDeviceList GetDeviceList;
  TFuncVXR_OpenDevice OpenDevice;
  TFuncVXR_CloseDevice CloseDevice;
  TFuncVXR_GetMaxSize GetMaxSize;
  TFuncVXR_GetImage GetImage;
};

// Loaded once and kept, as the library keeps an accepted plug-in.
const platform::Module* Plugin() {
  static const std::unique_ptr<platform::Module> module =
      platform::Env::Default().LoadModule(platform::FromUtf8(DACTYRA_VIRDI_PLUGIN));
  return module.get();
}

class VirdiExportsTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    Configure(kReaders);
    ASSERT_NE(Plugin(), nullptr);
    x_ = {Plugin()->Function<TFuncVXR_GetPrefix>("VXR_GetPrefix"),
          Plugin()->Function<TFuncVXR_GetDeviceList>("VXR_GetDeviceList"),
          Plugin()->Function<TFuncVXR_OpenDevice>("VXR_OpenDevice"),
          Plugin()->Function<TFuncVXR_CloseDevice>("VXR_CloseDevice"),
          Plugin()->Function<TFuncVXR_GetMaxSize>("VXR_GetMaxSize"),
          Plugin()->Function<TFuncVXR_GetImage>("VXR_GetImage")};
    ASSERT_TRUE(x_.GetPrefix && x_.GetDeviceList && x_.OpenDevice && x_.CloseDevice &&
                x_.GetMaxSize && x_.GetImage);
  }
  Exports x_{};
};

TEST_F(VirdiExportsTest, ExportsTheSixFunctionsOnly) {
  EXPECT_STREQ(x_.GetPrefix(), "ViRDI");
  EXPECT_EQ(x_.GetPrefix(), x_.GetPrefix());
  for (const char* absent : {"VXR_ShutdownDevice", "VXR_SendCommand", "VXR_GetResult",
#ifndef _WIN32
                             "_VXR_GetImage@8",
#endif
                             "_VXR_GetImage@16"}) {
    EXPECT_EQ(Plugin()->Symbol(absent), nullptr) << absent;
  }
#ifdef _WIN32
  // A DLL carries each under its stdcall name too, as the system's own
  // plug-ins do (the .def file), bound to the same function.
  struct Decorated {
    const char* name;
    void* plain;
  };
  for (const Decorated d : {Decorated{"_VXR_GetPrefix@0", reinterpret_cast<void*>(x_.GetPrefix)},
                            {"_VXR_GetDeviceList@8", reinterpret_cast<void*>(x_.GetDeviceList)},
                            {"_VXR_OpenDevice@4", reinterpret_cast<void*>(x_.OpenDevice)},
                            {"_VXR_CloseDevice@4", reinterpret_cast<void*>(x_.CloseDevice)},
                            {"_VXR_GetMaxSize@8", reinterpret_cast<void*>(x_.GetMaxSize)},
                            {"_VXR_GetImage@8", reinterpret_cast<void*>(x_.GetImage)}}) {
    EXPECT_EQ(Plugin()->Symbol(d.name), d.plain) << d.name;
  }
#endif
}

TEST_F(VirdiExportsTest, TheLibrarysTwoStepListing) {
  const std::vector<std::string> listed = {"Alpha", "Twin", "Twin", "Reserved", "Empty"};
  for (int32_t small = 0; small < 4; ++small) {
    uint8_t untouched[8];
    std::memset(untouched, 0xAB, sizeof(untouched));
    EXPECT_EQ(x_.GetDeviceList(reinterpret_cast<PVxrDeviceList>(untouched), small), 4);
    for (uint8_t byte : untouched) EXPECT_EQ(byte, 0xAB);
  }
  TVxrDeviceList block{};
  const int32_t needed = x_.GetDeviceList(&block, sizeof(block));
  EXPECT_EQ(needed, ListSize(listed));
  EXPECT_EQ(block.NumDevices, listed.size());
  std::vector<uint8_t> buffer(static_cast<size_t>(needed), 0);
  EXPECT_EQ(x_.GetDeviceList(reinterpret_cast<PVxrDeviceList>(buffer.data()), needed), needed);
  EXPECT_EQ(Serials(buffer.data(), buffer.size()), listed);
}

TEST_F(VirdiExportsTest, OpensCapturesAndClosesAReader) {
  EXPECT_EQ(x_.OpenDevice("twin"), nullptr);
  EXPECT_EQ(x_.OpenDevice("Hidden"), nullptr);
  EXPECT_EQ(x_.OpenDevice("Reserved"), nullptr);
  TVxrCaptureHandle handle = x_.OpenDevice("Twin");
  ASSERT_NE(handle, nullptr);
  TVxrImageSize size{};
  ASSERT_NE(x_.GetMaxSize(handle, &size), VXR_FALSE);
  EXPECT_EQ(size.Width, 300);
  EXPECT_EQ(size.Height, 400);
  EXPECT_EQ(size.ByteSize, 120000);
  std::vector<uint8_t> buffer(sizeof(TVxrImage) + static_cast<size_t>(size.ByteSize));
  auto* image = reinterpret_cast<PVxrImage>(buffer.data());
  for (int round = 0; round < 2; ++round) {
    std::fill(buffer.begin(), buffer.end(), 0);
    ASSERT_NE(x_.GetImage(handle, image), VXR_FALSE);
    EXPECT_EQ(image->Size.Width, 300);
    EXPECT_EQ(image->Size.Height, 400);
    EXPECT_EQ(image->Size.ByteSize, 120000);
    EXPECT_EQ(image->Format, 0);
    EXPECT_EQ(image->Resolution, 500);
    // The first of the two readers named "Twin" (seed 21), its last frame.
    const std::vector<uint8_t> pixels(buffer.begin() + sizeof(TVxrImage), buffer.end());
    EXPECT_TRUE(pixels == LastFrame(21, 300, 400));
  }
  EXPECT_EQ(Calls("UCBioAPI_Capture"), 2u);
  EXPECT_EQ(Calls("UCBioAPI_FreeFIRHandle"), 2u);
  EXPECT_NE(x_.CloseDevice(handle), VXR_FALSE);
  // Closed: refused, not read, and UCBioBSP not asked.
  const uint32_t closes = Calls("UCBioAPI_CloseDevice");
  EXPECT_EQ(x_.CloseDevice(handle), VXR_FALSE);
  EXPECT_EQ(x_.GetMaxSize(handle, &size), VXR_FALSE);
  EXPECT_EQ(x_.GetImage(handle, image), VXR_FALSE);
  EXPECT_EQ(Calls("UCBioAPI_CloseDevice"), closes);
  EXPECT_EQ(Calls("UCBioAPI_Capture"), 2u);
}

TEST_F(VirdiExportsTest, NoFingerIsFalseAsSoonAsTheCaptureEnds) {
  TVxrCaptureHandle handle = x_.OpenDevice("Empty");
  ASSERT_NE(handle, nullptr);
  std::vector<uint8_t> buffer(sizeof(TVxrImage) + 320 * 480, 0x5A);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(x_.GetImage(handle, reinterpret_cast<PVxrImage>(buffer.data())), VXR_FALSE);
  const auto took = std::chrono::steady_clock::now() - start;
  // Five empty frames 20 ms apart: done when the stand-in is, long before
  // the 3000 ms time-out.
  EXPECT_GE(took, std::chrono::milliseconds(100));
  EXPECT_LT(took, std::chrono::milliseconds(2500));
  for (uint8_t byte : buffer) ASSERT_EQ(byte, 0x5A);
  EXPECT_EQ(Calls("UCBioAPI_FreeFIRHandle"), 1u);
  EXPECT_NE(x_.CloseDevice(handle), VXR_FALSE);
}

TEST_F(VirdiExportsTest, NullAndForeignHandlesAreRefusedWithoutAUCBioBSPCall) {
  int32_t foreign[4] = {0x1234, 0, 0, 0};
  TVxrImageSize size{};
  std::vector<uint8_t> buffer(sizeof(TVxrImage) + 16);
  auto* image = reinterpret_cast<PVxrImage>(buffer.data());
  for (TVxrCaptureHandle handle :
       {static_cast<TVxrCaptureHandle>(nullptr), reinterpret_cast<TVxrCaptureHandle>(foreign)}) {
    EXPECT_EQ(x_.CloseDevice(handle), VXR_FALSE);
    EXPECT_EQ(x_.GetMaxSize(handle, &size), VXR_FALSE);
    EXPECT_EQ(x_.GetImage(handle, image), VXR_FALSE);
  }
  for (const char* function : {"UCBioAPI_CloseDevice", "UCBioAPI_Capture"}) {
    EXPECT_EQ(Calls(function), 0u) << function;
  }
}

}  // namespace
}  // namespace dactyra::virdi::testing
