// Test doubles for failures the operating system rarely gives on demand:
// an Env whose threads cannot start and whose named objects another process
// holds. Tests of any layer build their component over a FaultEnv and
// choose what fails.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

#include "platform/env.h"

namespace dactyra::platform::testing {

// A thread the system refused to create: Start fails, the body never runs
// (it is destroyed with the object).
class UnstartableThread : public Thread {
 public:
  explicit UnstartableThread(std::function<void()> body) : body_(std::move(body)) {}
  bool Start() override { return false; }
  void Join() override {}
  void Detach() override {}
  bool Joinable() const override { return false; }
  bool IsCurrent() const override { return false; }

 private:
  std::function<void()> body_;
};

// A named event or mutex that another process holds for ever: every wait
// times out (an infinite one fails, as the real one would never return).
class HeldEvent : public NamedEvent {
 public:
  WaitResult Wait(uint32_t timeout_ms) override {
    return timeout_ms == kInfinite ? WaitResult::kFailed : WaitResult::kTimeout;
  }
  void Set() override {}
};
class HeldMutex : public NamedMutex {
 public:
  WaitResult Wait(uint32_t timeout_ms) override {
    return timeout_ms == kInfinite ? WaitResult::kFailed : WaitResult::kTimeout;
  }
  bool Release() override { return false; }
};

// The real Env with switchable faults; everything not switched on is
// forwarded.
class FaultEnv : public EnvWrapper {
 public:
  FaultEnv() : EnvWrapper(Env::Default()) {}

  bool threads_fail = false;
  bool named_objects_held = false;
  std::atomic<int> threads_made{0};

  std::unique_ptr<Thread> NewThread(std::function<void()> body) override {
    ++threads_made;
    if (threads_fail) return std::make_unique<UnstartableThread>(std::move(body));
    return EnvWrapper::NewThread(std::move(body));
  }
  std::unique_ptr<NamedEvent> CreateNamedEvent(const Text& name, bool initially_signalled,
                                               Text* error) override {
    if (named_objects_held) return std::make_unique<HeldEvent>();
    return EnvWrapper::CreateNamedEvent(name, initially_signalled, error);
  }
  std::unique_ptr<NamedMutex> CreateNamedMutex(const Text& name, Text* error) override {
    if (named_objects_held) return std::make_unique<HeldMutex>();
    return EnvWrapper::CreateNamedMutex(name, error);
  }
};

}  // namespace dactyra::platform::testing
