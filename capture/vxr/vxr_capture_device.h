// A device opened through a reader plug-in.
#pragma once

#include <cstdint>
#include <mutex>

#include "capture/capture_device.h"
#include "platform/threads.h"
#include "plugins/interface/vxr_plugin.h"

namespace dactyra {

class TVxrCaptureModule;

class TVxrCaptureDeviceImpl final : public TVxCaptureDevice {
 public:
  // Over an open plug-in handle; the module outlives the device.
  TVxrCaptureDeviceImpl(TVxrCaptureModule& modulo, TVxrCaptureHandle handle);
  // Does not close: the owner calls Close first.
  ~TVxrCaptureDeviceImpl() override;

  // Raises "@@@4" when the plug-in gives no usable largest size.
  void Allocate() override;
  // Holds the device lock for the whole plug-in call, which may block.
  // False after Close, before Allocate, and for an image whose pixels would
  // not fit the buffer.
  bool WaitImage() override;
  // Makes a waiting WaitImage return through VXR_ShutdownDevice, then closes
  // the handle under the device lock. The image buffer of a delivery still
  // running is released when that delivery ends.
  void Close() override;
  platform::Text SendCommandStr(const platform::Text& command, const platform::Text& args,
                                bool noHandle) override;

 private:
  // The device lock: image calls and the closing of the handle.
  platform::CriticalSection FBloqueio;
  // Orders concurrent Close calls.
  std::mutex FFechamento;
  // Keeps the handle open while a command runs on it.
  std::mutex FComandos;
  TVxrCaptureModule& FModulo;
  // Null after Close. Written only by Close under all three locks above, so
  // each reader holds one of them.
  TVxrCaptureHandle FHandle;
  // Pixel bytes the buffer holds past its header.
  int32_t FByteSize = 0;
};

}  // namespace dactyra
