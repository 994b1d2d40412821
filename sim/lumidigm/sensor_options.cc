#include "sim/lumidigm/sensor_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace dactyra::sim::lumidigm {
namespace {

std::vector<uint32_t> Numbers(const std::string& list) {
  std::vector<uint32_t> out;
  std::stringstream in(list);
  std::string item;
  while (std::getline(in, item, ','))
    out.push_back(static_cast<uint32_t>(std::strtoul(item.c_str(), nullptr, 0)));
  return out;
}

}  // namespace

bool ParseSensorOptions(int argc, char** argv, SensorOptions& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "v100 sensor: %s needs a value\n", arg.c_str());
      return false;
    }
    const std::string value = argv[++i];
    const auto number = [&] { return std::strtoul(value.c_str(), nullptr, 0); };
    if (arg == "--name") {
      o.names.push_back(value);
    } else if (arg == "--serial") {
      o.serial_port = value;
    } else if (arg == "--framing") {
      o.framing = value;
    } else if (arg == "--hold-lock") {
      o.hold_lock = value;
    } else if (arg == "--hold-ms") {
      o.hold_ms = static_cast<unsigned>(number());
    } else if (arg == "--raw-copy") {
      o.raw_copy = static_cast<uint32_t>(number());
    } else if (arg == "--vendor") {
      o.config.vendor = static_cast<uint16_t>(number());
    } else if (arg == "--product") {
      o.config.product = static_cast<uint16_t>(number());
    } else if (arg == "--serial-low") {
      o.config.serial_low = static_cast<uint16_t>(number());
    } else if (arg == "--serial-high") {
      o.config.serial_high = static_cast<uint16_t>(number());
    } else if (arg == "--width") {
      o.config.width = static_cast<uint16_t>(number());
    } else if (arg == "--height") {
      o.config.height = static_cast<uint16_t>(number());
    } else if (arg == "--leading") {
      o.config.leading_value = static_cast<int32_t>(std::strtol(value.c_str(), nullptr, 0));
    } else if (arg == "--finger") {
      o.config.finger_seed = std::strtoull(value.c_str(), nullptr, 0);
    } else if (arg.rfind("--statuses", 0) == 0 && arg.size() > 10) {
      // --statuses1 4,0: the statuses after an arming of type 1.
      o.config.statuses[static_cast<uint16_t>(std::strtoul(arg.c_str() + 10, nullptr, 0))] =
          Numbers(value);
    } else if (arg == "--fault") {
      const auto fault = ParseFault(value);
      if (!fault) {
        std::fprintf(stderr, "v100 sensor: unknown fault %s\n", value.c_str());
        return false;
      }
      o.config.faults.push_back(*fault);
    } else {
      std::fprintf(stderr, "v100 sensor: unknown option %s\n", arg.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace dactyra::sim::lumidigm
