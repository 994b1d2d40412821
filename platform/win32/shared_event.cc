// The Win32 shared event: an auto-reset event HANDLE that another module
// signals with SetEvent.
#include "platform/shared_event.h"

#include "platform/win32/win32_common.h"

namespace dactyra::platform {

struct SharedEvent::Impl {
  internal::OwnedHandle event;
};

std::unique_ptr<SharedEvent> SharedEvent::Create(Text* error) {
  auto impl = std::make_unique<Impl>();
  impl->event.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!impl->event.valid()) {
    if (error) *error = internal::SystemMessage(GetLastError());
    return nullptr;
  }
  return std::unique_ptr<SharedEvent>(new SharedEvent(std::move(impl)));
}

SharedEvent::SharedEvent() = default;
SharedEvent::SharedEvent(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SharedEvent::~SharedEvent() = default;

void* SharedEvent::Handle() const { return impl_->event.get(); }
void SharedEvent::Set() { SetEvent(impl_->event.get()); }
bool SharedEvent::Wait(uint32_t timeout_ms) {
  return WaitForSingleObject(impl_->event.get(), timeout_ms) == WAIT_OBJECT_0;
}

}  // namespace dactyra::platform
