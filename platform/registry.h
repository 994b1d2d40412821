// The system registry, read only. On Windows it is the real registry; on
// POSIX systems a file-backed store under one folder, by default
// $XDG_CONFIG_HOME/dactyra/registry (or ~/.config/dactyra/registry),
// overridden by the environment variable DACTYRA_REGISTRY. In the store a
// key is a folder, "HKEY_CURRENT_USER/Software/Tessiva BR/dactyra" say, and
// its values are the lines of the file "values" in it:
//   name=dword:<decimal or 0x hexadecimal>
//   name=sz:<text>
// Key and value names ignore letter case; blank lines and lines beginning
// with '#' are skipped; the first line with a name counts; values are read
// anew on every call. Key paths with empty, "." or ".." segments or with a
// slash are refused.
// The keys "Environment" under the current user and
// "SYSTEM\CurrentControlSet\Control\Session Manager\Environment" under the
// local machine read the process environment instead.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/text.h"

namespace dactyra::platform {

namespace internal {
// The back end's Env (Env::Default()), the only maker of these objects.
class DefaultEnv;
}  // namespace internal

enum class RegistryRoot { kCurrentUser, kLocalMachine };

class RegistryKey {
 public:
  // Env::OpenRegistryKey opens an existing key for reading (never creates
  // it); `path` uses backslashes, a leading one allowed. Null when there is
  // no such key.
  virtual ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // A 32-bit integer value; empty when missing or of another type.
  virtual std::optional<uint32_t> ReadInteger(const Text& name) const;
  // A text value; empty when missing or of another type.
  virtual std::optional<Text> ReadText(const Text& name) const;

 protected:
  // For objects of other making (test doubles): they override every
  // virtual operation.
  RegistryKey();

 private:
  friend class internal::DefaultEnv;
  static std::unique_ptr<RegistryKey> Open(RegistryRoot root, const Text& path);
  struct Impl;
  explicit RegistryKey(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace dactyra::platform
