// The exchange mutex of a transport with a lock name: created on first
// use, waited for with a limit, released when the exchange ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/env.h"

namespace dactyra::v100 {

class ExchangeLock {
 public:
  // Empty `name`: no mutex and no waiting. Otherwise the mutex is created
  // into `mutex` when there is none yet and waited for up to `wait_ms`; a
  // time-out prints "\nMutex timed-out".
  ExchangeLock(platform::Env& env, const std::string& name,
               std::unique_ptr<platform::NamedMutex>& mutex, uint32_t wait_ms) {
    if (name.empty()) {
      ok_ = true;
      return;
    }
    if (!mutex) mutex = env.CreateNamedMutex(platform::FromAnsi(name));
    if (!mutex) return;
    const platform::WaitResult r = mutex->Wait(wait_ms);
    if (r == platform::WaitResult::kTimeout) {
      std::printf("\nMutex timed-out");
      std::fflush(stdout);
      return;
    }
    if (r == platform::WaitResult::kSignalled || r == platform::WaitResult::kAbandoned) {
      held_ = mutex.get();
      ok_ = true;
    }
  }
  ~ExchangeLock() {
    if (held_) held_->Release();
  }
  ExchangeLock(const ExchangeLock&) = delete;
  ExchangeLock& operator=(const ExchangeLock&) = delete;

  bool ok() const { return ok_; }

 private:
  platform::NamedMutex* held_ = nullptr;
  bool ok_ = false;
};

}  // namespace dactyra::v100
