// vxr_lumidigm.so through the library: the reader manager finds it in a
// module folder, names its sensors "Lumidigm\<serial>", and scanner
// components capture from them, the sensors running as processes of their
// own behind USB pipes or behind the device service. Every delivered image
// is compared with the finger the simulated sensor renders.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/reader_manager.h"
#include "capture/tests/environment_key.h"
#include "capture/vxr/vxr_capture_module.h"
#include "platform/env.h"
#include "platform/registry.h"
#include "platform/testing/child_process.h"
#include "platform/testing/wait.h"
#include "plugins/lumidigm/tests/private_runtime.h"
#include "scanning/reader_access.h"
#include "scanning/velmora_fp.h"
#include "sim/fingerprint/fingerprint.h"

namespace dactyra {
namespace {

using platform::Text;
using platform::testing::ChildProcess;
using platform::testing::WaitUntil;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

std::vector<uint8_t> Finger(uint64_t seed) {
  return sim::fingerprint::Finger::Generate(seed).Render(kWidth, kHeight).pixels;
}

// Names the module folder as the "Environment" key of the current user
// would (DACTYRA_MODULE_PATH), through the Env seam.
class ModuleFolderEnv : public platform::EnvWrapper {
 public:
  explicit ModuleFolderEnv(Text folders)
      : EnvWrapper(platform::Env::Default()), folders_(std::move(folders)) {}

  std::unique_ptr<platform::RegistryKey> OpenRegistryKey(platform::RegistryRoot root,
                                                         const Text& path) override {
    if (root != platform::RegistryRoot::kCurrentUser || path != u"Environment") {
      return EnvWrapper::OpenRegistryKey(root, path);
    }
    return std::make_unique<dactyra::testing::ModuleFoldersKey>(folders_);
  }

 private:
  Text folders_;
};

// The images one scanner delivered, sorted by the finger they show: the
// index of the expected finger they equal, or a mismatch.
class Received {
 public:
  explicit Received(std::vector<std::vector<uint8_t>> expected)
      : expected_(std::move(expected)), counts_(expected_.size()) {}

  void Take(const TGrayImage& image) {
    std::vector<uint8_t> pixels;
    pixels.reserve(static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height));
    pixels.insert(pixels.end(), image.Bits.Pixels().begin(), image.Bits.Pixels().end());
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < expected_.size(); ++i) {
      if (image.Width == kWidth && image.Height == kHeight && pixels == expected_[i]) {
        ++counts_[i];
        return;
      }
    }
    ++mismatches_;
  }
  int Count(size_t finger) {
    std::lock_guard lock(mutex_);
    return counts_[finger];
  }
  int Total() {
    std::lock_guard lock(mutex_);
    int n = mismatches_;
    for (int c : counts_) n += c;
    return n;
  }
  int Mismatches() {
    std::lock_guard lock(mutex_);
    return mismatches_;
  }

 private:
  std::mutex mutex_;
  const std::vector<std::vector<uint8_t>> expected_;
  std::vector<int> counts_;
  int mismatches_ = 0;
};

// How the plug-in reaches the sensors.
enum class Road { kUsb, kService };

struct SensorSpec {
  std::string name;        // device-interface name
  std::string serial_low;  // offset 4; offset 116 keeps the sensor's 0x1234
  uint64_t seed;
  std::vector<std::string> more;
};

