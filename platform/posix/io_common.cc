#include "platform/posix/io_common.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/posix/runtime_folder.h"
#include "platform/posix/system_message.h"

namespace dactyra::platform {

Text IoErrorMessage(uint32_t code) {
  switch (code) {
    case io_error::kNone:
      return internal::SystemMessage(0);
    case io_error::kFileNotFound:
      return internal::SystemMessage(ENOENT);
    case io_error::kPathNotFound:
      return internal::SystemMessage(ENOTDIR);
    case io_error::kAccessDenied:
      return internal::SystemMessage(EACCES);
    case io_error::kInvalidHandle:
      return internal::SystemMessage(EBADF);
    case io_error::kSharingViolation:
      return internal::SystemMessage(EBUSY);
    case io_error::kInvalidParameter:
      return internal::SystemMessage(EINVAL);
    case io_error::kBrokenPipe:
      return internal::SystemMessage(EPIPE);
    case io_error::kSemTimeout:
    case io_error::kTimeout:
      return internal::SystemMessage(ETIMEDOUT);
    case io_error::kPipeBusy:
      return internal::SystemMessage(EAGAIN);
    case io_error::kNoMoreItems:
      return internal::SystemMessage(ENODATA);
    case io_error::kOperationAborted:
      return internal::SystemMessage(ECANCELED);
    default:
      return internal::SystemMessage(EIO);
  }
}

namespace internal {

void OwnedFd::Reset() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

IoDeadline::IoDeadline(uint32_t timeout_ms)
    : infinite_(timeout_ms == kInfinite),
      at_(std::chrono::steady_clock::now() +
          std::chrono::milliseconds(infinite_ ? 0 : timeout_ms)) {}

int IoDeadline::RemainingMs() const {
  if (infinite_) return -1;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(at_ - std::chrono::steady_clock::now());
  if (left.count() <= 0) return 0;
  // Round up so that a wait never ends just before its time.
  return static_cast<int>(std::min<int64_t>(left.count() + 1, 1 << 30));
}

IoError MakeError(uint32_t code) { return IoError{code, IoErrorMessage(code)}; }

IoError ErrorFromErrno(int error) {
  uint32_t code;
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ECONNREFUSED:
    case ENODEV:
      code = io_error::kFileNotFound;
      break;
    case ENOTDIR:
      code = io_error::kPathNotFound;
      break;
    case EACCES:
    case EPERM:
      code = io_error::kAccessDenied;
      break;
    case EBADF:
      code = io_error::kInvalidHandle;
      break;
    case EBUSY:
    case EWOULDBLOCK:
      code = io_error::kSharingViolation;
      break;
    case EINVAL:
      code = io_error::kInvalidParameter;
      break;
    case EPIPE:
    case ECONNRESET:
      code = io_error::kBrokenPipe;
      break;
    case ETIMEDOUT:
      code = io_error::kSemTimeout;
      break;
    case ECANCELED:
      code = io_error::kOperationAborted;
      break;
    default:
      code = io_error::kGeneric;
      break;
  }
  return IoError{code, SystemMessage(error)};
}

std::string IoFolder(const char* variable, const char* sub, IoError* error) {
  const char* over = std::getenv(variable);
  if (over && *over) return PrivateFolder(over, variable, error);
  Text reason;
  const std::string runtime = RuntimeFolder(&reason);
  if (runtime.empty()) {
    if (error) *error = IoError{io_error::kAccessDenied, reason};
    return {};
  }
  return PrivateFolder(runtime + "/" + sub, "DACTYRA_RUNTIME", error);
}

long WriteNoSigpipe(int fd, const void* buffer, size_t size) {
  sigset_t pipe_only, old;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  // Was a SIGPIPE pending for this thread already? Then it is not ours.
  sigset_t pending;
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old);
  const long n = write(fd, buffer, size);
  const int saved = errno;
  if (n < 0 && saved == EPIPE && !was_pending) {
    const timespec zero{0, 0};
    while (sigtimedwait(&pipe_only, nullptr, &zero) == -1 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = saved;
  return n;
}

namespace {

// 1: fd ready, 0: timed out, -2: cancelled, -1: error (errno).
int WaitReady(int fd, short events, const IoDeadline& deadline, int cancel_fd) {
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {cancel_fd, POLLIN, 0}};
    const int n = poll(fds, cancel_fd >= 0 ? 2 : 1, deadline.RemainingMs());
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (cancel_fd >= 0 && (fds[1].revents & POLLIN)) return -2;
    if (n == 0) return 0;
    return 1;
  }
}

IoResult Ended(IoStatus status, uint32_t bytes, IoError error = {}) {
  return IoResult{status, bytes, std::move(error)};
}

}  // namespace

IoResult ReadAll(int fd, uint8_t* buffer, uint32_t size, const IoDeadline& deadline, int cancel_fd,
                 bool eof_is_failure) {
  uint32_t got = 0;
  while (got < size) {
    const long n = read(fd, buffer + got, size - got);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
      continue;
    }
    if (n == 0) {
      if (eof_is_failure) return Ended(IoStatus::kFailed, got, MakeError(io_error::kBrokenPipe));
      // No writer at the moment (a FIFO between devices): keep waiting.
      if (deadline.Passed()) return Ended(IoStatus::kTimedOut, got);
      struct timespec pause {
        0, 2'000'000
      };
      nanosleep(&pause, nullptr);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return Ended(IoStatus::kFailed, got, ErrorFromErrno(errno));
    const int ready = WaitReady(fd, POLLIN, deadline, cancel_fd);
    if (ready == -2)
      return Ended(IoStatus::kCancelled, got, MakeError(io_error::kOperationAborted));
    if (ready == 0) return Ended(IoStatus::kTimedOut, got, MakeError(io_error::kSemTimeout));
    if (ready < 0) return Ended(IoStatus::kFailed, got, ErrorFromErrno(errno));
  }
  return Ended(IoStatus::kDone, got);
}

IoResult WriteAll(int fd, const uint8_t* buffer, uint32_t size, const IoDeadline& deadline,
                  int cancel_fd) {
  uint32_t put = 0;
  while (put < size) {
    const long n = WriteNoSigpipe(fd, buffer + put, size - put);
    if (n > 0) {
      put += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return Ended(IoStatus::kFailed, put, ErrorFromErrno(errno));
    const int ready = WaitReady(fd, POLLOUT, deadline, cancel_fd);
    if (ready == -2)
      return Ended(IoStatus::kCancelled, put, MakeError(io_error::kOperationAborted));
    if (ready == 0) return Ended(IoStatus::kTimedOut, put, MakeError(io_error::kSemTimeout));
    if (ready < 0) return Ended(IoStatus::kFailed, put, ErrorFromErrno(errno));
  }
  return Ended(IoStatus::kDone, put);
}

}  // namespace internal
}  // namespace dactyra::platform
