// The POSIX message queue: a pipe of DactyraPostedMessage records; the write
// end is the handle other modules post to.
#include "platform/message_queue.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/foreign_handles.h"
#include "platform/posix/foreign_fd.h"
#include "platform/posix/system_message.h"

namespace dactyra::platform {

static_assert(sizeof(DactyraPostedMessage) <= PIPE_BUF, "records arrive whole");

struct MessageQueue::Impl {
  MessageProcedure procedure;
  int read_fd = -1;
  int write_fd = -1;
  ~Impl() {
    if (write_fd >= 0) close(write_fd);
    if (read_fd >= 0) close(read_fd);
  }
};

std::unique_ptr<MessageQueue> MessageQueue::Create(MessageProcedure procedure, Text* error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = internal::SystemMessage(errno);
    return nullptr;
  }
  const int read_fd = internal::LiftDescriptor(fds[0]);
  const int write_fd = internal::LiftDescriptor(fds[1]);
  if (read_fd < 0 || write_fd < 0) {
    if (error) *error = internal::SystemMessage(errno);
    if (read_fd >= 0) close(read_fd);
    if (write_fd >= 0) close(write_fd);
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->procedure = std::move(procedure);
  impl->read_fd = read_fd;
  impl->write_fd = write_fd;
  return std::unique_ptr<MessageQueue>(new MessageQueue(std::move(impl)));
}

MessageQueue::MessageQueue() = default;
MessageQueue::MessageQueue(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MessageQueue::~MessageQueue() = default;

void* MessageQueue::Handle() const { return DACTYRA_FD_HANDLE(impl_->write_fd); }

bool MessageQueue::Post(const QueuedMessage& message) {
  const DactyraPostedMessage record{message.message, 0, message.wparam, message.lparam};
  ssize_t written;
  do {
    written = write(impl_->write_fd, &record, sizeof record);
  } while (written < 0 && errno == EINTR);
  return written == static_cast<ssize_t>(sizeof record);
}

int MessageQueue::DispatchWaiting(const std::function<bool()>& stop) {
  // Only what is waiting now: a poster faster than the procedure must not
  // keep the owner in here for ever.
  int waiting_bytes = 0;
  if (ioctl(impl_->read_fd, FIONREAD, &waiting_bytes) != 0) return 0;
  int dispatched = 0;
  for (int left = waiting_bytes / static_cast<int>(sizeof(DactyraPostedMessage)); left > 0;
       --left) {
    if (stop && stop()) break;
    DactyraPostedMessage record;
    const ssize_t got = read(impl_->read_fd, &record, sizeof record);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // empty (EAGAIN) or closed
    // Posters write whole records; a short one is not a message.
    if (got != static_cast<ssize_t>(sizeof record)) continue;
    ++dispatched;
    if (impl_->procedure) impl_->procedure(QueuedMessage{record.Message, record.WParam, record.LParam});
  }
  return dispatched;
}

bool MessageQueue::WaitForMessage(uint32_t timeout_ms) {
  return internal::WaitReadable(impl_->read_fd, timeout_ms);
}

}  // namespace dactyra::platform
