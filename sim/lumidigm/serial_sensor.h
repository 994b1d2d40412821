// The simulated sensor on a serial line: XMODEM transfers announced by two
// NAK bytes each way, or 32-bit length-prefixed packets announced by two
// ACK bytes ("nx" framing).
#pragma once

#include "sim/lumidigm/sensor_options.h"

namespace dactyra::sim::lumidigm {

// Serves options.serial_port until standard input ends; the exit status.
int RunSerial(const SensorOptions& options);

}  // namespace dactyra::sim::lumidigm
