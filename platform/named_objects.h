// Named synchronisation objects shared by the threads of this process and by
// every process of the same user. They vanish with their last holder: a
// process that dies while holding one does not leave it taken. Names are
// case-sensitive and may hold any character (backslashes included); an
// empty name fails. Events and mutexes have separate name spaces.
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
