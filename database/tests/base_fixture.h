// Test support for the database tests: a template maker over the open
// engine that extracts each distinct picture once, and an Env whose clock a
// test sets.
#pragma once

#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "database/fingerprint_database.h"
#include "database/tests/impressions.h"
#include "platform/env.h"
#include "platform/threads.h"
#include "templates/extractor.h"

namespace dactyra::database::testing {

// The open engine through the binding, each distinct picture extracted
// once for the whole test program (the tests show the same impressions
// many times). Counts the extractions asked for.
class CachingMaker final : public TemplateMaker {
 public:
  std::optional<std::vector<uint8_t>> Make(const TGrayImage& image, int32_t indDedo) override {
    const auto pixels = image.Bits.Pixels();
    std::string key(pixels.begin(), pixels.end());
    ++asked;
    {
      std::lock_guard held(lock_);
      const auto it = cache_.find(key);
      if (it != cache_.end()) return it->second;
    }
    auto record = engine_.Make(image, indDedo);
    std::lock_guard held(lock_);
    cache_.emplace(std::move(key), record);
    return record;
  }

  // The one maker of the test program.
  static CachingMaker& Instance() {
    static CachingMaker* maker = new CachingMaker;
    return *maker;
  }

  std::atomic<int> asked{0};

 private:
  CachingMaker()
      : extractor_(platform::Env::Default(), lock_engine_, platform::FromUtf8(VX_OPEN_ENGINE_DIR)),
        engine_(extractor_) {}
  platform::CriticalSection lock_engine_;
  templates::TVxExtractor extractor_;
  EngineTemplateMaker engine_;
  std::mutex lock_;
  std::map<std::string, std::optional<std::vector<uint8_t>>> cache_;
};

// The real system with a clock the test sets.
class ClockEnv final : public platform::EnvWrapper {
 public:
  ClockEnv() : EnvWrapper(platform::Env::Default()) {}
  platform::LocalTime Now() override {
    std::lock_guard held(lock_);
    return now_;
  }
  void Set(platform::LocalTime t) {
    std::lock_guard held(lock_);
    now_ = t;
  }

 private:
  std::mutex lock_;
  platform::LocalTime now_{2024, 3, 1, 12, 0, 0, 0};
};

}  // namespace dactyra::database::testing
