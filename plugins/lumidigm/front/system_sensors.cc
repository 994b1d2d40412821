// The sensors of this machine for the plug-in front: the device handler
// counts them, the transport table opens each.
#include "plugins/lumidigm/front/system_sensors.h"

#include "plugins/lumidigm/transport/device_handler.h"

namespace dactyra::lumidigm {
namespace {

class SystemSensors final : public SensorAccess {
 public:
  SystemSensors(platform::Env& env, v100::TransportTable& transports)
      : env_(env), transports_(transports) {}

  bool CountDevices(uint32_t& count) override {
    int32_t n = 0;
    // An unknown count (-1) is no count at all.
    if (v100::CountDevices(n, env_) != 0 || n < 0) return false;
    count = static_cast<uint32_t>(n);
    return true;
  }
  int32_t OpenTransport(v100::V100TransportInfo& info) override {
    return transports_.OpenTransport(info);
  }
  int32_t CloseTransport(v100::V100TransportInfo& info) override {
    return transports_.CloseTransport(info);
  }
  void Pause(uint32_t ms) override { env_.Sleep(ms); }
  uint32_t TickCount() override { return env_.TickCount(); }

 private:
  platform::Env& env_;
  v100::TransportTable& transports_;
};

}  // namespace

std::unique_ptr<SensorAccess> MakeSystemSensors(platform::Env& env,
                                                v100::TransportTable& transports) {
  return std::make_unique<SystemSensors>(env, transports);
}

}  // namespace dactyra::lumidigm
