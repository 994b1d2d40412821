// vxr_lumidigm: the reader plug-in exports over the Lumidigm front and the
// sensors the device handler finds. The front lives from the first export
// call to the library's unload.
#include <memory>

#include "plugins/interface/vxr_plugin.h"
#include "plugins/lumidigm/front/lumidigm_front.h"
#include "plugins/lumidigm/front/system_sensors.h"

namespace {

using dactyra::lumidigm::LumidigmFront;
using dactyra::lumidigm::V100Device;

struct Plugin {
  std::unique_ptr<dactyra::lumidigm::SensorAccess> sensors = dactyra::lumidigm::MakeSystemSensors();
  LumidigmFront front{*sensors};
};

LumidigmFront& Front() {
  static Plugin plugin;
  return plugin.front;
}

V100Device* Device(TVxrCaptureHandle handle) { return reinterpret_cast<V100Device*>(handle); }

TVxrBool Bool(bool value) { return value ? VXR_TRUE : VXR_FALSE; }

}  // namespace

VXR_EXPORT const char* VXR_STDCALL VXR_GetPrefix(void) { return dactyra::lumidigm::kPrefix; }

VXR_EXPORT int32_t VXR_STDCALL VXR_GetDeviceList(PVxrDeviceList pBuffer, int32_t size) {
  return Front().GetDeviceList(pBuffer, size);
}

VXR_EXPORT TVxrCaptureHandle VXR_STDCALL VXR_OpenDevice(const char* serialNumber) {
  return reinterpret_cast<TVxrCaptureHandle>(Front().OpenDevice(serialNumber));
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_ShutdownDevice(TVxrCaptureHandle handle) {
  return Bool(Front().ShutdownDevice(Device(handle)));
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_CloseDevice(TVxrCaptureHandle handle) {
  return Bool(Front().CloseDevice(Device(handle)));
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_GetMaxSize(TVxrCaptureHandle handle, PVxrImageSize pSize) {
  return Bool(Front().GetMaxSize(Device(handle), pSize));
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_GetImage(TVxrCaptureHandle handle, PVxrImage pImage) {
  return Bool(Front().GetImage(Device(handle), pImage));
}
