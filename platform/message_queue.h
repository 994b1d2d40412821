// A message queue owned by one thread, with a handle that another module can
// post window messages to (a hidden window on Windows): the thread takes and
// dispatches what has arrived without blocking, and may wait for the next
// message with a time-out. The handle's form is fixed in
// platform/foreign_handles.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/text.h"

namespace dactyra::platform {

struct QueuedMessage {
  uint32_t message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
};

// Handles one message on the queue's thread (the window procedure).
using MessageProcedure = std::function<void(const QueuedMessage& message)>;

// Create, dispatch, wait and destroy on one thread, the owner (on Windows the
// window belongs to the thread that created it). Post and Handle may be used
// from any thread while the queue lives. Messages still waiting when the
// queue is destroyed are dropped.
class MessageQueue {
 public:
  // Null on failure, with the system's message in `error` when given.
  static std::unique_ptr<MessageQueue> Create(MessageProcedure procedure, Text* error = nullptr);

  virtual ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // What another module posts to (platform/foreign_handles.h).
  virtual void* Handle() const;
  // Posts a message; false when the queue is full.
  virtual bool Post(const QueuedMessage& message);
  // Takes every message waiting when called, in the order posted, and hands
  // each to the procedure; never waits. Messages posted meanwhile wait for
  // the next call, so a fast poster cannot hold the owner here; and when
  // `stop` is given and answers true before a message, the rest stay
  // waiting. Answers how many were dispatched.
  virtual int DispatchWaiting(const std::function<bool()>& stop = nullptr);
  // Waits until a message is waiting or `timeout_ms` has passed; true when
  // one is waiting. Takes nothing.
  virtual bool WaitForMessage(uint32_t timeout_ms);

 protected:
  // For queues of other making (test doubles): they override every virtual
  // operation.
  MessageQueue();

 private:
  struct Impl;
  explicit MessageQueue(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace dactyra::platform
