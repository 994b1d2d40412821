// vxr_lumidigm.so loaded as dactyra loads it, driving simulated sensors that
// run as processes of their own behind the device-interface folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "platform/testing/wait.h"
#include "plugins/interface/vxr_plugin.h"
#include "plugins/lumidigm/tests/private_runtime.h"
#include "sim/fingerprint/fingerprint.h"
#include "platform/testing/child_process.h"

namespace {

using dactyra::platform::Env;
using dactyra::platform::FromUtf8;
using dactyra::platform::testing::ChildProcess;

struct Plugin {
  std::unique_ptr<dactyra::platform::Module> module;
  TFuncVXR_GetPrefix get_prefix = nullptr;
  TFuncVXR_GetDeviceList get_device_list = nullptr;
  TFuncVXR_OpenDevice open_device = nullptr;
  TFuncVXR_CloseDevice shutdown_device = nullptr;
  TFuncVXR_CloseDevice close_device = nullptr;
  TFuncVXR_GetMaxSize get_max_size = nullptr;
  TFuncVXR_GetImage get_image = nullptr;
};

class VxrLumidigmTest : public dactyra::v100::testing::PrivateRuntimeTest {
 protected:
  void SetUp() override {
    PrivateRuntimeTest::SetUp();
    dactyra::platform::Text error;
    p_.module = Env::Default().LoadModule(FromUtf8(VXR_LUMIDIGM_PATH),
                                          dactyra::platform::Module::Search::kDefault, &error);
    ASSERT_NE(p_.module, nullptr);
    p_.get_prefix = p_.module->Function<TFuncVXR_GetPrefix>("VXR_GetPrefix");
    p_.get_device_list = p_.module->Function<TFuncVXR_GetDeviceList>("VXR_GetDeviceList");
    p_.open_device = p_.module->Function<TFuncVXR_OpenDevice>("VXR_OpenDevice");
    p_.shutdown_device = p_.module->Function<TFuncVXR_CloseDevice>("VXR_ShutdownDevice");
    p_.close_device = p_.module->Function<TFuncVXR_CloseDevice>("VXR_CloseDevice");
    p_.get_max_size = p_.module->Function<TFuncVXR_GetMaxSize>("VXR_GetMaxSize");
    p_.get_image = p_.module->Function<TFuncVXR_GetImage>("VXR_GetImage");
    ASSERT_TRUE(p_.get_prefix && p_.get_device_list && p_.open_device && p_.shutdown_device &&
                p_.close_device && p_.get_max_size && p_.get_image);
    ASSERT_EQ(p_.module->Symbol("VXR_SendCommand"), nullptr);
  }
  void TearDown() override {
    p_.module.reset();
    PrivateRuntimeTest::TearDown();
  }

  std::unique_ptr<ChildProcess> Sensor(const std::string& name, const std::string& serial_low,
                                     const std::string& finger,
                                     std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--name", name,       "--serial-low", serial_low, "--width",
                                     "160",    "--height", "120",          "--finger", finger};
    args.insert(args.end(), more.begin(), more.end());
    auto p = std::make_unique<ChildProcess>(V100_SENSOR_PATH, std::move(args));
    EXPECT_TRUE(p->WaitReady());
    return p;
  }

  std::vector<std::string> List() {
    std::vector<uint8_t> block(8);
    const int32_t needed = p_.get_device_list(reinterpret_cast<PVxrDeviceList>(block.data()), 8);
    block.assign(static_cast<size_t>(needed), 0);
    EXPECT_EQ(p_.get_device_list(reinterpret_cast<PVxrDeviceList>(block.data()), needed), needed);
    uint32_t n = 0;
    std::memcpy(&n, block.data(), 4);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < n; ++i) {
      const char* text = nullptr;
      std::memcpy(&text, block.data() + VXR_DEVICE_LIST_TEXT_OFFSET(i), sizeof text);
      names.emplace_back(text);
    }
    return names;
  }

  // Calls VXR_GetImage until it gives an image or `calls` run out.
  bool Capture(TVxrCaptureHandle h, const TVxrImageSize& size, std::vector<uint8_t>& pixels,
               int calls = 400) {
    std::vector<uint8_t> buffer(sizeof(TVxrImage) + size.ByteSize);
    for (int i = 0; i < calls; ++i) {
      if (p_.get_image(h, reinterpret_cast<PVxrImage>(buffer.data()))) {
        const auto* record = reinterpret_cast<const TVxrImage*>(buffer.data());
        EXPECT_EQ(record->Resolution, 500);
        EXPECT_EQ(record->Size.ByteSize, size.ByteSize);
        pixels.assign(buffer.begin() + sizeof(TVxrImage), buffer.end());
        return true;
      }
    }
    return false;
  }

  Plugin p_;
};

