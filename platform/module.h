// Dynamic modules (shared libraries) loaded at run time.
#pragma once

#include <memory>

#include "platform/text.h"

namespace dactyra::platform {

namespace internal {
// The back end's Env (Env::Default()), the only maker of these objects.
class DefaultEnv;
}  // namespace internal

class Module {
 public:
  // How a module file's own dependencies are found.
  enum class Search {
    // The loader's normal search.
    kDefault,
    // Dependencies beside the module file are found first.
    kAlteredSearchPath,
  };

  // Modules are loaded through Env::LoadModule.

  // Unloads the module: exactly one unload per successful Load.
  virtual ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // The address of an export, or null when the module has none by that name.
  virtual void* Symbol(const char* name) const;

  template <typename F>
  F Function(const char* name) const {
    return reinterpret_cast<F>(Symbol(name));
  }

  // The path the module was loaded from, as given to Load.
  virtual const Text& file() const { return file_; }

 protected:
  // For modules of other making (test doubles that wrap a loaded module):
  // they override every virtual operation.
  explicit Module(Text file) : handle_(nullptr), file_(std::move(file)) {}

 private:
  friend class internal::DefaultEnv;
  // Loads a module (Env::LoadModule). On POSIX systems `search` changes
  // nothing: a module finds the dependencies beside it through its own
  // $ORIGIN run path, so modules are built with one.
  static std::unique_ptr<Module> Load(const Text& file, Search search, Text* error);

  Module(void* handle, Text file) : handle_(handle), file_(std::move(file)) {}
  void* handle_;
  Text file_;
};

// The platform's suffix for module files, ".so" here (".dll" on Windows).
Text ModuleSuffix();

// The address of the export `name` of the module `module` when the process
// has loaded it already (never loads it), else of the running program's own
// export of that name; null when neither has one. For the few functions a
// library takes from its host process, as a JNI library takes
// JNI_GetCreatedJavaVMs from the Java VM.
void* LoadedSymbol(const Text& module, const char* name);

}  // namespace dactyra::platform
