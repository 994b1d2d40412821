// Giving a transport record its transport and taking it away: the device
// is described by the device handler, the transport chosen from the record
// and the description, opened, and entered in the process's transport
// registry under "CMDHdlMutex".
#pragma once

#include <cstdint>

#include "platform/env.h"
#include "plugins/lumidigm/v100/transport.h"

namespace dactyra::v100 {

inline constexpr int32_t kOpenFailed = 128;
// The read-handle value that selects TransportRS232_NX on a serial record.
inline constexpr uintptr_t kSerialNxSelector = 0x80000000u;

// 0 when `info` has an open transport; the handler's code (162 to 165) when
// the device could not be described and `info` names no serial port; 128
// when the transport could not be chosen, created or opened.
int32_t OpenTransport(V100TransportInfo& info, platform::Env& env = platform::Env::Default());

// Closes and destroys `info`'s transport, if any, and removes it from the
// registry. 0.
int32_t CloseTransport(V100TransportInfo& info);

}  // namespace dactyra::v100
