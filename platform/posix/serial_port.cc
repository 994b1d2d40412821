// Serial ports over termios. COMMTIMEOUTS become poll() waits.
#include "platform/serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/posix/io_common.h"

namespace dactyra::platform {
namespace {

using internal::OwnedFd;

// "COMn", "//./COMn" or "\\.\COMn" -> n; 0 for anything else.
unsigned PortNumber(const std::string& name) {
  std::string rest = name;
  if (rest.rfind("//./", 0) == 0 || rest.rfind("\\\\.\\", 0) == 0) rest = rest.substr(4);
  if (rest.size() < 4 || (rest.compare(0, 3, "COM") != 0 && rest.compare(0, 3, "com") != 0)) {
    return 0;
  }
  unsigned n = 0;
  for (size_t i = 3; i < rest.size(); ++i) {
    if (rest[i] < '0' || rest[i] > '9' || n > 100000) return 0;
    n = n * 10 + static_cast<unsigned>(rest[i] - '0');
  }
  return n;
}

struct Rate {
  uint32_t baud;
  speed_t speed;
};
constexpr Rate kRates[] = {
    {50, B50},         {75, B75},         {110, B110},        {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},        {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},      {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},  {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}};

bool SpeedOf(uint32_t baud, speed_t& speed) {
  for (const Rate& r : kRates) {
    if (r.baud == baud) {
      speed = r.speed;
      return true;
    }
  }
  return false;
}

uint32_t BaudOf(speed_t speed) {
  for (const Rate& r : kRates) {
    if (r.speed == speed) return r.baud;
  }
  return 0;
}

}  // namespace

struct SerialPort::Impl {
  OwnedFd fd;
  SerialState state;
  SerialTimeouts timeouts;
};

SerialPort::SerialPort() = default;
SerialPort::SerialPort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SerialPort::~SerialPort() = default;

std::unique_ptr<SerialPort> SerialPort::Open(const Text& name, IoError* error) {
  const unsigned n = PortNumber(ToUtf8(name));
  if (n == 0) {
    if (error) *error = internal::MakeError(io_error::kFileNotFound);
    return nullptr;
  }
  const char* folder = std::getenv("DACTYRA_SERIAL");
  // A relative folder would name a different port in every current folder.
  if (folder && *folder && *folder != '/') {
    if (error) {
      *error = IoError{io_error::kInvalidParameter,
                       FromUtf8("DACTYRA_SERIAL is \"" + std::string(folder) +
                                "\", not an absolute path")};
    }
    return nullptr;
  }
  const std::string device = folder && *folder ? std::string(folder) + "/COM" + std::to_string(n)
                                               : "/dev/ttyS" + std::to_string(n - 1);
  OwnedFd fd(open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    if (error) *error = internal::ErrorFromErrno(errno);
    return nullptr;
  }
  // One holder at a time, as on Windows: the lock keeps out other
  // processes of this library (even root's), TIOCEXCL other programs.
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (error) *error = internal::MakeError(io_error::kAccessDenied);
    return nullptr;
  }
  termios tio{};
  if (tcgetattr(fd.get(), &tio) != 0) {
    if (error) *error = internal::ErrorFromErrno(errno);
    return nullptr;
  }
  ioctl(fd.get(), TIOCEXCL);
  auto impl = std::make_unique<Impl>();
  impl->fd = std::move(fd);
  impl->state.baud_rate = BaudOf(cfgetospeed(&tio));
  std::unique_ptr<SerialPort> port(new SerialPort(std::move(impl)));
  // Raw 8-N-1 at the port's current rate.
  SerialState raw;
  raw.baud_rate = port->impl_->state.baud_rate ? port->impl_->state.baud_rate : 9600;
  if (!port->SetState(raw, error)) return nullptr;
  return port;
}

bool SerialPort::GetState(SerialState& state, IoError*) {
  state = impl_->state;
  return true;
}

