// One V100 exchange: send a command's request over the device's transport
// and turn the packet that comes back into a command object.
#pragma once

#include <cstdint>
#include <memory>

#include "plugins/lumidigm/v100/cmd.h"
#include "plugins/lumidigm/v100/transport.h"

namespace dactyra::v100 {

// Size of the receive buffer of one exchange: the largest response (a
// composite image) is not known in advance.
inline constexpr uint32_t kReceiveBufferSize = 1u << 20;

// Builds `command`'s request, exchanges it over `info.transport` and
// returns the object of the class of the code received, parsed from the
// received bytes, or null: no transport, the request could not be built,
// the exchange failed, fewer than a header's 12 bytes came back (or the
// transport reported more than the buffer holds), or the code is not in the
// catalogue. The response is returned even when its parse stopped early;
// its ParsedCompletely() tells. `command` stays the caller's.
std::unique_ptr<ICmd> Execute(V100TransportInfo& info, ICmd& command);

}  // namespace dactyra::v100
