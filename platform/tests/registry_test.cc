#include "platform/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/backend.h"
#include "platform/env.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::platform {
namespace {

constexpr char16_t kMachineEnvironment[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("DACTYRA_REGISTRY", store_.path().c_str(), 1);
    Write(u"HKEY_CURRENT_USER/Software/Tessiva BR/dactyra",
          "# image log\n"
          "SI=dword:1\r\n"
          "\n"
          "Hex=dword:0x1F\n"
          "Max=dword:4294967295\n"
          "Big=dword:4294967296\n"
          "Negative=dword:-1\n"
          "Junk=dword:12x\n"
          "NoDigits=dword:\n"
          "Greeting=sz:Olá = mundo\n"
          "TextOne=sz:1\n"
          "Empty=sz:\n"
          "Untyped=5\n"
          "no equals sign\n"
          "Twice=sz:first\n"
          "twice=sz:second\n");
    Write(u"HKEY_LOCAL_MACHINE/Software/Tessiva BR/dactyra", "SI=dword:2\n");
  }
  void TearDown() override { unsetenv("DACTYRA_REGISTRY"); }

  void Write(const Text& key, std::string_view values) {
    ASSERT_TRUE(CreateFolders(store_ / key));
    ASSERT_TRUE(WriteFileBytes(store_ / key + u"/values", values));
  }

  testing::TempFolder store_;
};

TEST_F(RegistryTest, ReadsIntegersAndTextsOfTheirOwnType) {
  auto key = Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser,
                                            u"\\Software\\Tessiva BR\\dactyra");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadInteger(u"SI"), 1u);
  EXPECT_EQ(key->ReadInteger(u"si"), 1u);  // names ignore letter case
  EXPECT_EQ(key->ReadInteger(u"Hex"), 31u);
  EXPECT_EQ(key->ReadInteger(u"Max"), 4294967295u);
  EXPECT_EQ(key->ReadText(u"Greeting"), u"Olá = mundo");
  EXPECT_EQ(key->ReadText(u"Empty"), u"");
  EXPECT_EQ(key->ReadText(u"Twice"), u"first");
  // Of another type, malformed or missing: nothing.
  EXPECT_EQ(key->ReadInteger(u"TextOne"), std::nullopt);
  EXPECT_EQ(key->ReadText(u"SI"), std::nullopt);
  for (const char16_t* name :
       {u"Big", u"Negative", u"Junk", u"NoDigits", u"Untyped", u"Absent", u"no equals sign", u""}) {
    EXPECT_EQ(key->ReadInteger(name), std::nullopt) << ToUtf8(name);
    EXPECT_EQ(key->ReadText(name), std::nullopt) << ToUtf8(name);
  }
}

TEST_F(RegistryTest, KeyPathsIgnoreCaseAndRootsAreSeparate) {
  auto user =
      Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser, u"software\\TESSIVA br\\Dactyra");
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->ReadInteger(u"SI"), 1u);
  auto machine = Env::Default().OpenRegistryKey(RegistryRoot::kLocalMachine,
                                                u"\\Software\\Tessiva BR\\dactyra");
  ASSERT_NE(machine, nullptr);
  EXPECT_EQ(machine->ReadInteger(u"SI"), 2u);
  // A key without a values file has no values.
  auto parent = Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser, u"\\Software");
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(parent->ReadText(u"SI"), std::nullopt);
}

TEST_F(RegistryTest, OpenNeverCreatesAndRefusesPathsThatLeaveTheStore) {
  EXPECT_EQ(Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser, u"\\Software\\Nobody"),
            nullptr);
  EXPECT_FALSE(FolderExists(store_ / u"HKEY_CURRENT_USER/Software/Nobody"));
  EXPECT_EQ(Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser,
                                           u"\\Software\\Tessiva BR\\dactyra\\values"),
            nullptr);  // a file is no key
  for (const char16_t* bad :
       {u"..\\HKEY_LOCAL_MACHINE\\Software", u"Software\\.\\Tessiva BR", u"Software/Tessiva BR",
        u"Software\\\\Tessiva BR", u"\\\\Software", u"Software\\Tessiva BR\\"}) {
    EXPECT_EQ(Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser, bad), nullptr)
        << ToUtf8(bad);
  }
}

