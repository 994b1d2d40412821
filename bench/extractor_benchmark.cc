// Extraction through the library against calling the engine directly, on
// the same synthetic finger: the engine's own calls (defaults once; per
// image extract, export size, export, release) as the floor, and the
// library's extractor over them (handle check, registry read for the image
// log, work buffer, record allocation). The Java side of the comparison is
// NFExtractorBench (bench/java), run by the target run_extract_bench.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/env.h"
#include "platform/module.h"
#include "sim/extract/vx_extract.h"
#include "templates/extractor.h"
#include "templates/tests/finger_set.h"

namespace {

using namespace dactyra;

const sim::fingerprint::Impression& Finger() {
  static const auto impression = templates::testing::TestFinger(0);
  return impression;
}

std::unique_ptr<platform::Module> Engine() {
  auto module = platform::Env::Default().LoadModule(platform::FromUtf8(VX_OPEN_ENGINE_PATH));
  if (!module) {
    std::fprintf(stderr, "cannot load %s\n", VX_OPEN_ENGINE_PATH);
    std::abort();
  }
  return module;
}

void BM_EngineDirect(benchmark::State& state) {
  const auto module = Engine();
  const auto get_defaults = module->Function<VxGetDefaultConfigFn>("GetDefaultConfig");
  const auto extract = module->Function<VxExtractMinutiaeFn>("ExtractMinutiae");
  TVxExtractorConfiguration config;
  get_defaults(&config);
  const auto& imp = Finger();
  std::vector<uint8_t> binary(imp.pixels.size());
  for (auto _ : state) {
    VxTemplate* t = extract(imp.pixels.data(), imp.width, imp.height, &config, 0, binary.data());
    const int32_t size =
        t->Ops->ExportRecord(t, nullptr, imp.width, imp.height, 500, 500, 0, 0, 1, 1);
    std::vector<uint8_t> record(static_cast<size_t>(size));
    t->Ops->ExportRecord(t, record.data(), imp.width, imp.height, 500, 500, 0, 0, 1, 1);
    t->Ops->Release(t);
    benchmark::DoNotOptimize(record.data());
  }
}

void BM_LibraryExtractor(benchmark::State& state) {
  platform::CriticalSection lock;
  const platform::Text path = platform::FromUtf8(VX_OPEN_ENGINE_PATH);
  templates::TVxExtractor extractor(platform::Env::Default(), lock,
                                    path.substr(0, path.rfind(u'/') + 1));
  const uint64_t handle = extractor.CreateExtractor();
  const auto& imp = Finger();
  for (auto _ : state) {
    auto record = extractor.Extract(handle, imp.pixels, imp.width, imp.height, 0, 0);
    benchmark::DoNotOptimize(record->data());
  }
}

BENCHMARK(BM_EngineDirect)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_LibraryExtractor)->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
