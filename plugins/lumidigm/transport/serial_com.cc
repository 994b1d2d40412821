#include "plugins/lumidigm/transport/serial_com.h"

#include <cstdio>

namespace dactyra::v100 {

void SerialCom::Record(const char* format, const char* text, uint32_t code) {
  char buffer[kSerialMessageMax + 1];
  if (text != nullptr) {
    std::snprintf(buffer, sizeof buffer, format, text, code);
  } else {
    std::snprintf(buffer, sizeof buffer, format, code);
  }
  message_ = buffer;
}

bool SerialCom::OpenPort(const std::string& port) {
  const std::string device = "//./" + port;
  platform::IoError error;
  port_ = env_.OpenSerialPort(platform::FromAnsi(device), &error);
  last_result_ = port_ ? 1 : 0;
  if (!port_) {
    Record("OpenPort Failed for port (%s) with error code (%d)", device.c_str(), error.code);
    return false;
  }
  return true;
}

bool SerialCom::Configure(uint32_t baud_rate) {
  if (!port_) return false;
  platform::IoError error;
  if (!port_->GetState(state_, &error)) {
    Record("ConfigureCOMPort Failed, GetCommState returned error code (%d)", nullptr, error.code);
    ClosePort();
    return false;
  }
  // Continue-on-XOFF and the error character keep their settings.
  state_.baud_rate = baud_rate;
  state_.byte_size = 8;
  state_.parity = platform::SerialState::kNoParity;
  state_.stop_bits = platform::SerialState::kOneStopBit;
  state_.binary = true;
  state_.parity_check = false;
  state_.outx_cts_flow = false;
  state_.outx_dsr_flow = false;
  state_.dsr_sensitivity = false;
  state_.out_x = false;
  state_.in_x = false;
  state_.null_stripping = false;
  state_.abort_on_error = false;
  state_.dtr_control = platform::SerialState::kDisable;
  state_.rts_control = platform::SerialState::kDisable;
  if (!port_->SetState(state_, &error)) {
    Record("ConfigureCOMPort Failed, SetCommState returned error code (%d)", nullptr, error.code);
    ClosePort();
    return false;
  }
  SetTimeouts(130);
  return true;
}

bool SerialCom::SetTimeouts(uint32_t write_constant) {
  if (!port_ || !port_->GetTimeouts(timeouts_)) return false;
  timeouts_ = {100, 100, 100, 100, write_constant};
  if (!port_->SetTimeouts(timeouts_)) {
    ClosePort();
    return false;
  }
  return true;
}

void SerialCom::ClosePort() { port_.reset(); }

int SerialCom::ReadByte(uint8_t& byte) {
  if (!port_) return -1;
  uint32_t n = 0;
  const bool ok = port_->Read(&byte, 1, n);
  moved_ = n;
  last_result_ = ok ? 1 : 0;
  if (!ok) return -1;
  return n == 1 ? 1 : 0;
}

bool SerialCom::ReadExact(uint8_t* buffer, uint32_t count) {
  int empty = 0;
  for (uint32_t got = 0; got < count;) {
    const int r = ReadByte(buffer[got]);
    if (r < 0) return false;
    if (r == 1) {
      ++got;
    } else if (++empty >= 5) {
      return false;
    }
  }
  return true;
}

bool SerialCom::Write(const uint8_t* buffer, uint32_t count) {
  if (!port_) return false;
  uint32_t written = 0;
  const bool ok = port_->Write(buffer, count, written);
  moved_ = written;
  last_result_ = ok ? 1 : 0;
  return ok && written == count;
}

bool SerialCom::WriteControl(uint8_t byte) {
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (Write(&byte, 1)) return true;
  }
  return false;
}

void SerialCom::Drain() {
  for (int i = 0; i < 6; ++i) {
    uint8_t byte;
    const int r = ReadByte(byte);
    if (r < 0) {
      std::printf("\nTimeout");
      std::fflush(stdout);
    }
    if (r != 1) return;
  }
}

}  // namespace dactyra::v100