bool SerialPort::SetState(const SerialState& state, IoError* error) {
  speed_t speed;
  if (!SpeedOf(state.baud_rate, speed) || state.byte_size < 5 || state.byte_size > 8) {
    if (error) *error = internal::MakeError(io_error::kInvalidParameter);
    return false;
  }
  termios tio{};
  if (tcgetattr(impl_->fd.get(), &tio) != 0) {
    if (error) *error = internal::ErrorFromErrno(errno);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio.c_cflag |= state.byte_size == 5   ? CS5
                 : state.byte_size == 6 ? CS6
                 : state.byte_size == 7 ? CS7
                                        : CS8;
  if (state.parity != SerialState::kNoParity) tio.c_cflag |= PARENB;
  if (state.parity == SerialState::kOddParity) tio.c_cflag |= PARODD;
  if (state.stop_bits == SerialState::kTwoStopBits) tio.c_cflag |= CSTOPB;
  if (state.outx_cts_flow || state.rts_control == SerialState::kHandshake) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  if (state.out_x) tio.c_iflag |= IXON;
  if (state.in_x) tio.c_iflag |= IXOFF;
  if (state.parity_check) tio.c_iflag |= INPCK;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(impl_->fd.get(), TCSANOW, &tio) != 0) {
    if (error) *error = internal::ErrorFromErrno(errno);
    return false;
  }
  // DTR and RTS follow their control settings; a pseudo-terminal has no
  // modem lines, so failures here are not the port's.
  int lines = TIOCM_DTR;
  ioctl(impl_->fd.get(), state.dtr_control == SerialState::kEnable ? TIOCMBIS : TIOCMBIC, &lines);
  lines = TIOCM_RTS;
  ioctl(impl_->fd.get(), state.rts_control == SerialState::kEnable ? TIOCMBIS : TIOCMBIC, &lines);
  impl_->state = state;
  return true;
}

bool SerialPort::GetTimeouts(SerialTimeouts& timeouts, IoError*) {
  timeouts = impl_->timeouts;
  return true;
}

bool SerialPort::SetTimeouts(const SerialTimeouts& timeouts, IoError*) {
  impl_->timeouts = timeouts;
  return true;
}

bool SerialPort::Read(uint8_t* buffer, uint32_t size, uint32_t& read_count, IoError* error) {
  read_count = 0;
  const SerialTimeouts& t = impl_->timeouts;
  const bool at_once =
      t.read_interval == 0xFFFFFFFFu && t.read_total_multiplier == 0 && t.read_total_constant == 0;
  const uint64_t total = uint64_t{t.read_total_multiplier} * size + t.read_total_constant;
  const bool no_total = t.read_total_multiplier == 0 && t.read_total_constant == 0;
  const internal::IoDeadline deadline(
      at_once    ? 0
      : no_total ? kInfinite
                 : static_cast<uint32_t>(std::min<uint64_t>(total, 0xFFFFFFFEu)));
  // A terminal hung up (the other side of a pseudo-terminal gone) reads
  // nothing, as an idle one does, but polls as hung up besides.
  bool hung_up = false;
  while (read_count < size) {
    const long n = ::read(impl_->fd.get(), buffer + read_count, size - read_count);
    if (n > 0) {
      read_count += static_cast<uint32_t>(n);
      continue;
    }
    if (n == 0 && hung_up) {
      if (error) *error = internal::MakeError(io_error::kBrokenPipe);
      return false;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      // A pseudo-terminal whose other side closed reads EIO: the line is
      // gone.
      if (error) *error = internal::ErrorFromErrno(errno);
      return false;
    }
    if (at_once) return true;
    int wait = deadline.RemainingMs();
    if (wait == 0) return true;
    const bool interval = read_count > 0 && t.read_interval != 0 && t.read_interval != 0xFFFFFFFFu;
    if (interval && (wait < 0 || static_cast<uint32_t>(wait) > t.read_interval)) {
      wait = static_cast<int>(t.read_interval);
    }
    pollfd fds{impl_->fd.get(), POLLIN, 0};
    const int ready = poll(&fds, 1, wait);
    if (ready < 0 && errno != EINTR) {
      if (error) *error = internal::ErrorFromErrno(errno);
      return false;
    }
    if (ready == 0 && interval) return true;  // the line went quiet between bytes
    if (ready > 0 && (fds.revents & (POLLHUP | POLLERR)) && !(fds.revents & POLLIN)) {
      if (error) *error = internal::MakeError(io_error::kBrokenPipe);
      return false;
    }
    hung_up = ready > 0 && (fds.revents & (POLLHUP | POLLERR));
  }
  return true;
}

bool SerialPort::Write(const uint8_t* buffer, uint32_t size, uint32_t& written, IoError* error) {
  const SerialTimeouts& t = impl_->timeouts;
  const bool no_total = t.write_total_multiplier == 0 && t.write_total_constant == 0;
  const uint64_t total = uint64_t{t.write_total_multiplier} * size + t.write_total_constant;
  const internal::IoDeadline deadline(
      no_total ? kInfinite : static_cast<uint32_t>(std::min<uint64_t>(total, 0xFFFFFFFEu)));
  const IoResult r = internal::WriteAll(impl_->fd.get(), buffer, size, deadline, -1);
  written = r.bytes;
  if (r.status == IoStatus::kFailed) {
    if (error) *error = r.error;
    return false;
  }
  return true;
}

}  // namespace dactyra::platform
