// The transport record of one device and the abstract transport that
// carries V100 packets to it. The concrete transports (USB pipes, the
// device service, serial lines) implement ITransport.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace dactyra::v100 {

class ITransport;
struct V100DeviceDescriptor;

// One per open device; created by its owner, filled by the transport.
struct V100TransportInfo {
  // Index of the device in the device handler's enumeration.
  uint32_t device_number = 0;
  // USB: the device's input pipe. Serial: before opening, 0 or 0x80000000
  // selects the serial transport.
  void* read_handle = nullptr;
  // USB: the device's output pipe.
  void* write_handle = nullptr;
  // Serial transports only.
  uint32_t com_port = 0;
  // 0 or 255: USB or device-service transport; any other value: a serial
  // transport at that rate.
  uint32_t baud_rate = 0;
  // The open transport; null when closed.
  ITransport* transport = nullptr;
  // While opening only: the description of the device (the record's
  // transport field holds it at that time in the original layout).
  const V100DeviceDescriptor* descriptor = nullptr;
};

class ITransport {
 public:
  virtual ~ITransport() = default;

  // The buffer Execute receives an answer into: the largest answer's size,
  // made at the first exchange and kept while the transport is open, so an
  // exchange neither allocates nor touches fresh pages. Exchanges on one
  // transport are made one at a time (the front's step lock sees to it for
  // a device), so one buffer serves them all. Empty when it cannot be had.
  std::span<uint8_t> ReceiveBuffer();

  // 0 on success, otherwise a nonzero code.
  virtual int32_t Open(V100TransportInfo& info) = 0;
  virtual int32_t Close(V100TransportInfo& info) = 0;
  // Sends `request_size` bytes and receives one response packet into
  // `receive`. On entry `receive_length` is the capacity of `receive`, on
  // success the number of bytes received. True when a response came.
  virtual bool Exchange(V100TransportInfo& info, const uint8_t* request, uint32_t request_size,
                        uint8_t* receive, uint32_t& receive_length) = 0;
  // The name of the mutex that serialises exchanges with the device.
  virtual bool GetLockName(std::string& name) const = 0;

  // Ends the exchange another thread has in progress, if any, and fails
  // every exchange from then on: what a shutdown does, before it closes
  // the transport, so as not to wait out a sensor that answers late.
  // Callable from any thread while the transport is open. Transports whose
  // waits cannot be ended do nothing.
  virtual void CancelExchanges() {}

 private:
  std::unique_ptr<uint8_t[]> receive_buffer_;
};

}  // namespace dactyra::v100
