// The process-wide registry of open transports. Opening a transport enters
// it, closing one removes it. Every access holds the named mutex
// "CMDHdlMutex", so opens and closes in all processes that load the plug-in
// wait for each other.
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

  // The registry of this process, created on first use and destroyed when
  // the library is unloaded.
  static TransportRegistry& Process();

  // The named mutex comes from `env`; without one (the Env could not make
  // it) the registry still orders the threads of this process.
  explicit TransportRegistry(const platform::Text& mutex_name = kMutexName,
                             platform::Env& env = platform::Env::Default());
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
