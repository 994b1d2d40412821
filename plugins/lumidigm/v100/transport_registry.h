// The process-wide registry of open transports. Opening a transport enters
// it, closing one removes it. Every access holds the named mutex
// "CMDHdlMutex", so opens and closes in all processes that load the plug-in
// wait for each other; but no longer than kMutexWaitMs, after which a
// holder has stopped, and the registry (this process's own) goes on under
// its local lock alone.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <set>

#include "platform/env.h"
#include "platform/named_objects.h"
#include "platform/text.h"

namespace dactyra::v100 {

class ITransport;

class TransportRegistry {
 public:
  static constexpr char16_t kMutexName[] = u"CMDHdlMutex";
  static constexpr uint32_t kMutexWaitMs = 2000;

  // The named mutex comes from `env`; without one (the Env could not make
  // it) the registry still orders the threads of this process. The
  // plug-in keeps one, in the transport table its owner holds.
  explicit TransportRegistry(platform::Env& env, const platform::Text& mutex_name = kMutexName);
  TransportRegistry(const TransportRegistry&) = delete;
  TransportRegistry& operator=(const TransportRegistry&) = delete;

  // Enters an opened transport; false when it is there already.
  bool Add(const ITransport* transport);
  // Removes a transport; false when it was not entered.
  bool Remove(const ITransport* transport);
  bool Contains(const ITransport* transport) const;
  size_t Size() const;

 private:
  class Hold;

  std::unique_ptr<platform::NamedMutex> named_;
  // Held inside the named mutex as well: it orders the threads of this
  // process even if the named mutex could not be created or waited on.
  mutable std::mutex local_;
  // Ordered by identity; the entries carry no data of their own.
  std::set<const ITransport*> open_;
};

}  // namespace dactyra::v100
