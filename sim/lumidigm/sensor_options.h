// Command-line options of the simulated sensor, shared by its USB and
// serial forms.
#pragma once

#include <string>
#include <vector>

#include "sim/lumidigm/sensor_model.h"

namespace dactyra::sim::lumidigm {

struct SensorOptions {
  std::vector<std::string> names;  // one USB sensor per name
  std::string serial_port;         // "COMn": one sensor on a serial line
  std::string framing = "xmodem";  // serial framing: "xmodem" or "nx"
  std::string hold_lock;           // hold this named mutex ...
  unsigned hold_ms = 0;            // ... for this long, then exit
  uint32_t raw_copy = 0;           // answer each byte with this many bytes, unframed
  SensorConfig config;
};

// Parses argv; prints the problem and returns false on a bad option.
bool ParseSensorOptions(int argc, char** argv, SensorOptions& options);

}  // namespace dactyra::sim::lumidigm
