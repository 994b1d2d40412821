// The sensors of this machine: counted by the device handler, reached
// through the transport the transport table chooses for each.
#pragma once

#include <memory>

#include "platform/env.h"
#include "plugins/lumidigm/front/sensor_access.h"
#include "plugins/lumidigm/transport/open_transport.h"

namespace dactyra::lumidigm {

// `env` and `transports` must outlive the sensors.
std::unique_ptr<SensorAccess> MakeSystemSensors(platform::Env& env,
                                                v100::TransportTable& transports);

}  // namespace dactyra::lumidigm
