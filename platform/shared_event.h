// An auto-reset event whose handle another module can signal with plain
// system calls (platform/foreign_handles.h): a DigitalPersona library tells
// a capture thread that an image is ready through it.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/text.h"
#include "platform/threads.h"

namespace dactyra::platform {

// Created not signalled. A Set releases one Wait and resets itself; Sets
// that arrive while nobody waits fold into one.
class SharedEvent {
 public:
  // Null on failure, with the system's message in `error` when given.
  static std::unique_ptr<SharedEvent> Create(Text* error = nullptr);

  virtual ~SharedEvent();
  SharedEvent(const SharedEvent&) = delete;
  SharedEvent& operator=(const SharedEvent&) = delete;

  // What another module signals (platform/foreign_handles.h).
  virtual void* Handle() const;
  virtual void Set();
  // True when signalled within `timeout_ms`; the signal is consumed.
  virtual bool Wait(uint32_t timeout_ms = kInfinite);

 protected:
  // For events of other making (test doubles).
  SharedEvent();

 private:
  struct Impl;
  explicit SharedEvent(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace dactyra::platform
