// Giving a transport record its transport and taking it away: the device
// is described by the device handler, the transport chosen from the record
// and the description, opened, and entered in the transport registry under
// "CMDHdlMutex". The table owns that registry, so whoever owns the table
// (the plug-in, a test, a stand-in) decides when it goes.
#pragma once

#include <cstdint>

#include "platform/env.h"
#include "plugins/lumidigm/v100/transport.h"
#include "plugins/lumidigm/v100/transport_registry.h"

namespace dactyra::v100 {

inline constexpr int32_t kOpenFailed = 128;
// The read-handle value that selects TransportRS232_NX on a serial record.
inline constexpr uintptr_t kSerialNxSelector = 0x80000000u;

class TransportTable {
 public:
  explicit TransportTable(platform::Env& env,
                          const platform::Text& mutex_name = TransportRegistry::kMutexName)
      : env_(env), registry_(env, mutex_name) {}
  TransportTable(const TransportTable&) = delete;
  TransportTable& operator=(const TransportTable&) = delete;

  // 0 when `info` has an open transport; the handler's code (162 to 166)
  // when the device could not be described and `info` names no serial
  // port; 128 when the transport could not be chosen, created or opened.
  int32_t OpenTransport(V100TransportInfo& info);
  // Closes and destroys `info`'s transport, if any, and removes it from the
  // registry. 0.
  int32_t CloseTransport(V100TransportInfo& info);

  const TransportRegistry& registry() const { return registry_; }

 private:
  platform::Env& env_;
  TransportRegistry registry_;
};

}  // namespace dactyra::v100
