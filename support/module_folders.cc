#include "support/module_folders.h"

#include <cstdio>
#include <string>

namespace dactyra {

bool ModuleFolderGate::Admit(const platform::Text& folder) {
  platform::Text reason;
  if (env_.CheckModuleFolder(folder, &reason)) return true;
  std::lock_guard lock(lock_);
  if (reported_.insert(folder).second) {
    const std::string line =
        "dactyra: modules are not loaded from this folder: " + platform::ToUtf8(reason) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
  }
  return false;
}

}  // namespace dactyra
