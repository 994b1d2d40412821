// Threads, in-process synchronisation and the clocks over the C++ library
// and POSIX.
#include "platform/threads.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/backend.h"

namespace dactyra::platform {

namespace {

// What the running thread uses. Shared with it, so that a detached thread
// keeps its body and identity after the Thread object has gone.
struct ThreadState {
  std::function<void()> body;
  // Set by the new thread itself before it runs the body, so that IsCurrent
  // answers correctly from inside the body even before std::thread's
  // constructor has returned to the starter.
  std::atomic<std::thread::id> id{};
  // Held by Start until the std::thread is stored, so that a body which
  // joins, detaches or destroys its own Thread at once finds it complete.
  std::mutex starting;
};

}  // namespace

struct Thread::Impl {
  std::shared_ptr<ThreadState> state = std::make_shared<ThreadState>();
  std::thread thread;
  bool started = false;
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::Thread(std::function<void()> body) : impl_(std::make_unique<Impl>()) {
  impl_->state->body = std::move(body);
}

Thread::~Thread() {
  if (!impl_->thread.joinable()) return;
  // A body that destroys its own Thread cannot join itself.
  if (IsCurrent()) {
    impl_->thread.detach();
  } else {
    impl_->thread.join();
  }
}

bool Thread::Start() {
  if (impl_->started || !impl_->state->body) return false;
  std::lock_guard starting(impl_->state->starting);
  try {
    impl_->thread = std::thread([state = impl_->state] {
      state->id.store(std::this_thread::get_id());
      { std::lock_guard started(state->starting); }
      state->body();
    });
  } catch (const std::system_error&) {
    return false;
  }
  impl_->started = true;
  return true;
}

void Thread::Join() {
  // Joining oneself would deadlock; that call does nothing instead.
  if (impl_->thread.joinable() && !IsCurrent()) {
    impl_->thread.join();
    // The system may reuse the identity for a later thread.
    impl_->state->id.store(std::thread::id());
  }
}

void Thread::Detach() {
  if (impl_->thread.joinable()) impl_->thread.detach();
}

bool Thread::Joinable() const { return impl_->thread.joinable(); }

bool Thread::IsCurrent() const { return impl_->state->id.load() == std::this_thread::get_id(); }

uint64_t CurrentThreadId() { return static_cast<uint64_t>(::syscall(SYS_gettid)); }

struct Event::Impl {
  std::mutex mutex;
  std::condition_variable changed;
  bool manual_reset;
  bool signalled;
  // A Set releases the threads waiting at that moment, as on Windows, even
  // when another Set or a Reset comes before they run: manual-reset waiters
  // watch the count of Sets, and an auto-reset Set hands one release to a
  // waiter instead of setting the state that a second Set would merge into.
  uint64_t sets = 0;
  size_t waiting = 0;
  size_t releases = 0;
};

Event::Event(bool manual_reset, bool initially_signalled) : impl_(std::make_unique<Impl>()) {
  impl_->manual_reset = manual_reset;
  impl_->signalled = initially_signalled;
}

Event::~Event() = default;

void Event::Set() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->manual_reset) {
    impl_->signalled = true;
    ++impl_->sets;
    impl_->changed.notify_all();
  } else if (impl_->waiting > impl_->releases) {
    ++impl_->releases;
    impl_->changed.notify_one();
  } else {
    impl_->signalled = true;
  }
}

void Event::Reset() {
  std::lock_guard lock(impl_->mutex);
  impl_->signalled = false;
}

bool Event::Wait(uint32_t timeout_ms) {
  std::unique_lock lock(impl_->mutex);
  Impl& s = *impl_;
  if (s.signalled) {
    if (!s.manual_reset) s.signalled = false;
    return true;
  }
  if (timeout_ms == 0) return false;
  const auto wait = [&](auto ready) {
    if (timeout_ms == kInfinite) {
      s.changed.wait(lock, ready);
      return true;
    }
    return s.changed.wait_until(
        lock, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms), ready);
  };
  if (s.manual_reset) {
    const uint64_t sets = s.sets;
    return wait([&] { return s.signalled || s.sets != sets; });
  }
  ++s.waiting;
  const bool released = wait([&] { return s.releases > 0 || s.signalled; });
  --s.waiting;
  if (!released) return false;
  if (s.releases > 0) {
    --s.releases;
  } else {
    s.signalled = false;
  }
  return true;
}

struct CriticalSection::Impl {
  std::recursive_mutex mutex;
};

CriticalSection::CriticalSection() : impl_(std::make_unique<Impl>()) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::Enter() { impl_->mutex.lock(); }
bool CriticalSection::TryEnter() { return impl_->mutex.try_lock(); }
void CriticalSection::Leave() { impl_->mutex.unlock(); }

void Sleep(uint32_t ms) {
  if (ms == kInfinite) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint32_t TickCount() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

LocalTime LocalNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return LocalTime{local.tm_year + 1900,
                   local.tm_mon + 1,
                   local.tm_mday,
                   local.tm_hour,
                   local.tm_min,
                   local.tm_sec,
                   static_cast<int>(now.tv_nsec / 1000000)};
}

}  // namespace dactyra::platform