class LumidigmScannerTest : public v100::testing::PrivateRuntimeTest,
                            public ::testing::WithParamInterface<Road> {
 protected:
  void SetUp() override {
    PrivateRuntimeTest::SetUp();
    // The module folder of an installation: a copy of the plug-in, found
    // through DACTYRA_MODULE_PATH (this program's folder holds no module).
    const std::filesystem::path modules = std::filesystem::path(root_) / "modules";
    std::filesystem::create_directories(modules);
    std::filesystem::copy_file(
        VXR_LUMIDIGM_PATH, modules / ("vxr_lumidigm" + platform::ToUtf8(platform::ModuleSuffix())));
    env_ = std::make_unique<ModuleFolderEnv>(platform::FromUtf8(modules.string()));
    // Behind the service the sensors sit in a device folder that only the
    // service sees, so nothing reaches them but the service's pipes.
    hidden_devices_ = root_ + "/service-devices";
    ASSERT_TRUE(std::filesystem::create_directory(hidden_devices_));
    std::filesystem::permissions(hidden_devices_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
  }
  void TearDown() override {
    sensors_.clear();
    service_.reset();
    PrivateRuntimeTest::TearDown();
  }

  // Starts a sensor program (with the environment of the road).
  std::unique_ptr<ChildProcess> StartSensor(const SensorSpec& s) {
    std::vector<std::string> args = {"--name",       s.name,
                                     "--serial-low", s.serial_low,
                                     "--width",      std::to_string(kWidth),
                                     "--height",     std::to_string(kHeight),
                                     "--finger",     std::to_string(s.seed)};
    args.insert(args.end(), s.more.begin(), s.more.end());
    return Spawn(V100_SENSOR_PATH, std::move(args));
  }

  // Starts the sensors and, on the service road, a device service that
  // relays a pipe of its own to each, as devices of kind 3.
  void StartReaders(const std::vector<SensorSpec>& specs) {
    for (const SensorSpec& s : specs) sensors_.push_back(StartSensor(s));
    if (GetParam() != Road::kService) return;
    std::vector<std::string> args;
    for (size_t i = 0; i < specs.size(); ++i) {
      args.push_back("--device");
      args.push_back("id=" + std::to_string(i + 1) + ",index=" + std::to_string(i) +
                     ",kind=3,status=0,pipe=Lumi" + specs[i].name +
                     ",second=Front,relay=" + v100::testing::SensorDevicePath(specs[i].name));
    }
    service_args_ = args;
    service_ = Spawn(DEVICE_SERVICE_PATH, std::move(args));
  }
  // Starts the device service again as StartReaders last started it.
  void RestartService() { service_ = Spawn(DEVICE_SERVICE_PATH, service_args_); }

  std::unique_ptr<ChildProcess> Spawn(const char* program, std::vector<std::string> args) {
    const bool hidden = GetParam() == Road::kService;
    if (hidden) setenv("DACTYRA_DEVICES", hidden_devices_.c_str(), 1);
    auto p = std::make_unique<ChildProcess>(program, std::move(args));
    if (hidden) setenv("DACTYRA_DEVICES", (root_ + "/devices").c_str(), 1);
    EXPECT_TRUE(p->WaitReady());
    return p;
  }

  // The device-interface folder of sensor `name` on this road.
  std::string DeviceFolder(const std::string& name) const {
    const std::string devices = GetParam() == Road::kService ? hidden_devices_ : root_ + "/devices";
    return devices + "/{06B62F68-E35E-4F57-8BE2-A5BC6CCCC708}/" + name;
  }

  std::unique_ptr<ModuleFolderEnv> env_;
  std::vector<std::unique_ptr<ChildProcess>> sensors_;
  std::unique_ptr<ChildProcess> service_;
  std::vector<std::string> service_args_;
  std::string hidden_devices_;
};

// A scanner component addressed by name, collecting what it delivers.
struct Scanner {
  Scanner(TAcessoLeitores& leitores, const Text& nome, std::vector<std::vector<uint8_t>> fingers)
      : received(std::move(fingers)), fp(leitores) {
    fp.SetIndiceLeitor(-1);
    fp.SetNumSerieLeitor(nome);
    fp.OnNovaImagem = [this](TVelmoraFP&, const TGrayImage* image) { received.Take(*image); };
  }
  void Start() { fp.SetModoOperacao(TModoOperacao::moDesenvolvimento); }
  void Stop() { fp.SetModoOperacao(TModoOperacao::moInativo); }

  // Declared first, so it outlives the component's capture thread.
  Received received;
  TVelmoraFP fp;
};

TEST_P(LumidigmScannerTest, TheManagerNamesTheSensorsAndScannersCaptureTheirFingers) {
  // One sensor of each arming scheme (0x0525/0x3424, and any other).
  StartReaders({{"sa", "0x0A01", 31, {}}, {"sb", "0x0A02", 32, {"--vendor", "0x1111"}}});

  TVxGestorLeitores gestor(true, *env_, TLeitoresUareU::Nenhum());
  const auto modulos = gestor.Modulos();
  ASSERT_EQ(modulos.size(), 1u);
  EXPECT_EQ(modulos[0]->Prefix(), u"Lumidigm");
  EXPECT_EQ(modulos[0]->Name(), u"lumidigm");
  ASSERT_EQ(gestor.ContarLeitores(), 2);
  EXPECT_EQ(gestor.PegNumSerieLeitor(0), u"Lumidigm\\12340A01");
  EXPECT_EQ(gestor.PegNumSerieLeitor(1), u"Lumidigm\\12340A02");
  EXPECT_EQ(gestor.PegNumSerieLeitor(2), u"");

  // Both at once, each on its own capture thread; every image must be the
  // finger of its own sensor.
  TAcessoGestor leitores(gestor);
  const std::vector<std::vector<uint8_t>> fingers = {Finger(31), Finger(32)};
  ASSERT_NE(fingers[0], fingers[1]);
  Scanner a(leitores, u"Lumidigm\\12340A01", fingers);
  Scanner b(leitores, u"lumidigm\\12340A02", fingers);  // the prefix in any case
  a.Start();
  b.Start();
  EXPECT_TRUE(a.fp.Ativo());
  EXPECT_TRUE(b.fp.Ativo());
  EXPECT_TRUE(WaitUntil([&] { return a.received.Count(0) >= 5 && b.received.Count(1) >= 5; }))
      << a.received.Count(0) << " and " << b.received.Count(1) << " images";
  a.Stop();
  b.Stop();
  EXPECT_EQ(a.received.Count(1), 0);
  EXPECT_EQ(b.received.Count(0), 0);
  EXPECT_EQ(a.received.Mismatches(), 0);
  EXPECT_EQ(b.received.Mismatches(), 0);

  // Stopped means stopped: no image after the mode change returned.
  const int after = a.received.Total() + b.received.Total();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(a.received.Total() + b.received.Total(), after);

  // A second activation of the same reader captures again.
  a.Start();
  const int before = a.received.Count(0);
  EXPECT_TRUE(WaitUntil([&] { return a.received.Count(0) >= before + 2; }));
  a.Stop();
  EXPECT_EQ(a.received.Mismatches(), 0);
}

TEST_P(LumidigmScannerTest, TheCaptureModuleDeliversTheSensorsPixels) {
  StartReaders({{"sc", "0x0C01", 33, {}}});
  TVxrCaptureModule modulo(u"lumidigm", platform::FromUtf8(VXR_LUMIDIGM_PATH));
  EXPECT_EQ(modulo.Prefix(), u"Lumidigm");
  std::vector<Text> lista;
  ASSERT_EQ(modulo.GetDeviceList(lista), 1);
  ASSERT_EQ(lista, std::vector<Text>{u"Lumidigm\\12340C01"});
  // Serials are matched with their letter case; a refused open raises.
  EXPECT_THROW(modulo.OpenDevice(u"12340c01"), Exception);
  auto device = modulo.OpenDevice(u"12340C01");
  ASSERT_NE(device, nullptr);
  device->Allocate();
  EXPECT_EQ(device->ImageWidth(), kWidth);
  EXPECT_EQ(device->ImageHeight(), kHeight);
  const std::vector<uint8_t> finger = Finger(33);
  for (int image = 0; image < 3; ++image) {
    int calls = 0;
    while (!device->WaitImage()) ASSERT_LT(++calls, 1000);
    EXPECT_GT(calls, 0) << "every image needs a new arming first";
    const uint8_t* pixels = device->ImageBuffer();
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + finger.size()), finger);
    device->DoImage();
  }
  device->Close();
  EXPECT_FALSE(device->WaitImage());
}

