// The Win32 back end's part in the Env contract suite: Env::Default(), and
// the same through an EnvWrapper that overrides nothing. Registry values go
// to the real registry (the test's Wine prefix), under names of this
// process's own, and are removed after each case.
#include <windows.h>
// After windows.h.
#include <aclapi.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/tests/env_contract.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::platform::testing {
namespace {

std::unique_ptr<TempFolder> g_folder;
std::vector<Text> g_keys;
std::vector<Text> g_variables;

const wchar_t* W(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

Text Prefix() {
  static const Text prefix =
      FromUtf8("dactyra-contract-" + std::to_string(GetCurrentProcessId()) + "-");
  return prefix;
}

Text SetUp() {
  g_folder = std::make_unique<TempFolder>();
  std::filesystem::create_directory(g_folder->path() + "\\work");
  return FromUtf8(g_folder->path() + "\\work");
}

void TearDown() {
  for (const Text& key : g_keys) RegDeleteTreeW(HKEY_CURRENT_USER, W(key));
  HKEY environment;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_SET_VALUE, &environment) ==
      ERROR_SUCCESS) {
    for (const Text& name : g_variables) RegDeleteValueW(environment, W(name));
    RegCloseKey(environment);
  }
  g_keys.clear();
  g_variables.clear();
  g_folder.reset();
}

void SetText(HKEY key, const Text& name, const Text& text) {
  RegSetValueExW(key, W(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

void WriteKey(const Text& path, const std::vector<RegistryValue>& values) {
  RegDeleteTreeW(HKEY_CURRENT_USER, W(path));
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, W(path), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  g_keys.push_back(path);
  for (const RegistryValue& v : values) {
    if (v.is_text) {
      SetText(key, v.name, v.text);
    } else {
      const DWORD number = v.number;
      RegSetValueExW(key, W(v.name), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                     sizeof number);
    }
  }
  RegCloseKey(key);
}

void SetEnvironment(const Text& name, const Text& value) {
  HKEY environment;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Environment", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &environment, nullptr) != ERROR_SUCCESS) {
    return;
  }
  g_variables.push_back(name);
  SetText(environment, name, value);
  RegCloseKey(environment);
}

void Hide(const Text& path) {
  SetFileAttributesW(W(path), GetFileAttributesW(W(path)) | FILE_ATTRIBUTE_HIDDEN);
}

// Adds an entry to the folder's access list that lets everybody write.
void OpenToOthers(const Text& path) {
  PACL old_dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(W(path), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &old_dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return;
  }
  EXPLICIT_ACCESSW everyone{};
  everyone.grfAccessPermissions = GENERIC_ALL;
  everyone.grfAccessMode = GRANT_ACCESS;
  everyone.grfInheritance = NO_INHERITANCE;
  everyone.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
  everyone.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  everyone.Trustee.ptstrName = const_cast<wchar_t*>(L"Everyone");
  PACL new_dacl = nullptr;
  if (SetEntriesInAclW(1, &everyone, old_dacl, &new_dacl) == ERROR_SUCCESS) {
    SetNamedSecurityInfoW(const_cast<wchar_t*>(W(path)), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION, nullptr, nullptr, new_dacl, nullptr);
    LocalFree(new_dacl);
  }
  LocalFree(descriptor);
}

// The module's full path in the system's spelling, as the loader keeps it.
Text TestModule() {
  wchar_t full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameW(W(FromUtf8(TEST_MODULE_PATH)), MAX_PATH * 4, full, nullptr);
  return Text(reinterpret_cast<const char16_t*>(full), length);
}

EnvBackEnd Win32BackEnd(std::string name, std::function<Env&()> env) {
  return EnvBackEnd{std::move(name), std::move(env), SetUp,    TearDown,
                    WriteKey,        SetEnvironment, Hide,     TestModule(),
                    Prefix(),        20,             OpenToOthers};
}

}  // namespace

std::vector<EnvBackEnd> BackEndsUnderTest() {
  return {
      Win32BackEnd("Default", []() -> Env& { return Env::Default(); }),
      Win32BackEnd("Wrapper",
                   []() -> Env& {
                     static EnvWrapper wrapper(Env::Default());
                     return wrapper;
                   }),
  };
}

}  // namespace dactyra::platform::testing
