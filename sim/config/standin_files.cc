// The stand-ins' file scaffolding: own name, configuration text, call log.
#include "sim/config/standin_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace dactyra::sim::config {

std::string OwnStem(const void* address) {
#ifdef _WIN32
  HMODULE module = nullptr;
  char name[MAX_PATH * 2] = {};
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<const char*>(address), &module) ||
      !GetModuleFileNameA(module, name, sizeof name - 1)) {
    return "";
  }
  std::string stem = name;
#else
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname) return "";
  std::string stem = info.dli_fname;
#endif
  const std::size_t slash = stem.find_last_of("/\\");
  if (slash != std::string::npos) stem.erase(0, slash + 1);
  const std::size_t dot = stem.find_last_of('.');
  if (dot != std::string::npos) stem.erase(dot);
  return stem;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string ReadConfigText(const std::string& path) {
  if (path.empty()) return "";
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void AppendLine(const std::string& path, const std::string& line) {
  if (path.empty()) return;
  if (FILE* file = std::fopen(path.c_str(), "a")) {
    const std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
}

void Fail(std::string_view who, const ConfigError& error) {
  std::fprintf(stderr, "%.*s: bad configuration: %s\n", static_cast<int>(who.size()), who.data(),
               error.what());
  std::fflush(stderr);
  std::abort();
}

}  // namespace dactyra::sim::config
