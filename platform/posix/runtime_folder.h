// The per-user runtime folder of the POSIX back end: where named objects
// live, and the default device and pipe folders below it. The folders that
// environment variables put in their place obey the same rules.
#pragma once

#include <string>

#include "platform/io_error.h"
#include "platform/text.h"

namespace dactyra::platform::internal {

// $DACTYRA_RUNTIME when set, else /tmp/dactyra-<uid>, whatever else the
// environment says: every process of one user must agree on it, or two of
// them could both take one reader. Made private on first use (see
// PrivateFolder). Empty, with the reason in `error`, when it cannot be.
std::string RuntimeFolder(Text* error);

// `folder` made (mode 0700; its parent must exist) when missing and
// checked private to this user: an absolute path to a folder, not a link,
// owned by this user, with no access for group or others. Another user
// who owns or can enter it could see, take or plant the objects and pipes
// in it. Empty otherwise, with an error whose message names the folder,
// what is wrong with it (its owner, say), and `variable`, which moves it.
std::string PrivateFolder(const std::string& folder, const char* variable, IoError* error);

}  // namespace dactyra::platform::internal
