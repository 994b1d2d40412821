// The per-user runtime folder, made private and checked on every use.
#include "platform/posix/runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/system_message.h"

namespace dactyra::platform::internal {

std::string RuntimeFolder(Text* error) {
  const char* chosen = std::getenv("DACTYRA_RUNTIME");
  const std::string folder =
      chosen && *chosen ? std::string(chosen) : "/tmp/dactyra-" + std::to_string(geteuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = SystemMessage(errno);
    return {};
  }
  // Someone else's folder, or a link planted in a shared /tmp, would let
  // another user see or hold our objects.
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0) {
    if (error) *error = u"the folder " + FromUtf8(folder) + u" is not private to this user";
    return {};
  }
  return folder;
}

}  // namespace dactyra::platform::internal
