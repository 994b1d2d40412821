// Whether a folder is safe to load modules from: nobody but this user and
// root can put a file in it, or put another folder in its place.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/backend.h"
#include "platform/posix/describe.h"
#include "platform/posix/system_message.h"

namespace dactyra::platform {

bool CheckModuleFolder(const Text& folder, Text* reason) {
  const std::string given = ToUtf8(folder);
  auto refuse = [&](const std::string& why) {
    if (reason) *reason = FromUtf8(why);
    return false;
  };
  if (given.empty() || given[0] != '/' || folder.find(u'\0') != Text::npos) {
    return refuse("\"" + given + "\" is not an absolute path");
  }
  // The folder as the loader will reach it, links resolved: the rules hold
  // for what is really there.
  char* resolved = realpath(given.c_str(), nullptr);
  if (!resolved) return refuse("the folder " + given + " cannot be reached (" +
                               ToUtf8(internal::SystemMessage(errno)) + ")");
  const std::string real = resolved;
  free(resolved);
  struct stat st;
  if (stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return refuse(given + " is not a folder");
  }
  const uid_t me = geteuid();
  // The folder itself, then each parent up to the root.
  for (std::string at = real;;) {
    if (stat(at.c_str(), &st) != 0) {
      return refuse("the folder " + at + " cannot be examined (" +
                    ToUtf8(internal::SystemMessage(errno)) + ")");
    }
    const bool is_given = at == real;
    const std::string name = is_given ? "the folder " + given : "its parent " + at;
    if (st.st_uid != me && st.st_uid != 0) {
      return refuse(name + " belongs to user " + internal::UserText(st.st_uid));
    }
    // In the folder itself nobody else may write at all; in a parent a
    // sticky bit keeps others from renaming what is not theirs.
    const bool others_write = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (others_write && (is_given || (st.st_mode & S_ISVTX) == 0)) {
      return refuse(name + " may be written by other users (mode " + internal::ModeText(st.st_mode) + ")");
    }
    if (at == "/") return true;
    const size_t cut = at.find_last_of('/');
    at = cut == 0 ? std::string("/") : at.substr(0, cut);
  }
}

}  // namespace dactyra::platform
