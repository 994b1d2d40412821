// The serial transports. TransportRS232 moves each packet as an XMODEM
// transfer, announced by two NAK bytes each way; TransportRS232_NX moves
// it with a 32-bit length in front, announced by two ACK bytes. Neither
// takes a lock: one exchange at a time on one transport is the caller's
// duty.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"
#include "plugins/lumidigm/transport/serial_com.h"
#include "plugins/lumidigm/transport/xmodem.h"
#include "plugins/lumidigm/v100/transport.h"

namespace dactyra::v100 {

inline constexpr uint32_t kSerialLineBudgetMs = 5000;
inline constexpr uint32_t kSerialLargestPacket = 1u << 20;

class TransportRS232 final : public ITransport {
 public:
  explicit TransportRS232(platform::Env& env = platform::Env::Default()) : env_(env) {}

  // 0, or 1 when the COM number is outside 1-10 or the port could not be
  // opened or configured.
  int32_t Open(V100TransportInfo& info) override;
  int32_t Close(V100TransportInfo& info) override;
  // On success `receive_length` is the count of bytes the XMODEM transfer
  // stored (the packet and its padding to 128 bytes).
  bool Exchange(V100TransportInfo& info, const uint8_t* request, uint32_t request_size,
                uint8_t* receive, uint32_t& receive_length) override;
  bool GetLockName(std::string& name) const override;

  // The port's last failure message.
  std::string message() const { return port_ ? port_->message() : std::string(); }

 private:
  bool Attempt(const uint8_t* request, uint32_t request_size, uint8_t* receive,
               uint32_t& receive_length);

  platform::Env& env_;
  std::unique_ptr<XModem> port_;
};

class TransportRS232_NX final : public ITransport {
 public:
  explicit TransportRS232_NX(platform::Env& env = platform::Env::Default()) : env_(env) {}

  int32_t Open(V100TransportInfo& info) override;
  int32_t Close(V100TransportInfo& info) override;
  // On success `receive_length` is the announced and received size.
  bool Exchange(V100TransportInfo& info, const uint8_t* request, uint32_t request_size,
                uint8_t* receive, uint32_t& receive_length) override;
  bool GetLockName(std::string& name) const override;

  std::string message() const { return port_ ? port_->message() : std::string(); }

 private:
  platform::Env& env_;
  std::unique_ptr<STranRS232> port_;
};

}  // namespace dactyra::v100
