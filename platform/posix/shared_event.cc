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

struct SharedEvent::Impl {
  int fd = -1;
  ~Impl() {
    if (fd >= 0) close(fd);
  }
};

std::unique_ptr<SharedEvent> SharedEvent::Create(Text* error) {
  const int fd = internal::LiftDescriptor(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (fd < 0) {
    if (error) *error = internal::SystemMessage(errno);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->fd = fd;
  return std::unique_ptr<SharedEvent>(new SharedEvent(std::move(impl)));
}

SharedEvent::SharedEvent() = default;
SharedEvent::SharedEvent(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SharedEvent::~SharedEvent() = default;

void* SharedEvent::Handle() const { return DACTYRA_FD_HANDLE(impl_->fd); }

void SharedEvent::Set() {
  const uint64_t one = DACTYRA_EVENT_SIGNAL;
  // Fails only when the counter would overflow: it is signalled already.
  while (write(impl_->fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

bool SharedEvent::Wait(uint32_t timeout_ms) {
  const uint64_t deadline = internal::MonotonicMs() + timeout_ms;
  for (;;) {
    uint64_t count;
    // Reading takes the whole count: every Set so far is consumed at once.
    // Several waiters may see the descriptor readable; only one reads.
    const ssize_t got = read(impl_->fd, &count, sizeof count);
    if (got == static_cast<ssize_t>(sizeof count)) return true;
    if (got < 0 && errno == EINTR) continue;
    uint32_t remaining = kInfinite;
    if (timeout_ms != kInfinite) {
      const uint64_t now = internal::MonotonicMs();
      if (now >= deadline) return false;
      remaining = static_cast<uint32_t>(deadline - now);
    }
    if (!internal::WaitReadable(impl_->fd, remaining) && remaining != kInfinite) {
      if (internal::MonotonicMs() >= deadline) return false;
    }
  }
}

}  // namespace dactyra::platform
