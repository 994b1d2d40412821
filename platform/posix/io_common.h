// Pieces shared by the POSIX device, pipe and serial back ends: owned
// descriptors, deadlines, errno mapping, the folders of GUIDE's forms, and
// writes that never raise SIGPIPE.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/io_error.h"
#include "platform/threads.h"

namespace dactyra::platform::internal {

class OwnedFd {
 public:
  OwnedFd() = default;
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() { Reset(); }
  OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedFd& operator=(OwnedFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void Reset();

 private:
  int fd_ = -1;
};

// A wait's end; none for kInfinite.
class IoDeadline {
 public:
  explicit IoDeadline(uint32_t timeout_ms);
  // Milliseconds left for poll(): -1 without a limit, 0 once passed.
  int RemainingMs() const;
  bool Passed() const { return RemainingMs() == 0; }

 private:
  bool infinite_;
  std::chrono::steady_clock::time_point at_;
};

IoError ErrorFromErrno(int error);
IoError MakeError(uint32_t code);

// <$variable>, else <runtime folder>/<sub>; made on demand and held to
// the runtime folder's rules (runtime_folder.h). Empty, with the reason,
// when it cannot be made or is not private to this user.
std::string IoFolder(const char* variable, const char* sub, IoError* error);

// write() with SIGPIPE blocked for the calling thread and any SIGPIPE it
// raised taken away: -1 with errno EPIPE instead of a signal.
long WriteNoSigpipe(int fd, const void* buffer, size_t size);

// Moves whole buffers over a non-blocking descriptor with poll(), until
// done, the deadline, or `cancel_fd` (when >= 0) becomes readable.
IoResult ReadAll(int fd, uint8_t* buffer, uint32_t size, const IoDeadline& deadline, int cancel_fd,
                 bool eof_is_failure);
IoResult WriteAll(int fd, const uint8_t* buffer, uint32_t size, const IoDeadline& deadline,
                  int cancel_fd);

}  // namespace dactyra::platform::internal
