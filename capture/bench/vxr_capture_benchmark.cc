// The cost the plug-in device adds to each image: WaitImage and DoImage over
// the test plug-in against the same plug-in's VXR_GetImage called directly.
// The plug-in runs with a frozen configuration and no call log, so what it
// does per image is a lock and the pixel writes.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/vxr/vxr_capture_module.h"
#include "platform/env.h"
#include "platform/testing/temp_folder.h"
#include "plugins/interface/vxr_plugin.h"

namespace {

std::string PluginFile() { return std::string(DACTYRA_TEST_PLUGIN_DIR) + "/vxr_test.so"; }

// A control folder for the plug-in with the given image size.
class Control {
 public:
  explicit Control(const std::string& size) {
    setenv("VXR_TEST_DIR", dir_.c_str(), 1);
    std::ofstream(dir_ + "/vxr_test.conf")
        << "prefix=Bench\ndevice=B1\nmax=" << size << "\nimages=-1\nfrozen=1\nquiet=1\n";
  }

 private:
  dactyra::platform::testing::TempFolder folder_{"dactyra-bench"};
  const std::string dir_ = folder_.path();
};

const char* kSizes[] = {"4x3", "352x288"};

void DirectGetImage(benchmark::State& state) {
  Control control(kSizes[state.range(0)]);
  auto module =
      dactyra::platform::Env::Default().LoadModule(dactyra::platform::FromUtf8(PluginFile()));
  auto open = module->Function<TFuncVXR_OpenDevice>("VXR_OpenDevice");
  auto close = module->Function<TFuncVXR_CloseDevice>("VXR_CloseDevice");
  auto max_size = module->Function<TFuncVXR_GetMaxSize>("VXR_GetMaxSize");
  auto get_image = module->Function<TFuncVXR_GetImage>("VXR_GetImage");
  TVxrCaptureHandle handle = open("B1");
  TVxrImageSize size{};
  max_size(handle, &size);
  std::vector<uint8_t> buffer(sizeof(TVxrImage) + size.ByteSize);
  for (auto _ : state) {
    benchmark::DoNotOptimize(get_image(handle, reinterpret_cast<PVxrImage>(buffer.data())));
    benchmark::DoNotOptimize(buffer[sizeof(TVxrImage)]);
  }
  close(handle);
}

void DeviceWaitAndDeliver(benchmark::State& state) {
  Control control(kSizes[state.range(0)]);
  dactyra::TVxrCaptureModule module(u"bench", dactyra::platform::FromUtf8(PluginFile()));
  auto device = module.OpenDevice(u"B1");
  uint8_t seen = 0;
  device->SetOnImage([&](dactyra::TVxCaptureDevice& sender) { seen = sender.ImageBuffer()[0]; });
  device->Allocate();
  for (auto _ : state) {
    if (device->WaitImage()) device->DoImage();
    benchmark::DoNotOptimize(seen);
  }
  device->Close();
}

BENCHMARK(DirectGetImage)->Arg(0)->Arg(1);
BENCHMARK(DeviceWaitAndDeliver)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
