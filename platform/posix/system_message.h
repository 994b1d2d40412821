// The system's message text for an errno value.
#pragma once

#include <string.h>

#include "platform/text.h"

namespace dactyra::platform::internal {

inline Text SystemMessage(int error) {
  char buffer[256];
  // The GNU strerror_r returns the message, possibly not in `buffer`.
  const char* message = strerror_r(error, buffer, sizeof buffer);
  return FromAnsi(message ? message : "unknown error");
}

}  // namespace dactyra::platform::internal
