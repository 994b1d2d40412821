// Images per second through VXR_GetImage from a simulated sensor that
// answers at once, against the same exchanges made directly with the host
// calls over the same transport: the cost of the plug-in front. Also the
// shortest direct cycle (fewer exchanges than the protocol's re-arm makes)
// and the exchanges per delivered image of each arming scheme, counted on
// an in-process sensor.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/testing/temp_folder.h"
#include "plugins/interface/vxr_plugin.h"
#include "plugins/lumidigm/front/lumidigm_front.h"
#include "plugins/lumidigm/tests/fake_sensor.h"
#include "plugins/lumidigm/transport/open_transport.h"
#include "plugins/lumidigm/v100/host_calls.h"
#include "platform/testing/child_process.h"

namespace {

using dactyra::platform::testing::ChildProcess;
namespace v100 = dactyra::v100;

constexpr int kWidth = 352, kHeight = 544;

// A private runtime with one simulated sensor of the configured size whose
// statuses after each arming move on at once.
struct SensorRuntime {
  SensorRuntime() {
    setenv("DACTYRA_RUNTIME", root.c_str(), 1);
    setenv("DACTYRA_DEVICES", (root + "/devices").c_str(), 1);
    setenv("DACTYRA_PIPES", (root + "/pipes").c_str(), 1);
    // The device and pipe folders are made, private, on first use.
    sensor = std::make_unique<ChildProcess>(
        V100_SENSOR_PATH,
        std::vector<std::string>{"--name", "bench", "--width", std::to_string(kWidth), "--height",
                                 std::to_string(kHeight), "--statuses1", "4,0"});
    sensor->WaitReady();
  }
  ~SensorRuntime() { sensor.reset(); }
  dactyra::platform::testing::TempFolder folder{"vxr-bench"};
  std::string root = folder.path();
  std::unique_ptr<ChildProcess> sensor;
};

void BM_PluginGetImage(benchmark::State& state) {
  SensorRuntime runtime;
  auto module =
      dactyra::platform::Env::Default().LoadModule(dactyra::platform::FromUtf8(VXR_LUMIDIGM_PATH));
  auto list = module->Function<TFuncVXR_GetDeviceList>("VXR_GetDeviceList");
  auto open = module->Function<TFuncVXR_OpenDevice>("VXR_OpenDevice");
  auto size_of = module->Function<TFuncVXR_GetMaxSize>("VXR_GetMaxSize");
  auto image = module->Function<TFuncVXR_GetImage>("VXR_GetImage");
  auto close = module->Function<TFuncVXR_CloseDevice>("VXR_CloseDevice");
  std::vector<uint8_t> block(256);
  list(reinterpret_cast<PVxrDeviceList>(block.data()), 256);
  TVxrCaptureHandle h = open("123400AB");
  TVxrImageSize size{};
  if (!h || !size_of(h, &size)) {
    state.SkipWithError("no sensor");
    return;
  }
  std::vector<uint8_t> buffer(sizeof(TVxrImage) + size.ByteSize);
  int64_t images = 0, calls = 0;
  for (auto _ : state) {
    do {
      ++calls;
    } while (!image(h, reinterpret_cast<PVxrImage>(buffer.data())));
    ++images;
  }
  close(h);
  state.SetItemsProcessed(images);
  state.counters["calls_per_image"] = static_cast<double>(calls) / images;
}
BENCHMARK(BM_PluginGetImage)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peer: the very exchanges VXR_GetImage makes for one image (scheme 1)
// with the host calls over a transport opened directly: poll to 4, poll to
// 0, fetch the image, then the re-arm (read and write the settings, disarm,
// settle, arm type 1). What the two differ by is the cost of the front.
void BM_DirectSameExchanges(benchmark::State& state) {
  SensorRuntime runtime;
  v100::TransportTable transports(dactyra::platform::Env::Default());
  v100::V100TransportInfo info;
  if (transports.OpenTransport(info) != 0) {
    state.SkipWithError("no sensor");
    return;
  }
  std::vector<uint8_t> pixels(kWidth * kHeight);
  v100::ArmTrigger(info, 1);
  int64_t images = 0;
  for (auto _ : state) {
    uint32_t status = 1;
    while (v100::GetAcqStatus(info, status) == 0 && status != 4) {
    }
    while (v100::GetAcqStatus(info, status) == 0 && status != 0) {
    }
    int32_t leading = 0;
    uint32_t length = 0;
    v100::V100CmdSettings settings;
    if (v100::GetCompositeImage(info, leading, length, pixels) != 0 ||
        v100::GetCmd(info, settings) != 0) {
      state.SkipWithError("no image");
      break;
    }
    settings.SetField16(2, 0);
    settings.SetField16(20, 0);
    v100::SetCmd(info, settings);
    v100::ArmTrigger(info, 0);
    while (v100::GetAcqStatus(info, status) == 0 && status != 0 && status != 10) {
    }
    v100::ArmTrigger(info, 1);
    ++images;
  }
  transports.CloseTransport(info);
  state.SetItemsProcessed(images);
}
BENCHMARK(BM_DirectSameExchanges)->Unit(benchmark::kMillisecond)->UseRealTime();

// The shortest cycle a host could make outside the protocol's re-arm: arm
// type 1, poll to 4 and to 0, fetch the image (four exchanges where the
// plug-in's state machine makes eight). Shown for comparison.
void BM_DirectExecute(benchmark::State& state) {
  SensorRuntime runtime;
  v100::TransportTable transports(dactyra::platform::Env::Default());
  v100::V100TransportInfo info;
  if (transports.OpenTransport(info) != 0) {
    state.SkipWithError("no sensor");
    return;
  }
  std::vector<uint8_t> pixels(kWidth * kHeight);
  int64_t images = 0;
  for (auto _ : state) {
    v100::ArmTrigger(info, 1);
    uint32_t status = 1;
    while (v100::GetAcqStatus(info, status) == 0 && status != 4) {
    }
    while (v100::GetAcqStatus(info, status) == 0 && status != 0) {
    }
    int32_t leading = 0;
    uint32_t length = 0;
    if (v100::GetCompositeImage(info, leading, length, pixels) != 0) {
      state.SkipWithError("no image");
      break;
    }
    ++images;
  }
  transports.CloseTransport(info);
  state.SetItemsProcessed(images);
}
BENCHMARK(BM_DirectExecute)->Unit(benchmark::kMillisecond)->UseRealTime();

// Exchanges per delivered image, per arming scheme, on an in-process sensor
// whose statuses move on at once.
void BM_ExchangesPerImage(benchmark::State& state) {
  const bool scheme1 = state.range(0) == 1;
  dactyra::lumidigm::testing::FakeSensors sensors;
  auto s = std::make_shared<dactyra::lumidigm::testing::FakeSensor>();
  if (scheme1) {
    s->config.SetField16(dactyra::v100::V100Config::kVendorOffset, 0x0525);
    s->config.SetField16(dactyra::v100::V100Config::kProductOffset, 0x3424);
  }
  s->config.SetField16(dactyra::v100::V100Config::kWidthOffset, kWidth);
  s->config.SetField16(dactyra::v100::V100Config::kHeightOffset, kHeight);
  s->image.assign(kWidth * kHeight, 0x80);
  sensors.sensors = {s};
  dactyra::lumidigm::LumidigmFront front(sensors);
  std::vector<uint8_t> block(256);
  front.GetDeviceList(reinterpret_cast<PVxrDeviceList>(block.data()), 256);
  auto* d = front.OpenDevice("00000000");
  TVxrImageSize size{};
  front.GetMaxSize(d, &size);
  std::vector<uint8_t> buffer(sizeof(TVxrImage) + size.ByteSize);
  // Arm once: a status, then the settle's 0.
  s->statuses = {0, 0};
  front.GetImage(d, reinterpret_cast<PVxrImage>(buffer.data()));
  const size_t before = s->received().size();
  int64_t images = 0;
  for (auto _ : state) {
    // Status 4 moves the armed device on (scheme 4 settles once more on 0),
    // status 0 brings the image, the re-arm settles on 0.
    s->statuses = scheme1 ? std::deque<uint32_t>{4, 0, 0} : std::deque<uint32_t>{4, 0, 0, 0};
    while (!front.GetImage(d, reinterpret_cast<PVxrImage>(buffer.data()))) {
    }
    ++images;
  }
  const size_t exchanges = s->received().size() - before;
  front.CloseDevice(d);
  state.counters["exchanges_per_image"] = static_cast<double>(exchanges) / images;
}
BENCHMARK(BM_ExchangesPerImage)->Arg(1)->Arg(4);

}  // namespace

BENCHMARK_MAIN();
