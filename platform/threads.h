// Threads and in-process synchronisation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace dactyra::platform {

namespace internal {
// The back end's Env (Env::Default()), the only maker of these objects.
class DefaultEnv;
}  // namespace internal

// Time-outs are in milliseconds; kInfinite waits for ever.
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A thread of execution running `body` once, made by Env::NewThread. Start
// begins it; a Thread that was started must be joined or detached before it
// is destroyed (the destructor joins a joinable thread, so a forgotten one
// waits rather than crashes). Join on the thread itself does nothing, and a
// body that destroys its own Thread object runs on to its end.
class Thread {
 public:
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // False when the system could not create the thread.
  virtual bool Start();
  virtual void Join();
  // The thread runs on alone; this object may go away.
  virtual void Detach();
  virtual bool Joinable() const;
  // True when called on this thread.
  virtual bool IsCurrent() const;

 protected:
  // For threads of other making (test doubles): they override every
  // virtual operation.
  Thread();

 private:
  friend class internal::DefaultEnv;
  explicit Thread(std::function<void()> body);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// An identifier of the calling thread, unique among live threads.
uint64_t CurrentThreadId();

// An event object: manual-reset stays signalled until Reset; auto-reset
// releases one waiter and resets itself.
class Event {
 public:
  Event(bool manual_reset, bool initially_signalled);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  // True when signalled within `timeout_ms`.
  bool Wait(uint32_t timeout_ms = kInfinite);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A recursive lock, as a Windows critical section. Satisfies Lockable, so
// std::lock_guard and std::unique_lock work with it.
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter();
  bool TryEnter();
  void Leave();

  void lock() { Enter(); }
  bool try_lock() { return TryEnter(); }
  void unlock() { Leave(); }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace dactyra::platform
