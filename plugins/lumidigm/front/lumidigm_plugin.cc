// The plug-in's one owner: its members in the order they are made.
#include "plugins/lumidigm/front/lumidigm_plugin.h"

#include "plugins/lumidigm/front/system_sensors.h"

namespace dactyra::lumidigm {

LumidigmPlugin::LumidigmPlugin(platform::Env& env)
    : transports_(env), sensors_(MakeSystemSensors(env, transports_)), front_(*sensors_) {}

LumidigmPlugin::~LumidigmPlugin() = default;

}  // namespace dactyra::lumidigm
