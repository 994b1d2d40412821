// A device opened through a reader plug-in.
#pragma once

#include <cstdint>
#include <mutex>

#include "capture/capture_device.h"
#include "plugins/interface/vxr_plugin.h"

namespace dactyra {

class TVxrCaptureModule;

class TVxrCaptureDeviceImpl final : public TVxCaptureDevice {
 public:
  // Over an open plug-in handle; the module outlives the device.
  TVxrCaptureDeviceImpl(TVxrCaptureModule& modulo, TVxrCaptureHandle handle);
  // Does not close: the owner calls Close first.
  ~TVxrCaptureDeviceImpl() override;

  // Raises "@@@4" when the plug-in gives no usable largest size, or when
  // the device is closed.
  void Allocate() override;
  // Holds no lock across the plug-in call, which may block. False after
  // Close, before Allocate, and for an image whose pixels would not fit the
  // buffer.
  bool WaitImage() override;
  // Asks a waiting WaitImage to return through VXR_ShutdownDevice and
  // closes the handle; waits for nothing but a command running on it. When
  // an image call is still inside the plug-in, that call closes the handle
  // as it returns, and hands out nothing. The image buffer of a delivery
  // still running is released when that delivery ends.
  void Close() override;
  // Long enough for a plug-in call to return once VXR_ShutdownDevice has
  // asked it to; without that export, for its longest capture.
  uint32_t StopBoundMs() const override;
  platform::Text SendCommandStr(const platform::Text& command, const platform::Text& args,
                                bool noHandle) override;

 private:
  // Enters an image call; false when the device is closed or closing.
  bool BeginCall();
  // Leaves it; true when Close came meanwhile (the handle is closed now).
  bool EndCall();
  // Closes the handle and lets the buffer go; once.
  void CloseHandle();

  // Orders concurrent Close calls.
  std::mutex FFechamento;
  // Keeps the handle open while a command runs on it.
  std::mutex FComandos;
  // Guards the call state below and FHandle's end; held for short steps,
  // never across a plug-in call.
  std::mutex FStateLock;
  // An image call (Allocate, WaitImage) of the capture thread is inside the
  // plug-in.
  bool FInCall = false;
  // Close found a call inside the plug-in: the call closes the handle.
  bool FClosePending = false;
  // Close has begun: no image call starts any more.
  bool FClosing = false;
  TVxrCaptureModule& FModulo;
  // Null once closed. Cleared under FComandos and FStateLock; an image
  // call uses it while FInCall keeps it open.
  TVxrCaptureHandle FHandle;
  // Pixel bytes the buffer holds past its header.
  int32_t FByteSize = 0;
};

}  // namespace dactyra
