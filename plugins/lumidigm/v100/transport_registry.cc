#include "plugins/lumidigm/v100/transport_registry.h"

#include <new>

namespace dactyra::v100 {

// Takes the named mutex (for at most kMutexWaitMs) and the local one, and
// releases them in reverse order.
class TransportRegistry::Hold {
 public:
  explicit Hold(const TransportRegistry& registry) : registry_(registry) {
    if (registry_.named_ != nullptr) {
      const platform::WaitResult r = registry_.named_->Wait(kMutexWaitMs);
      named_held_ = r == platform::WaitResult::kSignalled || r == platform::WaitResult::kAbandoned;
    }
    registry_.local_.lock();
  }
  ~Hold() {
    registry_.local_.unlock();
    if (named_held_) registry_.named_->Release();
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  const TransportRegistry& registry_;
  bool named_held_ = false;
};

TransportRegistry::TransportRegistry(platform::Env& env, const platform::Text& mutex_name)
    : named_(env.CreateNamedMutex(mutex_name)) {}

bool TransportRegistry::Add(const ITransport* transport) {
  Hold hold(*this);
  try {
    return open_.insert(transport).second;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool TransportRegistry::Remove(const ITransport* transport) {
  Hold hold(*this);
  return open_.erase(transport) != 0;
}

bool TransportRegistry::Contains(const ITransport* transport) const {
  Hold hold(*this);
  return open_.count(transport) != 0;
}

size_t TransportRegistry::Size() const {
  Hold hold(*this);
  return open_.size();
}

}  // namespace dactyra::v100