TEST_F(RegistryTest, ValuesAreReadAnewOnEveryCall) {
  auto key = Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser,
                                            u"\\Software\\Tessiva BR\\dactyra");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadInteger(u"SI"), 1u);
  Write(u"HKEY_CURRENT_USER/Software/Tessiva BR/dactyra", "SI=dword:0\n");
  EXPECT_EQ(key->ReadInteger(u"SI"), 0u);
  ASSERT_TRUE(DeleteFile(store_ / u"HKEY_CURRENT_USER/Software/Tessiva BR/dactyra/values"));
  EXPECT_EQ(key->ReadInteger(u"SI"), std::nullopt);
}

TEST_F(RegistryTest, EnvironmentKeysReadTheProcessEnvironment) {
  setenv("XDClientName", "sensor-host", 1);
  unsetenv("DACTYRA_REGISTRY");  // needs no store at all
  auto machine = Env::Default().OpenRegistryKey(RegistryRoot::kLocalMachine, kMachineEnvironment);
  ASSERT_NE(machine, nullptr);
  EXPECT_EQ(machine->ReadText(u"XDClientName"), u"sensor-host");
  EXPECT_EQ(machine->ReadText(u"xdclientname"), u"sensor-host");
  EXPECT_EQ(machine->ReadInteger(u"XDClientName"), std::nullopt);
  EXPECT_EQ(machine->ReadText(u"DactyraSurelyUnset"), std::nullopt);
  EXPECT_EQ(machine->ReadText(u""), std::nullopt);
  EXPECT_EQ(machine->ReadText(u"A=B"), std::nullopt);
  auto lower = Env::Default().OpenRegistryKey(
      RegistryRoot::kLocalMachine,
      u"\\system\\currentcontrolset\\control\\session manager\\environment");
  ASSERT_NE(lower, nullptr);
  EXPECT_EQ(lower->ReadText(u"XDClientName"), u"sensor-host");
  auto user = Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser, u"Environment");
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(user->ReadText(u"XDClientName"), u"sensor-host");
  // Each root has only its own environment key.
  EXPECT_EQ(Env::Default().OpenRegistryKey(RegistryRoot::kLocalMachine, u"Environment"), nullptr);
  unsetenv("XDClientName");
  EXPECT_EQ(machine->ReadText(u"XDClientName"), std::nullopt);
}

TEST_F(RegistryTest, DefaultStoreIsUnderTheUsersConfigFolder) {
  unsetenv("DACTYRA_REGISTRY");
  testing::TempFolder config;
  setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  ASSERT_TRUE(
      CreateFolders(config / u"dactyra/registry/HKEY_CURRENT_USER/Software/Tessiva BR/dactyra"));
  ASSERT_TRUE(WriteFileBytes(
      config / u"dactyra/registry/HKEY_CURRENT_USER/Software/Tessiva BR/dactyra/values",
      "SI=dword:7\n"));
  auto key = Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser,
                                            u"\\Software\\Tessiva BR\\dactyra");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadInteger(u"SI"), 7u);
  // Without XDG_CONFIG_HOME, ~/.config is used.
  unsetenv("XDG_CONFIG_HOME");
  testing::TempFolder home;
  setenv("HOME", home.path().c_str(), 1);
  EXPECT_EQ(Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser,
                                           u"\\Software\\Tessiva BR\\dactyra"),
            nullptr);
  ASSERT_TRUE(CreateFolders(home / u".config/dactyra/registry/HKEY_CURRENT_USER/Software"));
  EXPECT_NE(Env::Default().OpenRegistryKey(RegistryRoot::kCurrentUser, u"\\Software"), nullptr);
}

}  // namespace
}  // namespace dactyra::platform
