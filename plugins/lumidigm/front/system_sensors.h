// The sensors of this machine: counted by the device handler, reached
// through the transport the transport table chooses for each.
#pragma once

#include <memory>

#include "plugins/lumidigm/front/sensor_access.h"

namespace dactyra::lumidigm {

std::unique_ptr<SensorAccess> MakeSystemSensors();

}  // namespace dactyra::lumidigm
