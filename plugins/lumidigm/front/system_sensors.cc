// The sensors of this machine for the plug-in front: the device handler
// counts them, the transport table opens each.
#include "plugins/lumidigm/front/system_sensors.h"

#include "platform/env.h"
#include "plugins/lumidigm/transport/device_handler.h"
#include "plugins/lumidigm/transport/open_transport.h"

namespace dactyra::lumidigm {
namespace {

class SystemSensors final : public SensorAccess {
 public:
  bool CountDevices(uint32_t& count) override {
    int32_t n = 0;
    // An unknown count (-1) is no count at all.
    if (v100::CountDevices(n) != 0 || n < 0) return false;
    count = static_cast<uint32_t>(n);
    return true;
  }
  int32_t OpenTransport(v100::V100TransportInfo& info) override {
    return v100::OpenTransport(info);
  }
  int32_t CloseTransport(v100::V100TransportInfo& info) override {
    return v100::CloseTransport(info);
  }
  void Pause(uint32_t ms) override { platform::Env::Default().Sleep(ms); }
};

}  // namespace

std::unique_ptr<SensorAccess> MakeSystemSensors() { return std::make_unique<SystemSensors>(); }

}  // namespace dactyra::lumidigm
