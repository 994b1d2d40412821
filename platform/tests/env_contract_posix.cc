// The POSIX back end's part in the Env contract suite: Env::Default(), and
// the same through an EnvWrapper that overrides nothing (every call must be
// forwarded unchanged).
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/testing/temp_folder.h"
#include "platform/tests/env_contract.h"

namespace dactyra::platform::testing {
namespace {

std::unique_ptr<TempFolder> g_folder;

Text SetUp() {
  g_folder = std::make_unique<TempFolder>();
  // Named objects and the registry store of the case live in its folder.
  setenv("DACTYRA_RUNTIME", (g_folder->path() + "/runtime").c_str(), 1);
  setenv("DACTYRA_REGISTRY", (g_folder->path() + "/registry").c_str(), 1);
  std::filesystem::create_directory(g_folder->path() + "/work");
  return FromUtf8(g_folder->path() + "/work");
}

void TearDown() {
  unsetenv("DACTYRA_RUNTIME");
  unsetenv("DACTYRA_REGISTRY");
  g_folder.reset();
}

void WriteKey(const Text& path, const std::vector<RegistryValue>& values) {
  std::string folder = g_folder->path() + "/registry/HKEY_CURRENT_USER";
  std::string key = ToUtf8(path);
  for (char& c : key) {
    if (c == '\\') c = '/';
  }
  folder += "/" + key;
  std::filesystem::create_directories(folder);
  std::ofstream out(folder + "/values", std::ios::trunc);
  for (const RegistryValue& v : values) {
    out << ToUtf8(v.name) << "=";
    if (v.is_text) {
      out << "sz:" << ToUtf8(v.text) << "\n";
    } else {
      out << "dword:" << v.number << "\n";
    }
  }
}

void SetEnvironment(const Text& name, const Text& value) {
  setenv(ToUtf8(name).c_str(), ToUtf8(value).c_str(), 1);
}

void OpenToOthers(const Text& path) { chmod(ToUtf8(path).c_str(), 0777); }

EnvBackEnd PosixBackEnd(std::string name, std::function<Env&()> env) {
  return EnvBackEnd{std::move(name),
                    std::move(env),
                    SetUp,
                    TearDown,
                    WriteKey,
                    SetEnvironment,
                    [](const Text&) {},  // the leading "." hides it
                    FromUtf8(TEST_MODULE_PATH),
                    u"",  // each case has a runtime folder of its own
                    5,
                    OpenToOthers};
}

}  // namespace

std::vector<EnvBackEnd> BackEndsUnderTest() {
  return {
      PosixBackEnd("Default", []() -> Env& { return Env::Default(); }),
      PosixBackEnd("Wrapper",
                   []() -> Env& {
                     static EnvWrapper wrapper(Env::Default());
                     return wrapper;
                   }),
  };
}

}  // namespace dactyra::platform::testing
