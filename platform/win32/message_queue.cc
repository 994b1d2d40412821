// The Win32 message queue: a hidden (message-only) window owned by the
// creating thread. Other modules post to its HWND with PostMessage; the
// owner takes what has arrived with PeekMessage and dispatches it to the
// window procedure, which hands it to the queue's procedure.
#include "platform/message_queue.h"

#include <atomic>
#include <mutex>

#include "platform/threads.h"
#include "platform/win32/win32_common.h"

namespace dactyra::platform {
namespace {

constexpr wchar_t kClassName[] = L"DactyraMessageQueue";

// A message the owner posts to itself when a dispatch begins: what was
// posted before it is what was waiting. Its WParam numbers the dispatch, so
// that a mark left behind by a dispatch that stopped early is recognised
// as stale and dropped.
constexpr UINT kEndOfWaiting = WM_APP + 0x3A51;

// The window class lives while queues do: registered by the first, removed
// with the last, so that an unloaded DLL leaves no class behind that points
// at its code.
std::mutex class_lock;
int class_users = 0;

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

bool UseClass(Text* error) {
  std::lock_guard held(class_lock);
  if (class_users == 0) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = WindowProcedure;
    window_class.hInstance = internal::ThisModule();
    window_class.lpszClassName = kClassName;
    if (!RegisterClassExW(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      if (error) *error = internal::SystemMessage(GetLastError());
      return false;
    }
  }
  ++class_users;
  return true;
}

void LeaveClass() {
  std::lock_guard held(class_lock);
  if (--class_users == 0) UnregisterClassW(kClassName, internal::ThisModule());
}

// The queue as its window procedure sees it.
struct QueueState {
  MessageProcedure procedure;
  HWND window = nullptr;
  // Set while DispatchMessage runs on the owner: only messages taken from
  // the queue reach the procedure; what the system sends the window goes
  // to the default procedure.
  bool dispatching = false;
  // Numbers the dispatches, for the end-of-waiting mark.
  WPARAM dispatch_number = 0;
};

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* impl = reinterpret_cast<QueueState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (impl && impl->dispatching && message != kEndOfWaiting) {
    if (impl->procedure) impl->procedure(QueuedMessage{message, wparam, lparam});
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

struct MessageQueue::Impl : QueueState {};

std::unique_ptr<MessageQueue> MessageQueue::Create(MessageProcedure procedure, Text* error) {
  if (!UseClass(error)) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->procedure = std::move(procedure);
  impl->window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 internal::ThisModule(), nullptr);
  if (!impl->window) {
    if (error) *error = internal::SystemMessage(GetLastError());
    LeaveClass();
    return nullptr;
  }
  SetWindowLongPtrW(impl->window, GWLP_USERDATA,
                    reinterpret_cast<LONG_PTR>(static_cast<QueueState*>(impl.get())));
  return std::unique_ptr<MessageQueue>(new MessageQueue(std::move(impl)));
}

MessageQueue::MessageQueue() = default;
MessageQueue::MessageQueue(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

MessageQueue::~MessageQueue() {
  if (!impl_ || !impl_->window) return;
  SetWindowLongPtrW(impl_->window, GWLP_USERDATA, 0);
  DestroyWindow(impl_->window);
  // What was still waiting goes with the window.
  LeaveClass();
}

void* MessageQueue::Handle() const { return impl_->window; }

bool MessageQueue::Post(const QueuedMessage& message) {
  return PostMessageW(impl_->window, message.message, message.wparam, message.lparam) != 0;
}

int MessageQueue::DispatchWaiting(const std::function<bool()>& stop) {
  Impl& s = *impl_;
  // Only what is waiting now: a poster faster than the procedure must not
  // keep the owner in here for ever. Posted messages keep their order, so
  // everything before the mark was waiting when the call began.
  const WPARAM number = ++s.dispatch_number;
  const bool marked = PostMessageW(s.window, kEndOfWaiting, number, 0) != 0;
  int dispatched = 0;
  MSG message;
  for (;;) {
    if (stop && stop()) break;
    if (!PeekMessageW(&message, s.window, 0, 0, PM_REMOVE)) break;
    if (message.message == kEndOfWaiting) {
      if (message.wParam == number) break;
      continue;  // left by an earlier dispatch that stopped early
    }
    if (message.message == WM_QUIT) continue;
    ++dispatched;
    s.dispatching = true;
    DispatchMessageW(&message);
    s.dispatching = false;
    // Without a mark (a full queue), take no more than could have waited.
    if (!marked && dispatched >= 10000) break;
  }
  return dispatched;
}

bool MessageQueue::WaitForMessage(uint32_t timeout_ms) {
  const uint64_t start = GetTickCount64();
  for (;;) {
    // Marks left behind are not messages.
    MSG message;
    while (PeekMessageW(&message, impl_->window, kEndOfWaiting, kEndOfWaiting, PM_REMOVE)) {
    }
    if (PeekMessageW(&message, impl_->window, 0, 0, PM_NOREMOVE)) return true;
    uint32_t left = kInfinite;
    if (timeout_ms != kInfinite) {
      const uint64_t spent = GetTickCount64() - start;
      if (spent >= timeout_ms) return false;
      left = static_cast<uint32_t>(timeout_ms - spent);
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, left == kInfinite ? INFINITE : left, QS_ALLPOSTMESSAGE,
                                MWMO_INPUTAVAILABLE);
  }
}

}  // namespace dactyra::platform
