// Path text rules of this platform. The file and folder services that can
// fail are reached through platform::Env.
#pragma once

#include "platform/text.h"

namespace dactyra::platform {

// The platform's path delimiter ('/' here, '\\' on Windows).
char16_t PathDelimiter();

// One entry of a folder listing (Env::ListFolder).
struct FolderEntry {
  Text name;
  bool is_folder = false;
};

// `path` made absolute against the current folder, with "." and ".."
// segments resolved textually. A trailing delimiter is kept.
Text FullPath(const Text& path);

}  // namespace dactyra::platform
