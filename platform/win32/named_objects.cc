// Named events and mutexes: the kernel's own, by CreateEvent and
// CreateMutex, under exactly the names given (in the session's name
// space, shared by every process of the user's session).
//
// An object holds no more than the kernel gives: an event whose signal a
// process took stays taken while that process lives; when it dies, the
// event vanishes with its last handle and the next opener makes it anew.
// A mutex whose owner ended without releasing it is abandoned, and the next
// waiter takes it with WAIT_ABANDONED.
#include "platform/named_objects.h"

#include <mutex>

#include "platform/win32/win32_common.h"

namespace dactyra::platform {
namespace {

using internal::OwnedHandle;

WaitResult FromWait(DWORD result) {
  switch (result) {
    case WAIT_OBJECT_0:
      return WaitResult::kSignalled;
    case WAIT_ABANDONED:
      return WaitResult::kAbandoned;
    case WAIT_TIMEOUT:
      return WaitResult::kTimeout;
    default:
      return WaitResult::kFailed;
  }
}

bool UsableName(const Text& name, Text* error) {
  if (name.empty() || name.find(u'\0') != Text::npos) {
    if (error) *error = u"an object name must not be empty nor hold a NUL";
    return false;
  }
  return true;
}

}  // namespace

// --- NamedEvent --------------------------------------------------------------

struct NamedEvent::Impl {
  OwnedHandle event;
  // Whether this object took the signal (by a Wait, or by creating the
  // event unsignalled): it gives it back on Set and when it goes away.
  std::mutex lock;
  bool taken = false;
};

NamedEvent::NamedEvent() = default;
NamedEvent::NamedEvent(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

NamedEvent::~NamedEvent() {
  if (impl_ && impl_->taken) SetEvent(impl_->event.get());
}

std::unique_ptr<NamedEvent> NamedEvent::Create(const Text& name, bool initially_signalled,
                                               Text* error) {
  if (!UsableName(name, error)) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->event.Reset(CreateEventW(nullptr, FALSE, initially_signalled ? TRUE : FALSE,
                                 internal::Wide(name)));
  if (!impl->event.valid()) {
    if (error) *error = internal::SystemMessage(GetLastError());
    return nullptr;
  }
  // A new event that starts unsignalled: its creator holds the signal.
  impl->taken = !initially_signalled && GetLastError() != ERROR_ALREADY_EXISTS;
  return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(impl)));
}

WaitResult NamedEvent::Wait(uint32_t timeout_ms) {
  const WaitResult result = FromWait(WaitForSingleObject(impl_->event.get(), timeout_ms));
  if (result == WaitResult::kSignalled) {
    std::lock_guard held(impl_->lock);
    impl_->taken = true;
  }
  return result;
}

void NamedEvent::Set() {
  std::lock_guard held(impl_->lock);
  if (!impl_->taken) return;
  impl_->taken = false;
  SetEvent(impl_->event.get());
}

// --- NamedMutex --------------------------------------------------------------

struct NamedMutex::Impl {
  OwnedHandle mutex;
  // The thread that holds the mutex through this object, and how deep:
  // what the destructor gives back.
  std::mutex lock;
  DWORD owner = 0;
  uint32_t depth = 0;
};

NamedMutex::NamedMutex() = default;
NamedMutex::NamedMutex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

NamedMutex::~NamedMutex() {
  if (!impl_) return;
  // Going away while held counts as a release, not as an owner's death;
  // only the owning thread can release, so another's hold is left to be
  // abandoned when that thread ends.
  if (impl_->owner == GetCurrentThreadId()) {
    for (; impl_->depth > 0; --impl_->depth) ReleaseMutex(impl_->mutex.get());
  }
}

std::unique_ptr<NamedMutex> NamedMutex::Create(const Text& name, Text* error) {
  if (!UsableName(name, error)) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->mutex.Reset(CreateMutexW(nullptr, FALSE, internal::Wide(name)));
  if (!impl->mutex.valid()) {
    if (error) *error = internal::SystemMessage(GetLastError());
    return nullptr;
  }
  return std::unique_ptr<NamedMutex>(new NamedMutex(std::move(impl)));
}

WaitResult NamedMutex::Wait(uint32_t timeout_ms) {
  const WaitResult result = FromWait(WaitForSingleObject(impl_->mutex.get(), timeout_ms));
  if (result == WaitResult::kSignalled || result == WaitResult::kAbandoned) {
    std::lock_guard held(impl_->lock);
    const DWORD me = GetCurrentThreadId();
    if (impl_->owner != me) {
      impl_->owner = me;
      impl_->depth = 0;
    }
    ++impl_->depth;
  }
  return result;
}

bool NamedMutex::Release() {
  if (!ReleaseMutex(impl_->mutex.get())) return false;
  std::lock_guard held(impl_->lock);
  if (impl_->owner == GetCurrentThreadId() && impl_->depth > 0 && --impl_->depth == 0) {
    impl_->owner = 0;
  }
  return true;
}

}  // namespace dactyra::platform
