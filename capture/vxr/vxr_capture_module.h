// A capture module over a reader plug-in: binds the plug-in's exports and
// speaks its interface.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/capture_module.h"
#include "platform/env.h"
#include "platform/text.h"
#include "plugins/interface/vxr_plugin.h"

namespace dactyra {

class TVxrCaptureModule : public TCaptureModule {
 public:
  // Loads the file through `env`, binds its exports and reads its prefix.
  // Raises EVelmoraFP "Invalid module." (after unloading the file) when a
  // required export is missing or the prefix is not a text.
  TVxrCaptureModule(platform::Text name, platform::Text path,
                    platform::Env& env = platform::Env::Default());

  int32_t DeviceCount() override;
  int32_t GetDeviceList(std::vector<platform::Text>& lista) override;
  std::unique_ptr<TVxCaptureDevice> OpenDevice(const platform::Text& serialNumber) override;

  bool CloseDevice(TVxrCaptureHandle handle);
  // True without a call when the plug-in has no VXR_ShutdownDevice.
  bool ShutdownDevice(TVxrCaptureHandle handle);
  // The plug-in exports VXR_ShutdownDevice.
  bool HasShutdown() const { return FVXR_ShutdownDevice != nullptr; }
  bool GetMaxImageSize(TVxrCaptureHandle handle, TVxrImageSize& size);
  // `image` is a buffer of 20 + ByteSize bytes.
  bool GetImage(TVxrCaptureHandle handle, PVxrImage image);

  // Runs one command and returns its result bytes, exactly as many as the
  // plug-in announced. A null handle addresses the plug-in as a whole.
  std::vector<uint8_t> SendCommandBytes(TVxrCaptureHandle handle, const platform::Text& command,
                                        const void* args);
  // The same with text arguments and a text result of one character per
  // result byte (for ASCII), NULs included.
  platform::Text SendCommandStr(TVxrCaptureHandle handle, const platform::Text& command,
                                const platform::Text& args);

 private:
  template <typename F>
  bool BindExport(F& field, const char* name, unsigned argument_bytes);
  platform::Text DeviceName(const std::string& serial) const;

  TFuncVXR_GetPrefix FVXR_GetPrefix = nullptr;
  TFuncVXR_GetDeviceList FVXR_GetDeviceList = nullptr;
  TFuncVXR_OpenDevice FVXR_OpenDevice = nullptr;
  TFuncVXR_CloseDevice FVXR_CloseDevice = nullptr;
  TFuncVXR_CloseDevice FVXR_ShutdownDevice = nullptr;
  TFuncVXR_GetMaxSize FVXR_GetMaxSize = nullptr;
  TFuncVXR_GetImage FVXR_GetImage = nullptr;
  TFuncVXR_SendCommand FVXR_SendCommand = nullptr;
  TFuncVXR_GetResult FVXR_GetResult = nullptr;

  // A command and the fetch of its result are one step: the plug-in keeps
  // one pending result per handle, so two callers must not interleave.
  std::mutex FCommandLock;
};

}  // namespace dactyra
