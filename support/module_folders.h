// The folders reader modules are loaded from, let in one at a time. A
// module runs as this user, so a folder another user can plant a file in
// (or a relative one, which names a different folder in every current
// folder) is skipped; the platform judges (Env::CheckModuleFolder). A
// refused folder is reported on standard error the first time only, so a
// host that lists its readers every second does not flood its console.
#pragma once

#include <mutex>
#include <set>

#include "platform/env.h"
#include "platform/text.h"

namespace dactyra {

class ModuleFolderGate {
 public:
  // `env` outlives the gate.
  explicit ModuleFolderGate(platform::Env& env) : env_(env) {}

  // Whether modules may be loaded from `folder`. Safe from any thread.
  bool Admit(const platform::Text& folder);

 private:
  platform::Env& env_;
  std::mutex lock_;
  std::set<platform::Text> reported_;  // under lock_
};

}  // namespace dactyra
