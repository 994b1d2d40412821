// SerialCom: one serial port as the serial transports use it. Its port
// calls record their failures in a message text (255 bytes) instead of
// printing them; single-byte reads and control bytes are the units of the
// serial protocols above it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"

namespace dactyra::v100 {

inline constexpr size_t kSerialMessageMax = 254;

class SerialCom {
 public:
  explicit SerialCom(platform::Env& env = platform::Env::Default()) : env_(env) {}
  virtual ~SerialCom() = default;
  SerialCom(const SerialCom&) = delete;
  SerialCom& operator=(const SerialCom&) = delete;

  // Opens "//./<port>" ("COM3" say). Failure records "OpenPort Failed for
  // port (%s) with error code (%d)".
  bool OpenPort(const std::string& port);
  // Raw 8-N-1 at `baud_rate` without flow control, then the time-outs with
  // a write constant of 130 ms (their result does not count). Failure
  // records its message and closes the port.
  bool Configure(uint32_t baud_rate);
  // Read interval, read multiplier, read constant and write multiplier
  // 100 ms, write constant as given. A failed write of the time-outs closes
  // the port.
  bool SetTimeouts(uint32_t write_constant);
  void ClosePort();
  bool IsOpen() const { return port_ != nullptr; }

  // One byte: 1 when read, 0 when none came in the time-outs, -1 when the
  // port failed.
  int ReadByte(uint8_t& byte);
  // Exactly `count` bytes, one read each; at most five reads may come back
  // empty in all.
  bool ReadExact(uint8_t* buffer, uint32_t count);
  // One write of the whole buffer; true only when all of it went out.
  bool Write(const uint8_t* buffer, uint32_t count);
  // Up to 40 attempts, until one succeeds.
  bool WriteControl(uint8_t byte);
  // Reads single bytes until one read brings none, at most six.
  void Drain();

  const std::string& message() const { return message_; }
  uint32_t last_result() const { return last_result_; }
  uint32_t moved() const { return moved_; }

 protected:
  platform::Env& env_;

 private:
  void Record(const char* format, const char* text, uint32_t code);

  std::unique_ptr<platform::SerialPort> port_;
  platform::SerialState state_;
  platform::SerialTimeouts timeouts_;
  uint32_t last_result_ = 0;
  uint32_t moved_ = 0;
  std::string message_;
};

// A SerialCom with the name of its port.
class STranRS232 : public SerialCom {
 public:
  using SerialCom::SerialCom;
  std::string port_name;
};

}  // namespace dactyra::v100
