// Bounded reads and writes over overlapped handles (device pipes, named
// pipes): each operation is waited for at once, for at most the time left,
// and cancelled with CancelIoEx when the time runs out or a cancel event
// is signalled, so no call ever waits longer than it was given.
#pragma once

#include <cstdint>

#include "platform/io_error.h"
#include "platform/win32/win32_common.h"

namespace dactyra::platform::internal {

enum class Direction { kRead, kWrite };

// Moves exactly `size` bytes (looping over partial transfers and over the
// pieces of messages) within `timeout_ms` (kInfinite: no limit). `event`
// is a manual-reset event for the handle's operations in this direction;
// `cancel`, when not null, a manual-reset event that ends the operation
// with kCancelled. A read that finds the other end gone fails with
// ERROR_BROKEN_PIPE.
IoResult TransferAll(HANDLE file, Direction direction, uint8_t* buffer, uint32_t size,
                     uint32_t timeout_ms, HANDLE event, HANDLE cancel);

// A manual-reset event, not signalled; invalid on failure.
inline OwnedHandle NewManualEvent() { return OwnedHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

}  // namespace dactyra::platform::internal
