// Texts that name users and file modes in the back end's messages.
#pragma once

#include <pwd.h>
#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace dactyra::platform::internal {

// "1000 (ana)", or the number alone for a user without a name.
inline std::string UserText(uid_t uid) {
  std::string text = std::to_string(uid);
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_name) {
    text += " (" + std::string(found->pw_name) + ")";
  }
  return text;
}

// The permission bits in octal, "0755".
inline std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace dactyra::platform::internal
