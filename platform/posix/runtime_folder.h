// The per-user runtime folder of the POSIX back end: where named objects
// live, and the default device and pipe folders below it.
#pragma once

#include <string>

#include "platform/text.h"

namespace dactyra::platform::internal {

// $DACTYRA_RUNTIME when set, else /tmp/dactyra-<uid>, whatever else the
// environment says: every process of one user must agree on it, or two of
// them could both take one reader. Created (mode 0700) on first use. Empty,
// with the reason in `error`, when it cannot be made or is not private to
// this user (another owner, a link, or access for others).
std::string RuntimeFolder(Text* error);

}  // namespace dactyra::platform::internal