// How a sensor goes away in the middle of capturing: its program exits
// halfway through an answer or is killed, or (on the service road) the
// device service between the plug-in and the sensor is killed.
enum class Loss { kVanishesMidAnswer, kKilled, kServiceKilled };

TEST_P(LumidigmScannerTest, AVanishedSensorDeliversNothingAndCaptureResumesWhenItReturns) {
  std::vector<Loss> losses = {Loss::kVanishesMidAnswer, Loss::kKilled};
  if (GetParam() == Road::kService) losses.push_back(Loss::kServiceKilled);
  for (const Loss loss : losses) {
    SCOPED_TRACE(static_cast<int>(loss));
    // The third composite image is cut off halfway by the sensor's exit.
    std::vector<std::string> fault;
    if (loss == Loss::kVanishesMidAnswer) fault = {"--fault", "vanish@3#67"};
    sensors_.clear();
    service_.reset();
    StartReaders({{"sv", "0x0D01", 41, fault}});

    TVxGestorLeitores gestor(true, *env_, TLeitoresUareU::Nenhum());
    TAcessoGestor leitores(gestor);
    Scanner s(leitores, u"Lumidigm\\12340D01", {Finger(41), Finger(42)});
    s.Start();
    switch (loss) {
      case Loss::kVanishesMidAnswer:
        ASSERT_TRUE(WaitUntil([&] { return sensors_[0]->Exited(); }));
        EXPECT_EQ(s.received.Count(0), 2) << "the cut image is not delivered";
        break;
      case Loss::kKilled:
        ASSERT_TRUE(WaitUntil([&] { return s.received.Count(0) >= 2; }));
        sensors_[0]->Kill();
        break;
      case Loss::kServiceKilled:
        ASSERT_TRUE(WaitUntil([&] { return s.received.Count(0) >= 2; }));
        service_->Kill();
        break;
    }
    // Gone: the scanner stays active and delivers nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const int while_gone = s.received.Total();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(s.received.Total(), while_gone);
    EXPECT_TRUE(s.fp.Ativo());

    // Back (the sensor with another finger on it): capture goes on by
    // itself. A process that died leaves its device folder behind; the
    // system would have removed the interface of a device that went away.
    int expected_finger = 1;
    if (loss == Loss::kServiceKilled) {
      expected_finger = 0;
      RestartService();
    } else {
#ifndef _WIN32
      std::filesystem::remove_all(DeviceFolder("sv"));
#endif
      sensors_[0] = StartSensor({"sv", "0x0D01", 42, {}});
    }
    const int before = s.received.Count(expected_finger);
    EXPECT_TRUE(WaitUntil([&] { return s.received.Count(expected_finger) >= before + 3; }))
        << s.received.Count(expected_finger) - before << " images after the return";
    s.Stop();
    EXPECT_EQ(s.received.Mismatches(), 0);
  }
}

