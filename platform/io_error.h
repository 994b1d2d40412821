// Failures of device, pipe and serial-port operations, as the library
// reports them: a Win32 error number (the value a Windows caller would get
// from GetLastError, whatever the back end) and the system's message text
// for the failure.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace dactyra::platform {

// The error numbers the I/O services report. A back end maps its own
// failures onto these; kGeneric covers the rest.
namespace io_error {
inline constexpr uint32_t kNone = 0;
inline constexpr uint32_t kFileNotFound = 2;        // ERROR_FILE_NOT_FOUND
inline constexpr uint32_t kPathNotFound = 3;        // ERROR_PATH_NOT_FOUND
inline constexpr uint32_t kAccessDenied = 5;        // ERROR_ACCESS_DENIED
inline constexpr uint32_t kInvalidHandle = 6;       // ERROR_INVALID_HANDLE
inline constexpr uint32_t kGeneric = 31;            // ERROR_GEN_FAILURE
inline constexpr uint32_t kSharingViolation = 32;   // ERROR_SHARING_VIOLATION
inline constexpr uint32_t kInvalidParameter = 87;   // ERROR_INVALID_PARAMETER
inline constexpr uint32_t kBrokenPipe = 109;        // ERROR_BROKEN_PIPE
inline constexpr uint32_t kSemTimeout = 121;        // ERROR_SEM_TIMEOUT
inline constexpr uint32_t kPipeBusy = 231;          // ERROR_PIPE_BUSY
inline constexpr uint32_t kNoMoreItems = 259;       // ERROR_NO_MORE_ITEMS
inline constexpr uint32_t kOperationAborted = 995;  // ERROR_OPERATION_ABORTED
inline constexpr uint32_t kTimeout = 1460;          // ERROR_TIMEOUT
}  // namespace io_error

struct IoError {
  uint32_t code = io_error::kNone;
  // The system's message for the failure, in the user's language.
  Text message;
};

// The system's message text for an error number of io_error (what
// FormatMessage gives on Windows); a generic text for numbers it does not
// know.
Text IoErrorMessage(uint32_t code);

// How one bounded read or write ended.
enum class IoStatus {
  kDone,       // every byte moved
  kTimedOut,   // the wait ran out; `bytes` tells how many moved before
  kCancelled,  // CancelIo from another thread ended it
  kFailed,     // the other side went away or the system refused; see `error`
};

struct IoResult {
  IoStatus status = IoStatus::kFailed;
  uint32_t bytes = 0;
  IoError error;

  bool done() const { return status == IoStatus::kDone; }
};

}  // namespace dactyra::platform
