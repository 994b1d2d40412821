// Threads, in-process synchronisation and the clocks over the Win32 kernel:
// threads, events, critical sections, Sleep, GetTickCount and GetLocalTime.
#include "platform/threads.h"

#include <atomic>
#include <exception>
#include <mutex>

#include "platform/backend.h"
#include "platform/win32/win32_common.h"

namespace dactyra::platform {

namespace {

using internal::OwnedHandle;

// What the running thread uses. Shared with it, so that a detached thread
// keeps its body after the Thread object has gone.
struct ThreadState {
  std::function<void()> body;
  // Set by the new thread itself before it runs the body, so that IsCurrent
  // answers correctly from inside the body at once.
  std::atomic<DWORD> id{0};
  // Held by Start until the handle is stored, so that a body which joins,
  // detaches or destroys its own Thread at once finds it complete.
  std::mutex starting;
};

DWORD WINAPI RunThread(void* parameter) {
  auto* held = static_cast<std::shared_ptr<ThreadState>*>(parameter);
  std::shared_ptr<ThreadState> state = std::move(*held);
  delete held;
  state->id.store(GetCurrentThreadId());
  { std::lock_guard started(state->starting); }
  state->body();
  return 0;
}

}  // namespace

struct Thread::Impl {
  std::shared_ptr<ThreadState> state = std::make_shared<ThreadState>();
  OwnedHandle handle;
  bool started = false;
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::Thread(std::function<void()> body) : impl_(std::make_unique<Impl>()) {
  impl_->state->body = std::move(body);
}

Thread::~Thread() {
  if (!impl_->handle.valid()) return;
  // A body that destroys its own Thread cannot join itself.
  if (IsCurrent()) {
    impl_->handle.Reset();
  } else {
    Join();
  }
}

bool Thread::Start() {
  if (impl_->started || !impl_->state->body) return false;
  std::lock_guard starting(impl_->state->starting);
  auto* parameter = new std::shared_ptr<ThreadState>(impl_->state);
  HANDLE handle = CreateThread(nullptr, 0, RunThread, parameter, 0, nullptr);
  if (!handle) {
    delete parameter;
    return false;
  }
  impl_->handle.Reset(handle);
  impl_->started = true;
  return true;
}

void Thread::Join() {
  // Joining oneself would deadlock; that call does nothing instead.
  if (!impl_->handle.valid() || IsCurrent()) return;
  WaitForSingleObject(impl_->handle.get(), INFINITE);
  impl_->handle.Reset();
  // The system may reuse the identity for a later thread.
  impl_->state->id.store(0);
}

void Thread::Detach() { impl_->handle.Reset(); }

bool Thread::Joinable() const { return impl_->handle.valid(); }

bool Thread::IsCurrent() const { return impl_->state->id.load() == GetCurrentThreadId(); }

uint64_t CurrentThreadId() { return GetCurrentThreadId(); }

struct Event::Impl {
  OwnedHandle event;
};

Event::Event(bool manual_reset, bool initially_signalled) : impl_(std::make_unique<Impl>()) {
  impl_->event.Reset(CreateEventW(nullptr, manual_reset, initially_signalled, nullptr));
  // Without an event nothing here could work at all.
  if (!impl_->event.valid()) std::terminate();
}

Event::~Event() = default;
void Event::Set() { SetEvent(impl_->event.get()); }
void Event::Reset() { ResetEvent(impl_->event.get()); }
bool Event::Wait(uint32_t timeout_ms) {
  return WaitForSingleObject(impl_->event.get(), timeout_ms) == WAIT_OBJECT_0;
}

struct CriticalSection::Impl {
  CRITICAL_SECTION section;
};

CriticalSection::CriticalSection() : impl_(std::make_unique<Impl>()) {
  InitializeCriticalSection(&impl_->section);
}
CriticalSection::~CriticalSection() { DeleteCriticalSection(&impl_->section); }
void CriticalSection::Enter() { EnterCriticalSection(&impl_->section); }
bool CriticalSection::TryEnter() { return TryEnterCriticalSection(&impl_->section) != 0; }
void CriticalSection::Leave() { LeaveCriticalSection(&impl_->section); }

void Sleep(uint32_t ms) { ::Sleep(ms == kInfinite ? INFINITE : ms); }

uint32_t TickCount() { return GetTickCount(); }

LocalTime LocalNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                   now.wMilliseconds};
}

}  // namespace dactyra::platform
