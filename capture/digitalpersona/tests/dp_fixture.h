// The DigitalPersona binding against its stand-ins from the build folder: an
// Env that finds (or hides) each library and can make the platform objects
// the binding needs fail, a configuration file per test, and an image
// procedure that records what it receives.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/digitalpersona/scan_man.h"
#include "platform/env.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::capture::digitalpersona::testing {

class DPEnv : public platform::EnvWrapper {
 public:
  DPEnv() : EnvWrapper(platform::Env::Default()) {}

  std::unique_ptr<platform::Module> LoadModule(const platform::Text& file,
                                               platform::Module::Search search,
                                               platform::Text* error) override;
  std::unique_ptr<platform::MessageQueue> CreateMessageQueue(platform::MessageProcedure procedure,
                                                             platform::Text* error) override;
  std::unique_ptr<platform::SharedEvent> CreateSharedEvent(platform::Text* error) override;

  std::atomic<bool> dpfpapi_present{true};
  std::atomic<bool> dpfpfns_present{true};
  std::atomic<bool> queue_fails{false};
  std::atomic<bool> event_fails{false};
  std::atomic<int> loads{0};
};

// One delivered image.
struct Delivery {
  std::string name;
  int32_t width = 0;
  int32_t height = 0;
  int32_t resolution = 0;
  std::vector<uint8_t> pixels;
};

// Records deliveries; an optional hook runs inside the image procedure.
class Sink {
 public:
  static void DP_STDCALL Proc(const char* id, int32_t width, int32_t height, const uint8_t* image,
                              int32_t resolution, void* param);

  // Waits until `count` images have arrived (at most 10 s).
  bool WaitFor(size_t count);
  size_t Count();
  std::vector<Delivery> Take();

  std::function<void(Sink&)> hook;
  std::atomic<int> inside{0};
  std::atomic<bool> keep_pixels{true};

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Delivery> deliveries_;
};

class DPTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Replaces the stand-ins' configuration.
  void Configure(const std::string& text);
  // The stand-in's test export, from the copy the binding has loaded.
  template <typename F>
  F SimExport(const char* library, const char* name) {
    return reinterpret_cast<F>(SimSymbol(library, name));
  }
  void* SimSymbol(const char* library, const char* name);
  // Sends `count` images, one at a time, to the one running capture of
  // `library` ("DPFPApi" or "dpFpFns") that delivers to `sink`.
  void Deliver(const char* library, Sink& sink, int count);
  int Violations();

  DPEnv env_;
  platform::testing::TempFolder folder_;
  std::string config_;
  std::vector<std::unique_ptr<platform::Module>> sims_;
};

// The source picture of a stand-in reader, and what the binding must make
// of it: `rect` columns x rows from the top left (clipped to the picture)
// averaged down to dst_width x 365, turned or not.
std::vector<uint8_t> RampPixels(int width, int height, uint64_t seed);
std::vector<uint8_t> FingerPixels(int width, int height, uint64_t seed);
std::vector<uint8_t> Expected(const std::vector<uint8_t>& source, int width, int height,
                              int dst_width, int rect_width, int rect_height, bool turned);

}  // namespace dactyra::capture::digitalpersona::testing