TEST_F(VxrLumidigmTest, ListsOpensAndCapturesTwoSensors) {
  EXPECT_STREQ(p_.get_prefix(), "Lumidigm");
  auto a = Sensor("a", "0x0001", "11");
  auto b = Sensor("b", "0x0002", "12", {"--vendor", "0x1111"});  // the type-4 arming scheme
  const std::vector<std::string> names = List();
  ASSERT_EQ(names, (std::vector<std::string>{"12340001", "12340002"}));
  EXPECT_EQ(p_.open_device("1234000A"), nullptr);
  for (const auto& [serial, seed] : {std::pair{"12340001", 11}, std::pair{"12340002", 12}}) {
    SCOPED_TRACE(serial);
    TVxrCaptureHandle h = p_.open_device(serial);
    ASSERT_NE(h, nullptr);
    TVxrImageSize size{};
    ASSERT_TRUE(p_.get_max_size(h, &size));
    EXPECT_EQ(size.Width, 160);
    EXPECT_EQ(size.Height, 120);
    std::vector<uint8_t> pixels;
    for (int image = 0; image < 2; ++image) {
      ASSERT_TRUE(Capture(h, size, pixels));
      EXPECT_EQ(pixels, dactyra::sim::fingerprint::Finger::Generate(seed).Render(160, 120).pixels);
    }
    EXPECT_TRUE(p_.shutdown_device(h));
    EXPECT_FALSE(Capture(h, size, pixels, 3));
    EXPECT_TRUE(p_.close_device(h));
  }
}

