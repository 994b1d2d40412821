// Dynamic modules over the POSIX dynamic loader.
#include "platform/module.h"

#include <dlfcn.h>

#include "platform/files.h"

namespace dactyra::platform {

std::unique_ptr<Module> Module::Load(const Text& file, Search search, Text* error) {
  // Search::kAlteredSearchPath needs nothing here: a module finds the
  // dependencies beside it through its own $ORIGIN run path, and a bare
  // name goes through the loader's search either way.
  (void)search;
  if (file.empty() || file.find(u'\0') != Text::npos) {
    if (error) *error = u"invalid module file name";
    return nullptr;
  }
  // A relative path is made absolute first, so that the loader records a
  // name that still holds after the current folder changes (the module's
  // own file name is read back from it).
  const bool is_path = file.find(u'/') != Text::npos;
  const std::string name = ToUtf8(is_path && file[0] != u'/' ? FullPath(file) : file);
  if (name.empty()) {
    if (error) *error = u"cannot resolve the module path " + file;
    return nullptr;
  }
  // The loader's message is kept per thread; clear any stale one.
  dlerror();
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* message = dlerror();
    if (error) *error = FromAnsi(message ? message : "cannot load " + name);
    return nullptr;
  }
  return std::unique_ptr<Module>(new Module(handle, file));
}

Module::~Module() {
  if (handle_) dlclose(handle_);
}

void* Module::Symbol(const char* name) const {
  if (!name || !handle_) return nullptr;
  return dlsym(handle_, name);
}

Text ModuleSuffix() { return u".so"; }

}  // namespace dactyra::platform
