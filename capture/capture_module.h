// The base of every capture module: one loaded module file that sees a
// family of readers, counts and names them and opens them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/env.h"
#include "platform/module.h"
#include "platform/text.h"

namespace dactyra {

class TVxCaptureDevice;

class TCaptureModule {
 public:
  virtual ~TCaptureModule();
  TCaptureModule(const TCaptureModule&) = delete;
  TCaptureModule& operator=(const TCaptureModule&) = delete;

  // The module name (lower-case file name without its kind's prefix and
  // extension), the file path, and the prefix of this module's device names.
  const platform::Text& Name() const { return FName; }
  const platform::Text& Path() const { return FPath; }
  const platform::Text& Prefix() const { return FPrefix; }

  // Number of devices the module sees now.
  virtual int32_t DeviceCount() = 0;
  // Appends one device name per device to `lista`; returns how many.
  virtual int32_t GetDeviceList(std::vector<platform::Text>& lista) = 0;
  // Opens the device with that serial number (the device name without the
  // prefix and the backslash). The caller owns the device and closes it
  // before releasing it; the module outlives its devices.
  virtual std::unique_ptr<TVxCaptureDevice> OpenDevice(const platform::Text& serialNumber) = 0;

 protected:
  // Stores both and loads the file through `env` so that its own
  // dependencies are found beside it; raises the system's message when it
  // does not load.
  TCaptureModule(platform::Text name, platform::Text path, platform::Env& env);
  // A module reached without a file of its own (one it loads itself, when
  // needed): no path.
  TCaptureModule(platform::Text name, platform::Text prefix);

  platform::Text FName;
  platform::Text FPath;
  // The loaded file; null once a subclass has refused and unloaded it, and
  // for a module without a file.
  std::unique_ptr<platform::Module> FHandle;
  platform::Text FPrefix;
};

}  // namespace dactyra
