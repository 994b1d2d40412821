// vxr_virdi: the reader plug-in interface for Virdi readers, over one
// process-wide VirdiPlugin on the system clock. The file links against
// UCBioBSP, so it loads only where that library is found.
#include "plugins/interface/vxr_plugin.h"
#include "plugins/virdi/virdi_plugin.h"

namespace {

// Built at load, released (with its reader list) at unload.
dactyra::virdi::VirdiPlugin g_plugin;

}  // namespace

VXR_EXPORT const char* VXR_STDCALL VXR_GetPrefix(void) { return dactyra::virdi::kPrefix; }

VXR_EXPORT int32_t VXR_STDCALL VXR_GetDeviceList(PVxrDeviceList pBuffer, int32_t size) {
  return g_plugin.GetDeviceList(pBuffer, size);
}

VXR_EXPORT TVxrCaptureHandle VXR_STDCALL VXR_OpenDevice(const char* serialNumber) {
  return g_plugin.OpenDevice(serialNumber);
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_CloseDevice(TVxrCaptureHandle handle) {
  return g_plugin.CloseDevice(handle) ? VXR_TRUE : VXR_FALSE;
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_GetMaxSize(TVxrCaptureHandle handle, PVxrImageSize pSize) {
  return g_plugin.GetMaxSize(handle, pSize) ? VXR_TRUE : VXR_FALSE;
}

VXR_EXPORT TVxrBool VXR_STDCALL VXR_GetImage(TVxrCaptureHandle handle, PVxrImage pImage) {
  return g_plugin.GetImage(handle, pImage) ? VXR_TRUE : VXR_FALSE;
}
