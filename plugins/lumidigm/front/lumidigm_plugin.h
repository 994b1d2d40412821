// Everything the plug-in keeps from one export call to the next, under
// one owner with one order of destruction: the transport table (with its
// registry), the sensors of this machine over it, and the front over those.
// Members go in reverse order, so the front, which shuts down every device
// the host left open, goes while the sensors and the table it shuts them
// down through are still there. The command catalogue is constant data and
// needs no owner; the device handler keeps no state between calls.
//
// Threads: any; each member says what it allows. Destroying the plug-in
// while a call is inside it is the caller's fault (the exports refuse calls
// that come during or after the owner's end and wait for those in flight).
#pragma once

#include <memory>

#include "platform/env.h"
#include "plugins/lumidigm/front/lumidigm_front.h"
#include "plugins/lumidigm/front/sensor_access.h"
#include "plugins/lumidigm/transport/open_transport.h"

namespace dactyra::lumidigm {

class LumidigmPlugin {
 public:
  explicit LumidigmPlugin(platform::Env& env);
  ~LumidigmPlugin();
  LumidigmPlugin(const LumidigmPlugin&) = delete;
  LumidigmPlugin& operator=(const LumidigmPlugin&) = delete;

  LumidigmFront& front() { return front_; }

 private:
  v100::TransportTable transports_;
  std::unique_ptr<SensorAccess> sensors_;
  LumidigmFront front_;
};

}  // namespace dactyra::lumidigm
