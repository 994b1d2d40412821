#include "capture/vxr/vxr_capture_module.h"

#include <new>
#include <string>
#include <utility>

#include "capture/velmora_error.h"
#include "capture/vxr/device_list.h"
#include "capture/vxr/vxr_capture_device.h"
#include "support/exception.h"

namespace dactyra {
namespace {

platform::Text Decimal(int64_t value) { return platform::FromUtf8(std::to_string(value)); }

}  // namespace

template <typename F>
bool TVxrCaptureModule::BindExport(F& field, const char* name, unsigned argument_bytes) {
  field = FHandle->Function<F>(name);
  if (!field) {
    // The name a 32-bit stdcall export carries: "_%s@%u".
    std::string decorated = "_";
    decorated += name;
    decorated += '@';
    decorated += std::to_string(argument_bytes);
    field = FHandle->Function<F>(decorated.c_str());
  }
  return field != nullptr;
}

TVxrCaptureModule::TVxrCaptureModule(platform::Text name, platform::Text path, platform::Env& env)
    : TCaptureModule(std::move(name), std::move(path), env) {
  const bool bound = BindExport(FVXR_GetPrefix, "VXR_GetPrefix", VXR_ARGS_GetPrefix) &&
                     BindExport(FVXR_GetDeviceList, "VXR_GetDeviceList", VXR_ARGS_GetDeviceList) &&
                     BindExport(FVXR_OpenDevice, "VXR_OpenDevice", VXR_ARGS_OpenDevice) &&
                     BindExport(FVXR_CloseDevice, "VXR_CloseDevice", VXR_ARGS_CloseDevice) &&
                     BindExport(FVXR_GetMaxSize, "VXR_GetMaxSize", VXR_ARGS_GetMaxSize) &&
                     BindExport(FVXR_GetImage, "VXR_GetImage", VXR_ARGS_GetImage);
  const char* prefix = nullptr;
  if (bound) {
    BindExport(FVXR_ShutdownDevice, "VXR_ShutdownDevice", VXR_ARGS_ShutdownDevice);
    BindExport(FVXR_SendCommand, "VXR_SendCommand", VXR_ARGS_SendCommand);
    BindExport(FVXR_GetResult, "VXR_GetResult", VXR_ARGS_GetResult);
    prefix = FVXR_GetPrefix();
  }
  if (!prefix) {
    // The base destructor runs after this throw and finds nothing to unload.
    FHandle.reset();
    throw EVelmoraFP(u"Invalid module.");
  }
  FPrefix = platform::FromAnsi(prefix);
}

int32_t TVxrCaptureModule::DeviceCount() {
  TVxrDeviceList block{};
  if (FVXR_GetDeviceList(&block, sizeof(block)) < VXR_DEVICE_LIST_EMPTY_SIZE) {
    throw Exception(u"@@@0");
  }
  return static_cast<int32_t>(
      DeviceListCount(reinterpret_cast<const uint8_t*>(&block), sizeof(block)));
}

platform::Text TVxrCaptureModule::DeviceName(const std::string& serial) const {
  const platform::Text text = platform::FromAnsi(serial);
  if (text.empty()) return FPrefix;
  if (FPrefix.empty()) return text;
  return FPrefix + u"\\" + text;
}

int32_t TVxrCaptureModule::GetDeviceList(std::vector<platform::Text>& lista) {
  const platform::Text error = FName + u": GDL: Size error";
  TVxrDeviceList block{};
  const int32_t needed = FVXR_GetDeviceList(&block, sizeof(block));
  if (needed < VXR_DEVICE_LIST_EMPTY_SIZE) throw Exception(error + u"(0): " + Decimal(needed));
  if (DeviceListCount(reinterpret_cast<const uint8_t*>(&block), sizeof(block)) == 0) return 0;

  std::vector<uint8_t> buffer;
  try {
    buffer.assign(static_cast<size_t>(needed), 0);
  } catch (const std::bad_alloc&) {
    // A size no buffer can be made for is as wrong as one below 4.
    throw Exception(error + u"(0): " + Decimal(needed));
  }
  FVXR_GetDeviceList(reinterpret_cast<PVxrDeviceList>(buffer.data()), needed);
  std::vector<std::string> serials;
  const auto fault = ReadDeviceListBlock(buffer.data(), buffer.size(), serials);
  for (const std::string& serial : serials) lista.push_back(DeviceName(serial));
  if (fault) {
    throw Exception(error + u"(" + Decimal(fault->check) + u"): " + Decimal(fault->size) + u", " +
                    Decimal(fault->value));
  }
  return static_cast<int32_t>(DeviceListCount(buffer.data(), buffer.size()));
}

std::unique_ptr<TVxCaptureDevice> TVxrCaptureModule::OpenDevice(
    const platform::Text& serialNumber) {
  const std::string serial = platform::ToAnsi(serialNumber);
  TVxrCaptureHandle handle = FVXR_OpenDevice(serial.c_str());
  if (!handle) throw Exception(u"Could not open device " + FPrefix + u"\\" + serialNumber);
  std::unique_ptr<TVxrCaptureDeviceImpl> device;
  try {
    device = std::make_unique<TVxrCaptureDeviceImpl>(*this, handle);
  } catch (...) {
    FVXR_CloseDevice(handle);
    throw;
  }
  return device;
}

bool TVxrCaptureModule::CloseDevice(TVxrCaptureHandle handle) {
  return FVXR_CloseDevice(handle) != VXR_FALSE;
}

bool TVxrCaptureModule::ShutdownDevice(TVxrCaptureHandle handle) {
  if (!FVXR_ShutdownDevice) return true;
  return FVXR_ShutdownDevice(handle) != VXR_FALSE;
}

bool TVxrCaptureModule::GetMaxImageSize(TVxrCaptureHandle handle, TVxrImageSize& size) {
  return FVXR_GetMaxSize(handle, &size) != VXR_FALSE;
}

bool TVxrCaptureModule::GetImage(TVxrCaptureHandle handle, PVxrImage image) {
  return FVXR_GetImage(handle, image) != VXR_FALSE;
}

std::vector<uint8_t> TVxrCaptureModule::SendCommandBytes(TVxrCaptureHandle handle,
                                                         const platform::Text& command,
                                                         const void* args) {
  if (!FVXR_SendCommand || !FVXR_GetResult) throw Exception(u"Send command not available.");
  const std::string ansi_command = platform::ToAnsi(command);
  std::lock_guard lock(FCommandLock);
  const int32_t n = FVXR_SendCommand(handle, ansi_command.c_str(), args);
  if (n < 0) throw Exception(u"Send command error " + Decimal(n) + u".");
  std::vector<uint8_t> result;
  try {
    result.resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    throw Exception(u"Error getting command result.");
  }
  if (n > 0 && FVXR_GetResult(handle, result.data(), n) < n) {
    throw Exception(u"Error getting command result.");
  }
  return result;
}

platform::Text TVxrCaptureModule::SendCommandStr(TVxrCaptureHandle handle,
                                                 const platform::Text& command,
                                                 const platform::Text& args) {
  const std::string ansi_args = platform::ToAnsi(args);
  const std::vector<uint8_t> result = SendCommandBytes(handle, command, ansi_args.c_str());
  return platform::FromAnsi(
      std::string_view(reinterpret_cast<const char*>(result.data()), result.size()));
}

}  // namespace dactyra
