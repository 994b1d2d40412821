// The current user's "Environment" key as a test wants it: its
// DACTYRA_MODULE_PATH value names the test's module folders, and it holds
// nothing else. Tests hand it out through an Env wrapper, so no test
// changes the process environment or, on Windows, the real key (shared by
// every test of a Wine prefix).
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/registry.h"

namespace dactyra::testing {

class ModuleFoldersKey : public platform::RegistryKey {
 public:
  explicit ModuleFoldersKey(platform::Text folders) : folders_(std::move(folders)) {}
  std::optional<uint32_t> ReadInteger(const platform::Text&) const override {
    return std::nullopt;
  }
  std::optional<platform::Text> ReadText(const platform::Text& name) const override {
    if (name == u"DACTYRA_MODULE_PATH") return folders_;
    return std::nullopt;
  }

 private:
  platform::Text folders_;
};

}  // namespace dactyra::testing
