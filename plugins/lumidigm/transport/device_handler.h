// How many Lumidigm sensors there are and how to reach one: the device
// service's main pipe when it answers, else the sensors attached to this
// machine (device interfaces of the Lumidigm class).
//
// Every request opens its own connection to the main pipe and closes it;
// nothing about the service or the sensors is kept between calls.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/env.h"

namespace dactyra::v100 {

// The device-interface class of locally attached sensors.
inline constexpr char16_t kLumidigmInterfaceClass[] = u"{06B62F68-E35E-4F57-8BE2-A5BC6CCCC708}";
inline constexpr char16_t kDeviceHandlerMutexName[] = u"LumiDeviceHdlMutex";
inline constexpr char kMainPipeFormat[] = "\\\\%s\\PIPE\\LumiDeviceServiceMainPipe";
// Texts of the descriptor hold at most this many characters (260 bytes
// with the terminator).
inline constexpr size_t kDescriptorTextMax = 259;

// Codes of GetNumDevices and GetDevice.
inline constexpr int32_t kNoSuchDevice = 162;
inline constexpr int32_t kServiceDeviceError = 163;
inline constexpr int32_t kServiceReadFailed = 164;
inline constexpr int32_t kServiceWriteFailed = 165;
// The handler's named mutex was not had within kDeviceHandlerMutexWaitMs:
// another process holds it (stopped, say).
inline constexpr int32_t kDeviceHandlerBusy = 166;
// Its holders keep it for the moment an instance is made or dropped; one
// that keeps it this long has stopped.
inline constexpr uint32_t kDeviceHandlerMutexWaitMs = 2000;

// The description of one device.
struct V100DeviceDescriptor {
  uint32_t index = 0;           // device index (USB: the interface index)
  uint32_t transport_kind = 0;  // 0: TransportUSB, 1: TransportSE
  std::string pipe_name;        // TransportSE: the sensor's pipe at the service
  std::string host_name;        // the service host
  std::string second_name;      // first text of the names reply; kept, not used
  uint32_t service_id = 0;
  uint32_t kind_value = 0;
};

// The service host: the value "XDClientName" of the local machine's
// environment key, else of the current user's, else "." (this machine);
// at most 255 characters.
std::string ResolveServiceHost(platform::Env& env = platform::Env::Default());

// A descriptor with its texts cleared, its numbers 0 and the host resolved.
V100DeviceDescriptor NewDeviceDescriptor(platform::Env& env = platform::Env::Default());

class V100DeviceHandler {
 public:
  // The process's handler, created on demand under the named mutex
  // "LumiDeviceHdlMutex". Holders keep their handler alive: a
  // ReleaseInstance by another thread drops only the process's reference.
  // Null when the mutex was not had within kDeviceHandlerMutexWaitMs.
  static std::shared_ptr<V100DeviceHandler> GetInstance(
      platform::Env& env = platform::Env::Default());
  // Drops the process's handler and its named mutex; the next GetInstance
  // creates both afresh.
  static void ReleaseInstance();
  // The handler GetInstance would give, without creating one; null when
  // there is none.
  static std::shared_ptr<V100DeviceHandler> Current();

  explicit V100DeviceHandler(platform::Env& env) : env_(env) {}

  // 0 with the count (the local count, -1 when it is unknown, when the
  // service does not answer), or 164/165 when the service exchange failed
  // (count 0).
  int32_t GetNumDevices(int32_t& count);
  // 0 with `descriptor` filled, or 162 to 165. The host of `descriptor`
  // names the service asked.
  int32_t GetDevice(uint32_t device_number, V100DeviceDescriptor& descriptor);

  // Sensors attached to this machine: their count (-1 when the list could
  // not be taken) and the device path of sensor `n` (empty when none).
  int32_t LocalCount();
  std::string LocalDevicePath(uint32_t n);

  // The host the last count asked.
  std::string host_name() const {
    std::lock_guard guard(host_lock_);
    return host_name_;
  }

 private:
  platform::Env& env_;
  mutable std::mutex host_lock_;
  std::string host_name_;
};

// GetInstance, GetNumDevices and ReleaseInstance in turn;
// kDeviceHandlerBusy when there was no instance to be had.
int32_t CountDevices(int32_t& count, platform::Env& env = platform::Env::Default());

}  // namespace dactyra::v100