// A sensor that answers the polls after a disarm but never settles holds
// a VXR_GetImage call for the settle budget (2 s), not for ever; each
// call fails without arming, and a shutdown still ends it at once.
TEST_F(VxrLumidigmTest, ASensorThatNeverSettlesHoldsACallOnlyForTheBudget) {
  auto sensor = Sensor("u", "0x0044", "3", {"--statuses0", "1"});
  ASSERT_EQ(List(), std::vector<std::string>{"12340044"});
  TVxrCaptureHandle h = p_.open_device("12340044");
  ASSERT_NE(h, nullptr);
  TVxrImageSize size{};
  ASSERT_TRUE(p_.get_max_size(h, &size));
  std::vector<uint8_t> buffer(sizeof(TVxrImage) + size.ByteSize);
  for (int call = 0; call < 2; ++call) {
    SCOPED_TRACE(call);
    std::promise<bool> result;
    auto returned = result.get_future();
    const auto start = std::chrono::steady_clock::now();
    std::thread caller(
        [&] { result.set_value(p_.get_image(h, reinterpret_cast<PVxrImage>(buffer.data()))); });
    const bool in_time = returned.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!in_time) p_.shutdown_device(h);  // frees the caller before the test fails
    caller.join();
    ASSERT_TRUE(in_time) << "the call outlived its bound";
    EXPECT_FALSE(returned.get());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
  }
  // Shut down from another thread while a call polls: it ends at once.
  std::thread caller([&] { p_.get_image(h, reinterpret_cast<PVxrImage>(buffer.data())); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(p_.shutdown_device(h));
  caller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_TRUE(p_.close_device(h));
}

// A shutdown while a VXR_GetImage call on another thread waits for a
// sensor that answers every status poll 4 s late: the exchange under way is
// ended, not waited out, and the device disarmed and closed at once.
TEST_F(VxrLumidigmTest, AShutdownEndsAnExchangeWithALateSensor) {
  auto sensor = Sensor("l", "0x0066", "5", {"--fault", "slow:4000#72"});
  ASSERT_EQ(List(), std::vector<std::string>{"12340066"});
  TVxrCaptureHandle h = p_.open_device("12340066");
  ASSERT_NE(h, nullptr);
  TVxrImageSize size{};
  ASSERT_TRUE(p_.get_max_size(h, &size));
  std::vector<uint8_t> buffer(sizeof(TVxrImage) + size.ByteSize);
  std::thread caller([&] { p_.get_image(h, reinterpret_cast<PVxrImage>(buffer.data())); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // inside the first poll
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(p_.shutdown_device(h));
  const auto took = std::chrono::steady_clock::now() - start;
  caller.join();
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  EXPECT_TRUE(p_.close_device(h));
}

// A process that ends while one of its threads captures: the plug-in shuts
// the device down through its transports, which must still be there (ASan
// reports a use after free otherwise), and refuses the thread's further
// calls rather than let them onto freed memory. The process is a program
// of its own (exit_while_capturing.cc) that exits with 0 when it got that
// far.
TEST_F(VxrLumidigmTest, AProcessEndsWhileAThreadCaptures) {
  auto sensor = Sensor("x", "0x0055", "4");
  // Under ASan: what is looked for is a use after free; the leak check's
  // stop of the world trips over the thread still running at the very end.
  const char* asan = getenv("ASAN_OPTIONS");
  const std::string saved = asan ? asan : "";
  setenv("ASAN_OPTIONS", (saved + ":detect_leaks=0").c_str(), 1);
  ChildProcess probe(EXIT_PROBE_PATH, {VXR_LUMIDIGM_PATH, "12340055"});
  setenv("ASAN_OPTIONS", saved.c_str(), 1);
  EXPECT_TRUE(probe.WaitReady(20000));
  EXPECT_EQ(probe.Stop(), 0);
  // The sensor answers the next host.
  ASSERT_EQ(List(), std::vector<std::string>{"12340055"});
}

// However the sensor goes (its program ends, is killed, or exits halfway
// through sending a composite image), VXR_GetImage gives no image while it
// is away and captures again, on the same handle, once it is back.
TEST_F(VxrLumidigmTest, CaptureRecoversWhenTheSensorComesBack) {
  enum class Loss { kStopped, kKilled, kVanishesMidImage };
  // Each finger grown once: growing is most of this test's time under ASan.
  const auto before = dactyra::sim::fingerprint::Finger::Generate(5).Render(160, 120).pixels;
  const auto after = dactyra::sim::fingerprint::Finger::Generate(6).Render(160, 120).pixels;
  for (const Loss loss : {Loss::kStopped, Loss::kKilled, Loss::kVanishesMidImage}) {
    SCOPED_TRACE(static_cast<int>(loss));
    std::vector<std::string> fault;
    // The second composite image is cut off halfway by the program's exit.
    if (loss == Loss::kVanishesMidImage) fault = {"--fault", "vanish@2#67"};
    auto sensor = Sensor("s", "0x0033", "5", fault);
    ASSERT_EQ(List(), std::vector<std::string>{"12340033"});
    TVxrCaptureHandle h = p_.open_device("12340033");
    ASSERT_NE(h, nullptr);
    TVxrImageSize size{};
    ASSERT_TRUE(p_.get_max_size(h, &size));
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(Capture(h, size, pixels));
    EXPECT_EQ(pixels, before);

    switch (loss) {
      case Loss::kStopped:
        sensor->Stop();
        break;
      case Loss::kKilled:
        sensor->Kill();
        break;
      case Loss::kVanishesMidImage:
        // A few calls reach the cut image; each later one pauses while the
        // sensor is away, so hundreds would only wait.
        EXPECT_FALSE(Capture(h, size, pixels, 5)) << "the cut image is not delivered";
        EXPECT_TRUE(dactyra::platform::testing::WaitUntil([&] { return sensor->Exited(); }));
        break;
    }
    EXPECT_FALSE(Capture(h, size, pixels, 5)) << "no sensor, no image";
    // A program that died leaves its device folder; the system removes the
    // interface of a device that went away.
    std::filesystem::remove_all(root_ + "/devices/{06B62F68-E35E-4F57-8BE2-A5BC6CCCC708}/s");
    sensor = Sensor("s", "0x0033", "6");
    ASSERT_TRUE(Capture(h, size, pixels));
    EXPECT_EQ(pixels, after);
    EXPECT_TRUE(p_.close_device(h));
  }
}

}  // namespace
