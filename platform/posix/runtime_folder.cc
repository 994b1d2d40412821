// The per-user runtime folder, and the privacy rules of every folder that
// holds named objects, device interfaces or pipes.
#include "platform/posix/runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/describe.h"
#include "platform/posix/system_message.h"

namespace dactyra::platform::internal {
std::string PrivateFolder(const std::string& folder, const char* variable, IoError* error) {
  auto refuse = [&](uint32_t code, const std::string& what) {
    if (error) {
      *error = IoError{code, FromUtf8(what + ": set " + variable +
                                      " to a folder private to this user")};
    }
    return std::string();
  };
  if (folder.empty() || folder[0] != '/') {
    return refuse(io_error::kInvalidParameter,
                  std::string(variable) + " is \"" + folder + "\", not an absolute path");
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    return refuse(io_error::kPathNotFound, "the folder " + folder + " cannot be made (" +
                                               ToUtf8(SystemMessage(errno)) + ")");
  }
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0) {
    return refuse(io_error::kPathNotFound,
                  "the folder " + folder + " cannot be read (" + ToUtf8(SystemMessage(errno)) + ")");
  }
  if (S_ISLNK(st.st_mode)) {
    return refuse(io_error::kAccessDenied, "the folder " + folder + " is a symbolic link");
  }
  if (!S_ISDIR(st.st_mode)) return refuse(io_error::kAccessDenied, folder + " is not a folder");
  if (st.st_uid != geteuid()) {
    return refuse(io_error::kAccessDenied, "the folder " + folder + " belongs to user " +
                                               UserText(st.st_uid) + ", not to this user, " +
                                               UserText(geteuid()));
  }
  if ((st.st_mode & 077) != 0) {
    return refuse(io_error::kAccessDenied, "the folder " + folder +
                                               " is open to other users (mode " +
                                               ModeText(st.st_mode) + ")");
  }
  return folder;
}

std::string RuntimeFolder(Text* error) {
  const char* chosen = std::getenv("DACTYRA_RUNTIME");
  const std::string folder =
      chosen && *chosen ? std::string(chosen) : "/tmp/dactyra-" + std::to_string(geteuid());
  IoError failure;
  std::string made = PrivateFolder(folder, "DACTYRA_RUNTIME", &failure);
  if (made.empty() && error) *error = failure.message;
  return made;
}

}  // namespace dactyra::platform::internal
