#include "plugins/lumidigm/transport/serial_transports.h"

#include <cstdio>

#include "plugins/lumidigm/v100/packet.h"

namespace dactyra::v100 {

int32_t TransportRS232::Open(V100TransportInfo& info) {
  if (info.com_port < 1 || info.com_port > 10) return 1;
  port_ = std::make_unique<XModem>(env_);
  if (!port_->OpenPort("COM" + std::to_string(info.com_port)) ||
      !port_->Configure(info.baud_rate)) {
    return 1;
  }
  return 0;
}

int32_t TransportRS232::Close(V100TransportInfo& info) {
  if (port_) port_->ClosePort();
  port_.reset();
  info.write_handle = nullptr;
  return 0;
}

bool TransportRS232::GetLockName(std::string& name) const {
  name.clear();
  return false;
}

bool TransportRS232::Attempt(const uint8_t* request, uint32_t request_size, uint8_t* receive,
                             uint32_t& receive_length) {
  port_->WriteControl(xmodem::kNak);
  port_->WriteControl(xmodem::kNak);
  if (port_->Send({request, request_size}) < 128) return false;
  const uint32_t sent = env_.TickCount();
  for (int naks = 0; naks < 2;) {
    if (env_.TickCount() - sent >= kSerialLineBudgetMs) return false;
    uint8_t byte;
    const int r = port_->ReadByte(byte);
    if (r < 0) {
      // The port failed (the line is gone): no byte will come in the
      // rest of the budget, and each further read fails at once.
      std::printf("\nTimeout");
      std::fflush(stdout);
      return false;
    }
    if (r == 1 && byte == xmodem::kNak) ++naks;
  }
  const int received = port_->Receive({receive, receive_length});
  if (received <= 127) return false;
  receive_length = static_cast<uint32_t>(received);
  return true;
}

bool TransportRS232::Exchange(V100TransportInfo&, const uint8_t* request, uint32_t request_size,
                              uint8_t* receive, uint32_t& receive_length) {
  if (!port_ || !port_->IsOpen()) return false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t length = receive_length;
    if (Attempt(request, request_size, receive, length)) {
      receive_length = length;
      return true;
    }
    port_->Drain();
  }
  return false;
}

int32_t TransportRS232_NX::Open(V100TransportInfo& info) {
  port_ = std::make_unique<STranRS232>(env_);
  port_->port_name = "COM" + std::to_string(info.com_port);
  if (!port_->OpenPort(port_->port_name) || !port_->Configure(info.baud_rate & 0x0FFFFFFF) ||
      !port_->SetTimeouts(100)) {
    return 1;
  }
  return 0;
}

int32_t TransportRS232_NX::Close(V100TransportInfo& info) {
  if (port_) port_->ClosePort();
  port_.reset();
  info.write_handle = nullptr;
  return 0;
}

bool TransportRS232_NX::GetLockName(std::string& name) const {
  name.clear();
  return false;
}

bool TransportRS232_NX::Exchange(V100TransportInfo&, const uint8_t* request, uint32_t request_size,
                                 uint8_t* receive, uint32_t& receive_length) {
  if (!port_ || !port_->IsOpen()) return false;
  port_->WriteControl(xmodem::kAck);
  port_->WriteControl(xmodem::kAck);
  if (request_size < 1 || request_size > kSerialLargestPacket) return false;
  uint8_t size_bytes[4];
  StoreU32(size_bytes, request_size);
  if (!port_->Write(size_bytes, 4) || !port_->Write(request, request_size)) return false;

  const uint32_t started = env_.TickCount();
  for (uint32_t got = 0; got < 4;) {
    if (env_.TickCount() - started >= kSerialLineBudgetMs) return false;
    const int r = port_->ReadByte(size_bytes[got]);
    if (r < 0) return false;
    got += static_cast<uint32_t>(r);
  }
  const uint32_t size = LoadU32(size_bytes);
  // Never more than the receive buffer holds.
  if (size < 1 || size > kSerialLargestPacket || size > receive_length) return false;
  if (!port_->ReadExact(receive, size)) return false;
  receive_length = size;
  return true;
}

}  // namespace dactyra::v100
