// Descriptors handed to other modules as handles: never below 3 (so a null
// handle never names one), close-on-exec, non-blocking; and a poll that
// keeps to a time-out across interruptions.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

#include "platform/threads.h"

namespace dactyra::platform::internal {

// Moves `fd` to 3 or above when it is lower (a process without standard
// streams); -1 when that fails, the original closed.
inline int LiftDescriptor(int fd) {
  if (fd < 0 || fd >= 3) return fd;
  const int lifted = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int saved = errno;
  close(fd);
  errno = saved;
  return lifted;
}

inline uint64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// Waits until `fd` is readable or `timeout_ms` has passed (kInfinite: no
// limit); true when readable.
inline bool WaitReadable(int fd, uint32_t timeout_ms) {
  const uint64_t deadline = MonotonicMs() + timeout_ms;
  for (;;) {
    int wait = -1;
    if (timeout_ms != kInfinite) {
      const uint64_t now = MonotonicMs();
      wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
    }
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, wait);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace dactyra::platform::internal
