// The registry of the Win32 back end is the real one (the test's Wine
// prefix): the "Environment" keys are registry keys, not the process
// environment, and values are read with the types Windows stores.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/env.h"

namespace dactyra::platform {
namespace {

const wchar_t* W(const Text& t) { return reinterpret_cast<const wchar_t*>(t.c_str()); }

constexpr char16_t kMachineEnvironment[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// A value of this process's own under a key, removed again at the end.
class RegistryValue {
 public:
  RegistryValue(HKEY root, const Text& key, DWORD type, const void* data, DWORD size)
      : root_(root), key_(key),
        name_(FromUtf8("dactyra-test-" + std::to_string(GetCurrentProcessId()))) {
    HKEY k;
    if (RegCreateKeyExW(root_, W(key_), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) ==
        ERROR_SUCCESS) {
      written_ = RegSetValueExW(k, W(name_), 0, type, static_cast<const BYTE*>(data), size) ==
                 ERROR_SUCCESS;
      RegCloseKey(k);
    }
  }
  ~RegistryValue() { RegDeleteKeyValueW(root_, W(key_), W(name_)); }
  bool written() const { return written_; }
  const Text& name() const { return name_; }

 private:
  HKEY root_;
  Text key_;
  Text name_;
  bool written_ = false;
};

TEST(RegistryWin32, EnvironmentKeysAreTheRegistrysNotTheProcesss) {
  const Text host = u"sensor-host";
  RegistryValue machine(HKEY_LOCAL_MACHINE, kMachineEnvironment, REG_SZ, host.c_str(),
                        static_cast<DWORD>((host.size() + 1) * 2));
  ASSERT_TRUE(machine.written());
  auto key = Env::Default().OpenRegistryKey(RegistryRoot::kLocalMachine, kMachineEnvironment);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadText(machine.name()), host);
  // A variable of the process alone is not in the user's key.
  ASSERT_TRUE(SetEnvironmentVariableW(L"DACTYRA_PROCESS_ONLY", L"x"));
  auto user = Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser, u"\\Environment");
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->ReadText(u"DACTYRA_PROCESS_ONLY"), std::nullopt);
}

TEST(RegistryWin32, TextsAndNumbersAreReadAsWindowsStoresThem) {
  const Text key_path = u"Software\\Tessiva BR\\dactyra";
  // An expandable text is read as stored; a text stored without its NUL is
  // read whole, one with a NUL inside ends there.
  const Text expandable = u"%TEMP%\\x";
  RegistryValue expand(HKEY_CURRENT_USER, key_path, REG_EXPAND_SZ, expandable.c_str(),
                       static_cast<DWORD>((expandable.size() + 1) * 2));
  const char16_t bare[] = {u'a', u'b', u'c'};
  RegistryValue unterminated(HKEY_CURRENT_USER, key_path + u"\\bare", REG_SZ, bare, sizeof bare);
  const char16_t inner[] = u"ab\0cd";
  RegistryValue cut(HKEY_CURRENT_USER, key_path + u"\\cut", REG_SZ, inner, sizeof inner);
  const uint32_t four_bytes = 1;
  RegistryValue binary(HKEY_CURRENT_USER, key_path + u"\\binary", REG_BINARY, &four_bytes, 4);
  const uint64_t qword = 1;
  RegistryValue wide(HKEY_CURRENT_USER, key_path + u"\\qword", REG_QWORD, &qword, 8);
  ASSERT_TRUE(expand.written() && unterminated.written() && cut.written() && binary.written() &&
              wide.written());
  auto read = [&](const Text& sub) {
    return Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser, u"\\" + key_path + sub);
  };
  EXPECT_EQ(read(u"")->ReadText(expand.name()), expandable);
  EXPECT_EQ(read(u"\\bare")->ReadText(unterminated.name()), u"abc");
  EXPECT_EQ(read(u"\\cut")->ReadText(cut.name()), u"ab");
  EXPECT_EQ(read(u"\\binary")->ReadInteger(binary.name()), std::nullopt);
  EXPECT_EQ(read(u"\\qword")->ReadInteger(wide.name()), std::nullopt);
  EXPECT_EQ(read(u"\\none"), nullptr);
  for (const char16_t* sub : {u"\\bare", u"\\cut", u"\\binary", u"\\qword"}) {
    RegDeleteKeyW(HKEY_CURRENT_USER, W(key_path + sub));
  }
}

}  // namespace
}  // namespace dactyra::platform
