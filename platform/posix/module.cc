// Dynamic modules over the POSIX dynamic loader.
#include "platform/module.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/files.h"
#include "platform/module_image.h"

namespace dactyra::platform {
namespace {

constexpr ModuleMachine kThisMachine{sizeof(void*) == 8,
#if defined(__x86_64__)
                                     EM_X86_64
#elif defined(__i386__)
                                     EM_386
#elif defined(__aarch64__)
                                     EM_AARCH64
#else
#error "the module check needs this machine's ELF number"
#endif
};

// Empty when the file at `path` is a complete module of this machine;
// otherwise why not. The loader would map a cut-short file and die on
// the first page past its end.
Text ImageProblem(const std::string& path) {
  // A file that cannot be opened is left to the loader, whose message
  // says why.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Text();
  struct stat st;
  std::vector<uint8_t> head;
  const char* problem = nullptr;
  if (fstat(fd, &st) != 0) {
    problem = "cannot be examined";
  } else if (!S_ISREG(st.st_mode)) {
    problem = "not a plain file";
  } else {
    head.resize(static_cast<size_t>(std::min<off_t>(st.st_size, kModuleImageHead)));
    size_t got = 0;
    while (got < head.size()) {
      const ssize_t n = pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    head.resize(got);
    problem = ModuleImageProblem(head, static_cast<uint64_t>(st.st_size), kThisMachine);
  }
  close(fd);
  return problem ? FromUtf8(problem) : Text();
}

}  // namespace

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
  if (is_path) {
    const Text problem = ImageProblem(name);
    if (!problem.empty()) {
      if (error) *error = FromUtf8(name) + u" is not a complete module of this machine: " + problem;
      return nullptr;
    }
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

void* LoadedSymbol(const Text& module, const char* name) {
  if (!name) return nullptr;
  if (void* handle = dlopen(ToUtf8(module).c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    void* found = dlsym(handle, name);
    dlclose(handle);
    if (found) return found;
  }
  return dlsym(RTLD_DEFAULT, name);
}

}  // namespace dactyra::platform
