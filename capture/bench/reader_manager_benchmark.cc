// What counting and naming readers costs: a folder of 5 plug-ins, 3 FPSmm
// modules and the DigitalPersona stand-in, the first call (loading every
// module) and later calls, the Java way (the count, then each name by
// index). And the FPSmm image path, from the module's callback to the
// device's OnImage, against a bare copy of the image.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_device.h"
#include "capture/fpsmm/fpsmm_capture_device.h"
#include "capture/fpsmm/fpsmm_capture_module.h"
#include "capture/reader_manager.h"
#include "platform/env.h"
#include "platform/testing/temp_folder.h"

namespace {

using dactyra::platform::FromUtf8;
using dactyra::platform::Text;
using dactyra::platform::ToUtf8;

// A folder of module copies, the stand-ins' configurations, and an Env that
// puts the host program there and finds bare module names there first (as
// Windows' loader looks in the program's folder first).
class Folder : public dactyra::platform::EnvWrapper {
 public:
  Folder() : EnvWrapper(dactyra::platform::Env::Default()) {
    setenv("VXR_TEST_DIR", dir_.c_str(), 1);
    setenv("FPSMM_SIM_CONFIG", (dir_ + "/fpsmm.conf").c_str(), 1);
    setenv("DACTYRA_DP_SIM", (dir_ + "/dp.conf").c_str(), 1);
    for (int i = 0; i < 5; ++i) {
      const std::string stem = "vxr_p" + std::to_string(i);
      Copy(std::string(DACTYRA_TEST_PLUGIN_DIR) + "/vxr_test.so", stem + ".so");
      std::ofstream(dir_ + "/" + stem + ".conf")
          << "prefix=P" << i << "\ndevice=0000000" << i << "\ndevice=1000000" << i
          << "\nfrozen=1\nquiet=1\n";
    }
    std::ofstream fpsmm(dir_ + "/fpsmm.conf");
    fpsmm << "quiet=1\nimages=0\n";
    for (const char* name : {"Alpha", "Beta", "Gamma"}) {
      Copy(DACTYRA_FPSMM_SIM, std::string("FPSmm") + name + ".so");
      std::string lower = name;
      for (char& c : lower) c = static_cast<char>(std::tolower(c));
      fpsmm << "[FPSmm" << name << "]\nid=" << lower << "\\A1\nid=" << lower << "\\B2\n";
    }
    Copy(std::string(DACTYRA_DP_SIM_DIR) + "/DPFPApi.so", "DPFPApi.so");
    std::ofstream(dir_ + "/dp.conf") << "[reader]\nlibrary = dpfpapi\n"
                                        "guid = 000102030405060708090A0B0C0D0E0F\n"
                                        "id = {CAFE}\nproduct = U.are.U 4000B\n";
  }

  Text ExecutablePath() override { return FromUtf8(dir_ + "/java"); }
  Text ModuleFileNameOf(const void*) override { return FromUtf8(dir_ + "/libdactyra.so"); }
  std::unique_ptr<dactyra::platform::Module> LoadModule(const Text& file,
                                                        dactyra::platform::Module::Search search,
                                                        Text* error) override {
    if (file.find(u'/') == Text::npos && FileExists(FromUtf8(dir_ + "/") + file)) {
      return target().LoadModule(FromUtf8(dir_ + "/") + file, search, error);
    }
    return target().LoadModule(file, search, error);
  }
  const std::string& dir() const { return dir_; }

 private:
  void Copy(const std::string& from, const std::string& name) {
    std::filesystem::copy_file(from, dir_ + "/" + name,
                               std::filesystem::copy_options::overwrite_existing);
  }
  dactyra::platform::testing::TempFolder folder_{"dactyra-bench"};
  const std::string dir_ = folder_.path();
};

// The count, then every name by index, as the Java scanner list asks.
int CountAndName(dactyra::TVxGestorLeitores& manager) {
  const int32_t count = manager.ContarLeitores();
  for (int32_t i = 0; i < count; ++i) benchmark::DoNotOptimize(manager.PegNumSerieLeitor(i));
  return count;
}

void FirstCall(benchmark::State& state) {
  Folder folder;
  int count = 0;
  for (auto _ : state) {
    // Every module file is loaded, initialised and asked, then unloaded
    // again outside the timing.
    auto manager = std::make_unique<dactyra::TVxGestorLeitores>(true, folder);
    count = CountAndName(*manager);
    state.PauseTiming();
    dactyra::TLeitoresUareU::Padrao().Descarregar();
    manager.reset();
    state.ResumeTiming();
  }
  state.counters["readers"] = count;
}
BENCHMARK(FirstCall)->Unit(benchmark::kMillisecond);

void LaterCalls(benchmark::State& state) {
  Folder folder;
  dactyra::TVxGestorLeitores manager(true, folder);
  int count = CountAndName(manager);
  for (auto _ : state) count = CountAndName(manager);
  state.counters["readers"] = count;
  dactyra::TLeitoresUareU::Padrao().Descarregar();
}
BENCHMARK(LaterCalls)->Unit(benchmark::kMicrosecond);

const std::pair<int32_t, int32_t> kImageSizes[] = {{320, 480}, {1000, 1000}};

// The FPSmm image callback's work on an open device, with a handler that
// reads one pixel.
void FpsmmImagePath(benchmark::State& state) {
  Folder folder;
  const auto [w, h] = kImageSizes[state.range(0)];
  dactyra::TFPSmmCaptureModule module(u"alpha", FromUtf8(folder.dir() + "/FPSmmAlpha.so"), folder);
  auto device = module.OpenDevice(u"A1");
  auto& fpsmm = static_cast<dactyra::TFPsmmCaptureDeviceImpl&>(*device);
  uint8_t seen = 0;
  device->SetOnImage([&](dactyra::TVxCaptureDevice& sender) { seen = sender.ImageBuffer()[0]; });
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * h, 0x5A);
  for (auto _ : state) {
    fpsmm.ImagemRecebida(w, h, pixels.data());
    benchmark::DoNotOptimize(seen);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * w * h);
  device->Close();
}
BENCHMARK(FpsmmImagePath)->Arg(0)->Arg(1);

// The floor: the same pixels copied into a buffer of the same size.
void BareCopy(benchmark::State& state) {
  const auto [w, h] = kImageSizes[state.range(0)];
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * h, 0x5A);
  std::vector<uint8_t> buffer(20 + pixels.size());
  for (auto _ : state) {
    std::memcpy(buffer.data() + 20, pixels.data(), pixels.size());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * w * h);
}
BENCHMARK(BareCopy)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
