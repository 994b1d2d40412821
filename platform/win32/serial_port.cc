// Serial ports over the Win32 communications functions: "\\.\COMn" opened
// exclusively, its DCB and COMMTIMEOUTS set as given, blocking ReadFile and
// WriteFile bounded by those time-outs.
#include "platform/serial_port.h"

#include "platform/win32/win32_common.h"

namespace dactyra::platform {
namespace {

using internal::OwnedHandle;

// "COMn", "//./COMn" or "\\.\COMn" -> n; 0 for anything else.
unsigned PortNumber(TextView name) {
  if (name.starts_with(u"//./") || name.starts_with(u"\\\\.\\")) name.remove_prefix(4);
  if (name.size() < 4 || !SameTextAsciiNoCase(name.substr(0, 3), u"COM")) return 0;
  unsigned n = 0;
  for (const char16_t c : name.substr(3)) {
    if (c < u'0' || c > u'9' || n > 100000) return 0;
    n = n * 10 + static_cast<unsigned>(c - u'0');
  }
  return n;
}

bool Fail(IoError* error, DWORD code) {
  if (error) *error = internal::MakeIoError(code);
  return false;
}

}  // namespace

struct SerialPort::Impl {
  OwnedHandle port;
};

SerialPort::SerialPort() = default;
SerialPort::SerialPort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SerialPort::~SerialPort() = default;

std::unique_ptr<SerialPort> SerialPort::Open(const Text& name, IoError* error) {
  const unsigned n = PortNumber(name);
  if (n == 0) {
    Fail(error, ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  const Text device = u"\\\\.\\COM" + FromUtf8(std::to_string(n));
  auto impl = std::make_unique<Impl>();
  // Not shared: a second opener gets ERROR_ACCESS_DENIED.
  impl->port.Reset(CreateFileW(internal::Wide(device), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr));
  if (!impl->port.valid()) {
    Fail(error, GetLastError());
    return nullptr;
  }
  std::unique_ptr<SerialPort> port(new SerialPort(std::move(impl)));
  // Raw 8-N-1 at the port's current rate, as on every platform.
  SerialState raw;
  if (!port->GetState(raw, error)) return nullptr;
  const uint32_t rate = raw.baud_rate ? raw.baud_rate : 9600;
  raw = SerialState{};
  raw.baud_rate = rate;
  if (!port->SetState(raw, error)) return nullptr;
  return port;
}

bool SerialPort::GetState(SerialState& state, IoError* error) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(impl_->port.get(), &dcb)) return Fail(error, GetLastError());
  state.baud_rate = dcb.BaudRate;
  state.byte_size = dcb.ByteSize;
  state.parity = dcb.Parity == ODDPARITY    ? SerialState::kOddParity
                 : dcb.Parity == EVENPARITY ? SerialState::kEvenParity
                                            : SerialState::kNoParity;
  state.stop_bits = dcb.StopBits == TWOSTOPBITS ? SerialState::kTwoStopBits : SerialState::kOneStopBit;
  state.binary = dcb.fBinary;
  state.parity_check = dcb.fParity;
  state.outx_cts_flow = dcb.fOutxCtsFlow;
  state.outx_dsr_flow = dcb.fOutxDsrFlow;
  state.dsr_sensitivity = dcb.fDsrSensitivity;
  state.tx_continue_on_xoff = dcb.fTXContinueOnXoff;
  state.out_x = dcb.fOutX;
  state.in_x = dcb.fInX;
  state.error_char = dcb.fErrorChar;
  state.null_stripping = dcb.fNull;
  state.abort_on_error = dcb.fAbortOnError;
  state.dtr_control = static_cast<SerialState::Control>(dcb.fDtrControl);
  state.rts_control = dcb.fRtsControl == RTS_CONTROL_HANDSHAKE ? SerialState::kHandshake
                      : dcb.fRtsControl == RTS_CONTROL_ENABLE  ? SerialState::kEnable
                                                               : SerialState::kDisable;
  return true;
}

bool SerialPort::SetState(const SerialState& state, IoError* error) {
  if (state.byte_size < 5 || state.byte_size > 8 || state.baud_rate == 0) {
    return Fail(error, ERROR_INVALID_PARAMETER);
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(impl_->port.get(), &dcb)) return Fail(error, GetLastError());
  dcb.BaudRate = state.baud_rate;
  dcb.ByteSize = state.byte_size;
  dcb.Parity = state.parity == SerialState::kOddParity    ? ODDPARITY
               : state.parity == SerialState::kEvenParity ? EVENPARITY
                                                          : NOPARITY;
  dcb.StopBits = state.stop_bits == SerialState::kTwoStopBits ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fBinary = state.binary;
  dcb.fParity = state.parity_check;
  dcb.fOutxCtsFlow = state.outx_cts_flow;
  dcb.fOutxDsrFlow = state.outx_dsr_flow;
  dcb.fDsrSensitivity = state.dsr_sensitivity;
  dcb.fTXContinueOnXoff = state.tx_continue_on_xoff;
  dcb.fOutX = state.out_x;
  dcb.fInX = state.in_x;
  dcb.fErrorChar = state.error_char;
  dcb.fNull = state.null_stripping;
  dcb.fAbortOnError = state.abort_on_error;
  dcb.fDtrControl = state.dtr_control == SerialState::kEnable      ? DTR_CONTROL_ENABLE
                    : state.dtr_control == SerialState::kHandshake ? DTR_CONTROL_HANDSHAKE
                                                                   : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = state.rts_control == SerialState::kEnable      ? RTS_CONTROL_ENABLE
                    : state.rts_control == SerialState::kHandshake ? RTS_CONTROL_HANDSHAKE
                                                                   : RTS_CONTROL_DISABLE;
  if (!SetCommState(impl_->port.get(), &dcb)) return Fail(error, GetLastError());
  return true;
}

bool SerialPort::GetTimeouts(SerialTimeouts& timeouts, IoError* error) {
  COMMTIMEOUTS t{};
  if (!GetCommTimeouts(impl_->port.get(), &t)) return Fail(error, GetLastError());
  timeouts = SerialTimeouts{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                            t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                            t.WriteTotalTimeoutConstant};
  return true;
}

bool SerialPort::SetTimeouts(const SerialTimeouts& timeouts, IoError* error) {
  COMMTIMEOUTS t{timeouts.read_interval, timeouts.read_total_multiplier,
                 timeouts.read_total_constant, timeouts.write_total_multiplier,
                 timeouts.write_total_constant};
  if (!SetCommTimeouts(impl_->port.get(), &t)) return Fail(error, GetLastError());
  return true;
}

bool SerialPort::Read(uint8_t* buffer, uint32_t size, uint32_t& read, IoError* error) {
  DWORD got = 0;
  const BOOL ok = ReadFile(impl_->port.get(), buffer, size, &got, nullptr);
  read = got;
  return ok || Fail(error, GetLastError());
}

bool SerialPort::Write(const uint8_t* buffer, uint32_t size, uint32_t& written, IoError* error) {
  DWORD put = 0;
  const BOOL ok = WriteFile(impl_->port.get(), buffer, size, &put, nullptr);
  written = put;
  return ok || Fail(error, GetLastError());
}

}  // namespace dactyra::platform
