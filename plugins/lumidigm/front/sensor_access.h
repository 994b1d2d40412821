// What the plug-in front needs from the layers below it: how many sensors
// there are, and a transport to each by device number. The plug-in uses the
// device handler and the transport table; tests give sensors of their own.
#pragma once

#include <cstdint>

#include "plugins/lumidigm/v100/transport.h"

namespace dactyra::lumidigm {

class SensorAccess {
 public:
  virtual ~SensorAccess() = default;
  // The number of sensors present; false when it cannot be had.
  virtual bool CountDevices(uint32_t& count) = 0;
  // Opens a transport for `info.device_number` (0 on success), and closes
  // it again. On success `info.transport` is the open transport.
  virtual int32_t OpenTransport(v100::V100TransportInfo& info) = 0;
  virtual int32_t CloseTransport(v100::V100TransportInfo& info) = 0;
  // Waits `ms` milliseconds: the pause after a sensor could not be found
  // again, so that a host calling again at once does not spin on the search.
  virtual void Pause(uint32_t ms) = 0;
  // Milliseconds of a clock that wraps at 2^32 (compare by unsigned
  // difference): what bounds the settle polls.
  virtual uint32_t TickCount() = 0;
};

}  // namespace dactyra::lumidigm
