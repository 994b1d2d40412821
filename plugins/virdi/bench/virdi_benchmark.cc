// The Virdi plug-in's cost per image (capture options, the callback's frame
// copies, the image record) against the UCBioBSP stand-in's own capture
// time, for a 320 x 480 reader that shows three frames per capture. The
// stand-in's capture alone, with a callback that keeps nothing, is the
// floor; VXR_GetImage through the loaded plug-in adds the plug-in's work.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/module.h"
#include "platform/testing/temp_folder.h"
#include "plugins/interface/vxr_plugin.h"
#include "plugins/virdi/ucbiobsp.h"
#include "sim/virdi/ucbiobsp_sim.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 480;

// The stand-in's configuration: one reader of that size.
class Config {
 public:
  Config() {
    const std::string file = dir_ + "/UCBioBSP.conf";
    std::ofstream(file) << "reader=1 " << kWidth << "x" << kHeight << " frames=3 name=Bench\n";
    setenv("DACTYRA_UCBIOBSP_CONFIG", file.c_str(), 1);
    UCBioSim_Reset();
  }

 private:
  dactyra::platform::testing::TempFolder folder_{"dactyra-virdi-bench"};
  const std::string dir_ = folder_.path();
};

uint32_t UCBIOAPI_CALL KeepNothing(const UCBioAPI_CALLBACK_DATA* data, void* user) {
  benchmark::DoNotOptimize(data);
  benchmark::DoNotOptimize(user);
  return 0;
}

void BM_StandInCapture(benchmark::State& state) {
  Config config;
  UCBioAPI_HANDLE sdk = 0;
  if (UCBioAPI_Init(&sdk) != UCBIOAPI_OK || UCBioAPI_OpenDevice(sdk, 1) != UCBIOAPI_OK) {
    state.SkipWithError("stand-in not ready");
    return;
  }
  UCBioAPI_CAPTURE_OPTIONS options{};
  options.Length = sizeof(options);
  options.Mode = 1;
  options.Callback = &KeepNothing;
  for (auto _ : state) {
    UCBioAPI_FIR_HANDLE fir = 0;
    if (UCBioAPI_Capture(sdk, UCBIOAPI_PURPOSE_CAPTURE, &fir, UCBIOAPI_CAPTURE_TIMEOUT_MS, nullptr,
                         &options) != UCBIOAPI_OK) {
      state.SkipWithError("capture failed");
      break;
    }
    UCBioAPI_FreeFIRHandle(fir);
  }
  UCBioAPI_CloseDevice(sdk, 1);
  state.SetBytesProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_StandInCapture);

void BM_PluginGetImage(benchmark::State& state) {
  Config config;
  const auto plugin = dactyra::platform::Env::Default().LoadModule(
      dactyra::platform::FromUtf8(DACTYRA_VIRDI_PLUGIN));
  if (!plugin) {
    state.SkipWithError("plug-in not loaded");
    return;
  }
  const auto open = plugin->Function<TFuncVXR_OpenDevice>("VXR_OpenDevice");
  const auto close = plugin->Function<TFuncVXR_CloseDevice>("VXR_CloseDevice");
  const auto max_size = plugin->Function<TFuncVXR_GetMaxSize>("VXR_GetMaxSize");
  const auto get_image = plugin->Function<TFuncVXR_GetImage>("VXR_GetImage");
  TVxrCaptureHandle handle = open("Bench");
  TVxrImageSize size{};
  if (!handle || !max_size(handle, &size)) {
    state.SkipWithError("reader not opened");
    return;
  }
  std::vector<uint8_t> buffer(sizeof(TVxrImage) + static_cast<size_t>(size.ByteSize));
  for (auto _ : state) {
    if (!get_image(handle, reinterpret_cast<PVxrImage>(buffer.data()))) {
      state.SkipWithError("no image");
      break;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  close(handle);
  state.SetBytesProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_PluginGetImage);

}  // namespace

BENCHMARK_MAIN();
