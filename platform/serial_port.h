// Serial ports with Win32's model: the port state (DCB) and the time-outs
// (COMMTIMEOUTS). "COMn" (also "//./COMn" or "\\.\COMn") is
// $DACTYRA_SERIAL/COMn when that variable is set, else /dev/ttyS<n-1>. A
// port is opened exclusively, in raw 8-N-1 mode until SetState says
// otherwise.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/io_error.h"
#include "platform/text.h"

namespace dactyra::platform {

// The fields of Win32's DCB that a POSIX port can honour.
struct SerialState {
  uint32_t baud_rate = 9600;
  uint8_t byte_size = 8;
  enum Parity : uint8_t { kNoParity = 0, kOddParity = 1, kEvenParity = 2 } parity = kNoParity;
  enum StopBits : uint8_t { kOneStopBit = 0, kTwoStopBits = 2 } stop_bits = kOneStopBit;
  bool binary = true;
  bool parity_check = false;
  bool outx_cts_flow = false;
  bool outx_dsr_flow = false;
  bool dsr_sensitivity = false;
  bool tx_continue_on_xoff = false;
  bool out_x = false;  // XON/XOFF on output
  bool in_x = false;   // XON/XOFF on input
  bool error_char = false;
  bool null_stripping = false;
  bool abort_on_error = false;
  enum Control : uint8_t { kDisable = 0, kEnable = 1, kHandshake = 2 };
  Control dtr_control = kDisable;
  Control rts_control = kDisable;
};

// Win32's COMMTIMEOUTS, in milliseconds. A read of n bytes ends when n
// arrived, when `read_total_multiplier` × n + `read_total_constant` has
// passed (both 0: no total limit), or when more than `read_interval` passed
// between two bytes after the first (0: no interval limit). With
// read_interval 0xFFFFFFFF and both totals 0 a read returns at once with
// what is there.
struct SerialTimeouts {
  uint32_t read_interval = 0;
  uint32_t read_total_multiplier = 0;
  uint32_t read_total_constant = 0;
  uint32_t write_total_multiplier = 0;
  uint32_t write_total_constant = 0;
};

class SerialPort {
 public:
  // Opens "COMn" exclusively: kAccessDenied when another holder has it,
  // kFileNotFound when there is no such port.
  static std::unique_ptr<SerialPort> Open(const Text& name, IoError* error = nullptr);
  virtual ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  virtual bool GetState(SerialState& state, IoError* error = nullptr);
  // kInvalidParameter for a rate or a byte size the port cannot take.
  virtual bool SetState(const SerialState& state, IoError* error = nullptr);
  virtual bool GetTimeouts(SerialTimeouts& timeouts, IoError* error = nullptr);
  virtual bool SetTimeouts(const SerialTimeouts& timeouts, IoError* error = nullptr);
  // Reads up to `size` bytes under the time-outs: true with the count
  // (possibly 0: the time ran out), false when the port failed.
  virtual bool Read(uint8_t* buffer, uint32_t size, uint32_t& read, IoError* error = nullptr);
  // Writes under the write time-outs; true with the count written.
  virtual bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written,
                     IoError* error = nullptr);

 protected:
  SerialPort();

 private:
  struct Impl;
  explicit SerialPort(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace dactyra::platform
