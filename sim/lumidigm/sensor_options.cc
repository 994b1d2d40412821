#include "sim/lumidigm/sensor_options.h"

#include <cstdio>
#include <stdexcept>

#include "sim/config/key_values.h"

namespace dactyra::sim::lumidigm {
namespace {

using config::Number;

const config::KeyTable<SensorOptions> kKeys = {
    {"name", [](SensorOptions& o, std::string_view v) { o.names.emplace_back(v); }},
    {"serial", [](SensorOptions& o, std::string_view v) { o.serial_port = v; }},
    {"framing",
     [](SensorOptions& o, std::string_view v) {
       o.framing = config::Choice(v, {std::pair{"xmodem", "xmodem"}, {"nx", "nx"}});
     }},
    {"hold-lock", [](SensorOptions& o, std::string_view v) { o.hold_lock = v; }},
    {"hold-ms", [](SensorOptions& o, std::string_view v) { o.hold_ms = Number<unsigned>(v); }},
    {"raw-copy", [](SensorOptions& o, std::string_view v) { o.raw_copy = Number<uint32_t>(v); }},
    {"vendor", [](SensorOptions& o, std::string_view v) { o.config.vendor = Number<uint16_t>(v); }},
    {"product",
     [](SensorOptions& o, std::string_view v) { o.config.product = Number<uint16_t>(v); }},
    {"serial-low",
     [](SensorOptions& o, std::string_view v) { o.config.serial_low = Number<uint16_t>(v); }},
    {"serial-high",
     [](SensorOptions& o, std::string_view v) { o.config.serial_high = Number<uint16_t>(v); }},
    {"width", [](SensorOptions& o, std::string_view v) { o.config.width = Number<uint16_t>(v); }},
    {"height", [](SensorOptions& o, std::string_view v) { o.config.height = Number<uint16_t>(v); }},
    {"leading",
     [](SensorOptions& o, std::string_view v) { o.config.leading_value = Number<int32_t>(v); }},
    {"finger",
     [](SensorOptions& o, std::string_view v) { o.config.finger_seed = Number<uint64_t>(v); }},
    // --statuses1 4,0: the statuses after an arming of type 1.
    {"statuses*",
     [](SensorOptions& o, std::string_view type, std::string_view v) {
       o.config.statuses[Number<uint16_t>(type)] = config::Numbers<uint32_t>(v, ',');
     }},
    {"fault",
     [](SensorOptions& o, std::string_view v) {
       const auto fault = ParseFault(std::string(v));
       if (!fault) throw std::invalid_argument("unknown fault '" + std::string(v) + "'");
       o.config.faults.push_back(*fault);
     }},
};

}  // namespace

bool ParseSensorOptions(int argc, char** argv, SensorOptions& o) {
  try {
    kKeys.Apply(o, config::ParseArguments(argc, argv, {}, "v100 sensor"), "v100 sensor");
  } catch (const config::ConfigError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return false;
  }
  return true;
}

}  // namespace dactyra::sim::lumidigm
