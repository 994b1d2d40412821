// The POSIX shared event: an eventfd; another module signals it by writing
// DACTYRA_EVENT_SIGNAL, a wait reads (and so resets) the counter.
#include "platform/shared_event.h"

#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/foreign_handles.h"
#include "platform/posix/foreign_fd.h"
#include "platform/posix/system_message.h"

namespace dactyra::platform {

std::unique_ptr<SharedEvent> SharedEvent::Create(Text* error) {
  const int fd = internal::LiftDescriptor(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (fd < 0) {
    if (error) *error = internal::SystemMessage(errno);
    return nullptr;
  }
  return std::unique_ptr<SharedEvent>(new SharedEvent(fd));
}

SharedEvent::SharedEvent(int fd) : fd_(fd) {}

SharedEvent::~SharedEvent() {
  if (fd_ >= 0) close(fd_);
}

void* SharedEvent::Handle() const { return DACTYRA_FD_HANDLE(fd_); }

void SharedEvent::Set() {
  const uint64_t one = DACTYRA_EVENT_SIGNAL;
  // Fails only when the counter would overflow: it is signalled already.
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

bool SharedEvent::Wait(uint32_t timeout_ms) {
  const uint64_t deadline = internal::MonotonicMs() + timeout_ms;
  for (;;) {
    uint64_t count;
    // Reading takes the whole count: every Set so far is consumed at once.
    // Several waiters may see the descriptor readable; only one reads.
    const ssize_t got = read(fd_, &count, sizeof count);
    if (got == static_cast<ssize_t>(sizeof count)) return true;
    if (got < 0 && errno == EINTR) continue;
    uint32_t remaining = kInfinite;
    if (timeout_ms != kInfinite) {
      const uint64_t now = internal::MonotonicMs();
      if (now >= deadline) return false;
      remaining = static_cast<uint32_t>(deadline - now);
    }
    if (!internal::WaitReadable(fd_, remaining) && remaining != kInfinite) {
      if (internal::MonotonicMs() >= deadline) return false;
    }
  }
}

}  // namespace dactyra::platform
