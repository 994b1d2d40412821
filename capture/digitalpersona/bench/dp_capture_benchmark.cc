// Latency of an image through the binding, from the stand-in posting it (or
// signalling it) to the image procedure returning: the DPFPApi message path,
// with the specified 10 ms sleep between dispatches and with a 10 ms wait on
// the queue instead, and the dpFpFns event path; beside them the resampling
// alone on the same image. Median and 99th percentile in microseconds.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/digitalpersona/binding.h"
#include "capture/digitalpersona/scan_man.h"
#include "platform/env.h"
#include "sim/fingerprint/fingerprint.h"

namespace dactyra::capture::digitalpersona {
namespace {

uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

class BenchEnv : public platform::EnvWrapper {
 public:
  explicit BenchEnv(bool dpfpapi) : EnvWrapper(platform::Env::Default()), dpfpapi_(dpfpapi) {}
  std::unique_ptr<platform::Module> LoadModule(const platform::Text& file,
                                               platform::Module::Search search,
                                               platform::Text* error) override {
    const bool wanted = dpfpapi_ ? file == u"DPFPApi.so" : file == u"dpFpFns.so";
    if (!wanted) return nullptr;
    return target().LoadModule(platform::FromUtf8(DACTYRA_DP_SIM_DIR "/") + file, search, error);
  }

 private:
  bool dpfpapi_;
};

std::atomic<uint64_t> g_returned_ns{0};
std::atomic<uint64_t> g_images{0};

void DP_STDCALL Proc(const char*, int32_t, int32_t, const uint8_t* image, int32_t, void*) {
  benchmark::DoNotOptimize(image[0]);
  g_returned_ns.store(NowNs());
  g_images.fetch_add(1);
}

void Report(benchmark::State& state, std::vector<double>& us) {
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  state.counters["median_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

void WriteConfig(const char* library) {
  const std::string path = std::string(DACTYRA_DP_SIM_DIR) + "/bench.conf";
  std::ofstream(path, std::ios::trunc) << "[reader]\nlibrary = " << library
                                       << "\nguid = 000000000000000000000000000000b1\n"
                                          "devid = 177\nid = {B1}\nproduct = U.are.U Reader\n"
                                          "width = 450\nheight = 511\nseed = 11\n";
  setenv("DACTYRA_DP_SIM", path.c_str(), 1);
}

// One image at a time: post, wait for the procedure to return, measure.
void RunPath(benchmark::State& state, bool dpfpapi) {
  WriteConfig(dpfpapi ? "dpfpapi" : "dpfpfns");
  BenchEnv env(dpfpapi);
  if (!SMLoad(env)) {
    state.SkipWithError("stand-in not loaded");
    return;
  }
  const auto sim = env.target().LoadModule(
      platform::FromUtf8(DACTYRA_DP_SIM_DIR) + (dpfpapi ? u"/DPFPApi.so" : u"/dpFpFns.so"),
      platform::Module::Search::kDefault, nullptr);
  using TriggerFn = int32_t (*)();
  using PostFn = uint64_t (*)();
  const auto trigger = sim->Function<TriggerFn>(dpfpapi ? "DPSim_Trigger" : "FTSim_Trigger");
  const auto posted = sim->Function<PostFn>(dpfpapi ? "DPSim_LastPostNs" : "FTSim_LastPostNs");
  if (SMStartCapture(u"UareU\\B1", &Proc, nullptr, nullptr) != kSMOk) {
    state.SkipWithError("no capture");
    SMUnload();
    return;
  }
  std::vector<double> us;
  for (auto _ : state) {
    const uint64_t before = g_images.load();
    while (trigger() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    while (g_images.load() == before) std::this_thread::yield();
    us.push_back(static_cast<double>(g_returned_ns.load() - posted()) / 1000.0);
    // Posts land at any point of the message thread's 10 ms cycle.
    state.PauseTiming();
    std::this_thread::sleep_for(std::chrono::microseconds(1000 + (us.size() * 3137) % 9000));
    state.ResumeTiming();
  }
  SMStopCapture(u"UareU\\B1");
  SMUnload();
  Report(state, us);
}

void BM_MessagePathSleep10ms(benchmark::State& state) {
  g_wait_on_message_queue = false;
  RunPath(state, true);
  g_wait_on_message_queue = true;
}

void BM_MessagePathWait10ms(benchmark::State& state) {
  g_wait_on_message_queue = true;
  RunPath(state, true);
}

void BM_EventPath(benchmark::State& state) { RunPath(state, false); }

// The resampling alone, 450 x 511 (448 x 511 used) to 320 x 365.
void BM_ResampleOnly(benchmark::State& state) {
  const auto source = sim::fingerprint::Finger::Generate(11).Render(450, 511).pixels;
  std::vector<uint8_t> out(320 * 365);
  std::vector<double> us;
  for (auto _ : state) {
    const uint64_t start = NowNs();
    FitImage(out.data(), 320, 365, source.data(), 450, 511, 448, 511, false);
    benchmark::DoNotOptimize(out.data());
    us.push_back(static_cast<double>(NowNs() - start) / 1000.0);
  }
  Report(state, us);
}

BENCHMARK(BM_MessagePathSleep10ms)->Iterations(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MessagePathWait10ms)->Iterations(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EventPath)->Iterations(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ResampleOnly)->Iterations(300)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace dactyra::capture::digitalpersona

BENCHMARK_MAIN();
