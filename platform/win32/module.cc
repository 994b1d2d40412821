// Modules over the Windows loader: LoadLibraryEx, GetProcAddress,
// FreeLibrary.
#include "platform/module.h"

#include <algorithm>
#include <vector>

#include "platform/files.h"
#include "platform/module_image.h"
#include "platform/win32/win32_common.h"

namespace dactyra::platform {
namespace {

constexpr ModuleMachine kThisMachine{sizeof(void*) == 8,
#if defined(__x86_64__) || defined(_M_X64)
                                     0x8664
#elif defined(__i386__) || defined(_M_IX86)
                                     0x14C
#elif defined(__aarch64__) || defined(_M_ARM64)
                                     0xAA64
#else
#error "the module check needs this machine's PE number"
#endif
};

// Empty when the file at `path` is a complete DLL of this machine;
// otherwise why not. A file that cannot be opened is left to the loader,
// whose message says why.
Text ImageProblem(const Text& path) {
  internal::OwnedHandle file(CreateFileW(internal::Wide(path), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return Text();
  LARGE_INTEGER size{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size)) {
    return u"not a plain file";
  }
  std::vector<uint8_t> head(static_cast<size_t>(
      std::min<LONGLONG>(size.QuadPart, static_cast<LONGLONG>(kModuleImageHead))));
  size_t got = 0;
  while (got < head.size()) {
    DWORD n = 0;
    if (!ReadFile(file.get(), head.data() + got, static_cast<DWORD>(head.size() - got), &n,
                  nullptr) ||
        n == 0) {
      break;
    }
    got += n;
  }
  head.resize(got);
  const char* problem =
      PeImageProblem(head, static_cast<uint64_t>(size.QuadPart), kThisMachine);
  return problem ? FromUtf8(problem) : Text();
}

}  // namespace

std::unique_ptr<Module> Module::Load(const Text& file, Search search, Text* error) {
  if (file.empty() || file.find(u'\0') != Text::npos) {
    if (error) *error = u"invalid module file name";
    return nullptr;
  }
  // A bare name goes through the loader's search. A path is made full
  // first: the altered search order needs one, and the loader then records
  // a name that still holds after the current folder changes.
  const bool is_path = file.find_first_of(u"\\/:") != Text::npos;
  const Text name = is_path ? FullPath(file) : file;
  if (name.empty()) {
    if (error) *error = u"cannot resolve the module path " + file;
    return nullptr;
  }
  if (is_path) {
    const Text problem = ImageProblem(name);
    if (!problem.empty()) {
      if (error) *error = name + u" is not a complete module of this machine: " + problem;
      return nullptr;
    }
  }
  const DWORD flags =
      is_path && search == Search::kAlteredSearchPath ? LOAD_WITH_ALTERED_SEARCH_PATH : 0;
  // A missing dependency or a broken file must fail the call, not open a
  // message box in front of the user.
  DWORD previous_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_mode);
  HMODULE handle = LoadLibraryExW(internal::Wide(name), nullptr, flags);
  const DWORD failure = GetLastError();
  SetThreadErrorMode(previous_mode, nullptr);
  if (!handle) {
    if (error) *error = internal::SystemMessage(failure) + u" (" + name + u")";
    return nullptr;
  }
  return std::unique_ptr<Module>(new Module(handle, file));
}

Module::~Module() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* Module::Symbol(const char* name) const {
  if (!name || !handle_) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

Text ModuleSuffix() { return u".dll"; }

void* LoadedSymbol(const Text& module, const char* name) {
  if (!name) return nullptr;
  // GetModuleHandle takes no reference: nothing to free.
  if (HMODULE loaded = GetModuleHandleW(internal::Wide(module))) {
    if (FARPROC found = GetProcAddress(loaded, name)) return reinterpret_cast<void*>(found);
  }
  return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), name));
}

}  // namespace dactyra::platform
