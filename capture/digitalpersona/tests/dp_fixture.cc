#include "capture/digitalpersona/tests/dp_fixture.h"

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "imaging/resample.h"
#include "imaging/row_view.h"
#include "sim/fingerprint/fingerprint.h"

namespace dactyra::capture::digitalpersona::testing {

using platform::Text;

std::unique_ptr<platform::Module> DPEnv::LoadModule(const Text& file,
                                                    platform::Module::Search search, Text* error) {
  const Text dir = platform::FromUtf8(DACTYRA_DP_SIM_DIR) + u"/";
  ++loads;
  if (file == u"DPFPApi" + platform::ModuleSuffix()) {
    return dpfpapi_present ? target().LoadModule(dir + file, search, error) : nullptr;
  }
  if (file == u"dpFpFns" + platform::ModuleSuffix()) {
    return dpfpfns_present ? target().LoadModule(dir + file, search, error) : nullptr;
  }
  return target().LoadModule(file, search, error);
}

std::unique_ptr<platform::MessageQueue> DPEnv::CreateMessageQueue(
    platform::MessageProcedure procedure, Text* error) {
  if (queue_fails) return nullptr;
  return target().CreateMessageQueue(std::move(procedure), error);
}

std::unique_ptr<platform::SharedEvent> DPEnv::CreateSharedEvent(Text* error) {
  if (event_fails) return nullptr;
  return target().CreateSharedEvent(error);
}

void DP_STDCALL Sink::Proc(const char* id, int32_t width, int32_t height, const uint8_t* image,
                           int32_t resolution, void* param) {
  auto& sink = *static_cast<Sink*>(param);
  ++sink.inside;
  Delivery delivery{id, width, height, resolution, {}};
  if (sink.keep_pixels) {
    delivery.pixels.assign(image, image + static_cast<size_t>(width) * static_cast<size_t>(height));
  }
  if (sink.hook) sink.hook(sink);
  {
    std::lock_guard guard(sink.mutex_);
    sink.deliveries_.push_back(std::move(delivery));
  }
  sink.arrived_.notify_all();
  --sink.inside;
}

bool Sink::WaitFor(size_t count) {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::seconds(10),
                           [&] { return deliveries_.size() >= count; });
}

size_t Sink::Count() {
  std::lock_guard guard(mutex_);
  return deliveries_.size();
}

std::vector<Delivery> Sink::Take() {
  std::lock_guard guard(mutex_);
  return std::move(deliveries_);
}

void DPTest::SetUp() {
  ASSERT_FALSE(folder_.path().empty());
  config_ = folder_.path() + "/dp_sim.conf";
  Configure("");
  setenv("DACTYRA_DP_SIM", config_.c_str(), 1);
  // Held for the whole test, so the stand-ins' counters outlive the
  // binding's unloads; the binding's loads of them share these copies.
  for (const char* library : {"DPFPApi", "dpFpFns"}) {
    const Text path = platform::FromUtf8(std::string(DACTYRA_DP_SIM_DIR) + "/" + library) +
                      platform::ModuleSuffix();
    sims_.push_back(
        platform::Env::Default().LoadModule(path, platform::Module::Search::kDefault, nullptr));
    ASSERT_NE(sims_.back(), nullptr) << library;
  }
}

void DPTest::TearDown() {
  SMUnload();
  EXPECT_EQ(Violations(), 0) << "the stand-ins saw calls against their contract";
  sims_.clear();
}

void DPTest::Configure(const std::string& text) {
  // Replaced whole, so a stand-in never reads half a file.
  const std::string scratch = config_ + ".new";
  {
    std::ofstream file(scratch, std::ios::trunc);
    file << text;
  }
  std::filesystem::rename(scratch, config_);
}

void* DPTest::SimSymbol(const char* library, const char* name) {
  const size_t index = std::string(library) == "DPFPApi" ? 0 : 1;
  if (index >= sims_.size() || !sims_[index]) return nullptr;
  return sims_[index]->Symbol(name);
}

void DPTest::Deliver(const char* library, Sink& sink, int count) {
  using TriggerFn = int32_t (*)();
  const auto trigger = SimExport<TriggerFn>(
      library, std::string(library) == "DPFPApi" ? "DPSim_Trigger" : "FTSim_Trigger");
  ASSERT_NE(trigger, nullptr);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int i = 0; i < count; ++i) {
    const size_t target = sink.Count() + 1;
    // A capture starts on its own thread a moment after the start; and
    // signals of an event fold, so each image is awaited before the next.
    while (trigger() == 0) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no capture to send images to";
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(sink.WaitFor(target)) << "image " << i << " did not arrive";
  }
}

int DPTest::Violations() {
  using CountFn = int32_t (*)();
  int total = 0;
  if (const auto dp = SimExport<CountFn>("DPFPApi", "DPSim_Violations")) total += dp();
  if (const auto ft = SimExport<CountFn>("dpFpFns", "FTSim_Violations")) total += ft();
  return total;
}

std::vector<uint8_t> RampPixels(int width, int height, uint64_t seed) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      pixels[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>((x + 3 * y + seed) & 0xFF);
    }
  }
  return pixels;
}

std::vector<uint8_t> FingerPixels(int width, int height, uint64_t seed) {
  return sim::fingerprint::Finger::Generate(seed).Render(width, height).pixels;
}

std::vector<uint8_t> Expected(const std::vector<uint8_t>& source, int width, int height,
                              int dst_width, int rect_width, int rect_height, bool turned) {
  std::vector<uint8_t> out(static_cast<size_t>(dst_width) * 365);
  auto src = MakeRowView(width, height, const_cast<uint8_t*>(source.data()));
  auto dst = MakeRowView(dst_width, 365, out.data());
  const int w = std::min(rect_width, width);
  const int h = std::min(rect_height, height);
  if (turned) {
    ResampleAreaTurned(dst.get(), src.get(), dst_width - 1, 364, 0, 0, dst_width, 365, w, h);
  } else {
    ResampleArea(dst.get(), src.get(), 0, 0, 0, 0, dst_width, 365, w, h);
  }
  return out;
}

}  // namespace dactyra::capture::digitalpersona::testing
