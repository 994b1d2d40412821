// Device interfaces of a class (SetupAPI's present device interfaces) and
// the pipes below a device path, with the host's bounded, cancellable reads
// and writes, and the device's side of the same pipes for stand-ins.
//
// On Windows the interfaces are SetupAPI's, and a pipe is opened with
// CreateFile for overlapped I/O. A stand-in cannot add a device to
// SetupAPI's list (a driver does that): it presents its device as the named
// pipes "\\.\pipe\dactyra-devices\{CLASS}\<name>\PIPE_0xNN", reached by that
// path (its device_path()) but not listed.
//
// On POSIX the interfaces of class {GUID} are the sub-folders of
// <devices>/{GUID}/, where <devices> is $DACTYRA_DEVICES, else "devices" in
// the per-user runtime folder; the n-th folder name in byte order is
// enumeration index n, and its device path is "\\?\" + the folder name.
// A pipe "<device path>\PIPE_0xNN" is the FIFO of that name in the folder:
// PIPE_0x01 carries bytes from host to device, PIPE_0x00 from device to
// host. A FIFO has no transfer boundaries: a read of n bytes ends when n
// bytes have arrived or its wait runs out, and only then reports what it
// got. No operation ever raises SIGPIPE.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/io_error.h"
#include "platform/text.h"

namespace dactyra::platform {

// Device paths of the present interfaces of `class_guid` (braces, any
// letter case), in enumeration order. A class with no devices gives an
// empty list; false, with `error`, when the list could not be taken.
bool ListDeviceInterfaces(const Text& class_guid, std::vector<Text>& device_paths,
                          IoError* error = nullptr);

// One pipe of a device, opened by the host. Operations on one pipe are
// made by one thread at a time; CancelIo may come from any thread.
class DevicePipe {
 public:
  // Opens `path` (a device path + "\PIPE_0x00" or "\PIPE_0x01") without
  // ever blocking; an absent device fails at once (kFileNotFound).
  static std::unique_ptr<DevicePipe> Open(const Text& path, IoError* error = nullptr);
  virtual ~DevicePipe();
  DevicePipe(const DevicePipe&) = delete;
  DevicePipe& operator=(const DevicePipe&) = delete;

  // Reads `size` bytes into `buffer`: kDone when all arrived within
  // `timeout_ms`, kTimedOut with the count that did, kFailed when the
  // device went away. A zero-length read is done at once.
  virtual IoResult Read(uint8_t* buffer, uint32_t size, uint32_t timeout_ms);
  // Writes `size` bytes; a zero-length write sends nothing and is done.
  virtual IoResult Write(const uint8_t* buffer, uint32_t size, uint32_t timeout_ms);
  // Ends the operation in progress on this pipe, if any, with kCancelled.
  virtual void CancelIo();

 protected:
  // For pipes of other making (test doubles): they override every virtual
  // operation.
  DevicePipe();

 private:
  friend class PresentDevice;
  struct Impl;
  explicit DevicePipe(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The device's side: a stand-in presents itself as interface `name` of
// `class_guid`, creating its folder and both FIFOs (Windows: both named
// pipes), and keeps them open while the object lives; destroying it removes
// them (the device goes). Hosts may come and go while it is present.
class PresentDevice {
 public:
  static std::unique_ptr<PresentDevice> Create(const Text& class_guid, const Text& name,
                                               IoError* error = nullptr);
  ~PresentDevice();
  PresentDevice(const PresentDevice&) = delete;
  PresentDevice& operator=(const PresentDevice&) = delete;

  // The device path hosts open ("\\?\" + name).
  const Text& device_path() const { return device_path_; }
  // Bytes from the host (PIPE_0x01) and to the host (PIPE_0x00).
  DevicePipe& from_host() { return *from_host_; }
  DevicePipe& to_host() { return *to_host_; }

 private:
  PresentDevice() = default;
  Text device_path_;
  std::string folder_;
  std::unique_ptr<DevicePipe> from_host_;
  std::unique_ptr<DevicePipe> to_host_;
};

}  // namespace dactyra::platform
