// Named synchronisation objects shared by the threads of this process and by
// every process of the same user. Names are case-sensitive; an empty name
// fails.
//
// Windows: the kernel's events and mutexes under exactly the names given,
// in the session's name space. Events and mutexes share it, and a
// backslash names a name space ("Local", "Global"). An object vanishes
// with its last handle; an event whose signal a dead process took stays
// taken for those that still have it open.
//
// POSIX: lock files in the per-user runtime folder. A name may hold any
// character, backslashes included, and events and mutexes have separate
// name spaces. Objects vanish with their last holder, and a process that
// dies holding one does not leave it taken.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/text.h"
#include "platform/threads.h"

namespace dactyra::platform {

namespace internal {
// The back end's Env (Env::Default()), the only maker of these objects.
class DefaultEnv;
}  // namespace internal

enum class WaitResult {
  kSignalled,
  // A mutex whose previous holder died without releasing it (Windows'
  // WAIT_ABANDONED); the caller now holds it.
  kAbandoned,
  kTimeout,
  kFailed,
};

// An auto-reset event with a name. Each object is one process's access to
// the shared event: Wait takes the signal for this object and Set gives it
// back. When the process holding the taken signal dies, or the object that
// holds it is destroyed, the event is signalled again.
class NamedEvent {
 public:
  // Env::CreateNamedEvent opens the event `name`, creating it when no
  // process has it. A new event starts signalled exactly when
  // `initially_signalled` is true (when the event exists already, its state
  // is kept). Null on failure, with the system's message in `error` when
  // given.
  virtual ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  // Takes the signal: kSignalled, kTimeout or kFailed.
  virtual WaitResult Wait(uint32_t timeout_ms);
  // Signals the event again; only meaningful after a successful Wait (or
  // creation as not signalled) through this object.
  virtual void Set();

 protected:
  // For objects of other making (test doubles): they override every
  // virtual operation.
  NamedEvent();

 private:
  friend class internal::DefaultEnv;
  static std::unique_ptr<NamedEvent> Create(const Text& name, bool initially_signalled,
                                            Text* error);
  struct Impl;
  explicit NamedEvent(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// A mutex with a name, recursive for the thread that holds it.
class NamedMutex {
 public:
  // Made by Env::CreateNamedMutex.
  virtual ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // kSignalled when taken, kAbandoned when taken from a holder that died
  // (a process, or a thread of this one that ended) holding it, kTimeout or
  // kFailed otherwise.
  virtual WaitResult Wait(uint32_t timeout_ms);
  // Releases one level of ownership; false when the calling thread does not
  // hold the mutex.
  virtual bool Release();

 protected:
  // For objects of other making (test doubles): they override every
  // virtual operation.
  NamedMutex();

 private:
  friend class internal::DefaultEnv;
  static std::unique_ptr<NamedMutex> Create(const Text& name, Text* error);
  struct Impl;
  explicit NamedMutex(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace dactyra::platform
