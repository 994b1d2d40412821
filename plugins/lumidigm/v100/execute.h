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
// transport reported more than the buffer holds), or the code received is
// neither the request's own nor Atomic_Error's (an answer to some other
// request). The response is returned even when its parse stopped early;
// its ParsedCompletely() tells. `command` stays the caller's.
//
// `prepare`, when given, runs on the response object (with `context`)
// before it parses the received bytes: a host call gives it the caller's
// buffer for a block (ShapedCmd::SetDestination), so an image is copied
// once, from the receive buffer straight to where the caller wants it.
using PrepareResponse = void (*)(ICmd& response, void* context);
std::unique_ptr<ICmd> Execute(V100TransportInfo& info, ICmd& command,
                              PrepareResponse prepare = nullptr, void* context = nullptr);

}  // namespace dactyra::v100