// Deactivating a scanner while its capture thread is inside an exchange
// (every status poll answered late) shuts the plug-in's device down without
// closing the transport under that exchange, and returns within the
// exchange's time.
TEST_P(LumidigmScannerTest, AScannerStopsWhileAnExchangeIsUnderWay) {
  StartReaders({{"ss", "0x0E01", 43, {"--fault", "slow:300#72"}}});
  TVxGestorLeitores gestor(true, *env_, TLeitoresUareU::Nenhum());
  TAcessoGestor leitores(gestor);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    Scanner s(leitores, u"Lumidigm\\12340E01", {Finger(43)});
    s.Start();
    // Into a status poll (the arming's polls come first).
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + 150 * round));
    const auto start = std::chrono::steady_clock::now();
    s.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(s.fp.Ativo());
    EXPECT_EQ(s.received.Mismatches(), 0);
  }
  // Nothing was left half-done: the next scanner gets the finger.
  Scanner s(leitores, u"Lumidigm\\12340E01", {Finger(43)});
  s.Start();
  EXPECT_TRUE(WaitUntil([&] { return s.received.Count(0) >= 1; }));
  s.Stop();
  EXPECT_EQ(s.received.Mismatches(), 0);
}

// Under Wine no USB sensor can be listed: the sensors are reached through
// the device service there.
#ifdef _WIN32
#define DACTYRA_ROADS ::testing::Values(Road::kService)
#else
#define DACTYRA_ROADS ::testing::Values(Road::kUsb, Road::kService)
#endif
INSTANTIATE_TEST_SUITE_P(Roads, LumidigmScannerTest, DACTYRA_ROADS,
                         [](const ::testing::TestParamInfo<Road>& info) {
                           return info.param == Road::kUsb ? "Usb" : "DeviceService";
                         });

}  // namespace
}  // namespace dactyra
