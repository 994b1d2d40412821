#include "platform/win32/overlapped_io.h"

#include "platform/threads.h"

namespace dactyra::platform::internal {
namespace {

IoResult Ended(IoStatus status, uint32_t bytes, DWORD code = 0) {
  return IoResult{status, bytes, code ? MakeIoError(code) : IoError{}};
}

// Milliseconds left of `timeout_ms` since `start`; INFINITE without limit.
DWORD Left(uint32_t timeout_ms, ULONGLONG start) {
  if (timeout_ms == kInfinite) return INFINITE;
  const ULONGLONG spent = GetTickCount64() - start;
  return spent >= timeout_ms ? 0 : static_cast<DWORD>(timeout_ms - spent);
}

}  // namespace

IoResult TransferAll(HANDLE file, Direction direction, uint8_t* buffer, uint32_t size,
                     uint32_t timeout_ms, HANDLE event, HANDLE cancel) {
  const ULONGLONG start = GetTickCount64();
  uint32_t moved = 0;
  while (moved < size) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    ResetEvent(event);
    const BOOL started = direction == Direction::kRead
                             ? ReadFile(file, buffer + moved, size - moved, nullptr, &overlapped)
                             : WriteFile(file, buffer + moved, size - moved, nullptr, &overlapped);
    DWORD code = started ? ERROR_SUCCESS : GetLastError();
    if (!started && code != ERROR_IO_PENDING && code != ERROR_MORE_DATA) {
      return Ended(IoStatus::kFailed, moved, code);
    }
    if (code == ERROR_IO_PENDING) {
      const HANDLE waits[2] = {event, cancel};
      const DWORD woken =
          WaitForMultipleObjects(cancel ? 2 : 1, waits, FALSE, Left(timeout_ms, start));
      if (woken != WAIT_OBJECT_0) {
        // Cancelled, timed out or failed: end the operation, and count
        // what it moved before it ended.
        CancelIoEx(file, &overlapped);
        DWORD partial = 0;
        GetOverlappedResult(file, &overlapped, &partial, TRUE);
        moved += partial;
        if (woken == WAIT_OBJECT_0 + 1) {
          return Ended(IoStatus::kCancelled, moved, ERROR_OPERATION_ABORTED);
        }
        if (woken == WAIT_TIMEOUT) return Ended(IoStatus::kTimedOut, moved, ERROR_SEM_TIMEOUT);
        return Ended(IoStatus::kFailed, moved, GetLastError());
      }
    }
    DWORD count = 0;
    if (!GetOverlappedResult(file, &overlapped, &count, FALSE)) {
      code = GetLastError();
      // A message longer than what was asked: the rest follows.
      if (code != ERROR_MORE_DATA) return Ended(IoStatus::kFailed, moved + count, code);
    }
    moved += count;
    // Nothing moved for a read of more than nothing: the other end is gone
    // (a write that moves nothing would loop for ever too).
    if (count == 0 && code != ERROR_MORE_DATA) {
      return Ended(IoStatus::kFailed, moved,
                   direction == Direction::kRead ? ERROR_BROKEN_PIPE : ERROR_WRITE_FAULT);
    }
  }
  return Ended(IoStatus::kDone, moved);
}

}  // namespace dactyra::platform::internal
