// Modules of the Win32 back end: LoadLibraryEx with the altered search
// order finds a module's dependency beside it, a bare name goes through the
// loader's search, and each load is freed once.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/env.h"
#include "platform/module.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::platform {
namespace {

namespace fs = std::filesystem;

const wchar_t* W(const Text& t) { return reinterpret_cast<const wchar_t*>(t.c_str()); }

// A folder of its own holding the module and its dependency, away from the
// test program (whose folder the loader would search anyway).
class ModuleWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {TEST_MODULE_PATH, TEST_DEPENDENCY_PATH}) {
      fs::copy_file(file, fs::path(folder_.path()) / fs::path(file).filename());
    }
  }
  Text Module() const { return folder_ / u"test_module.dll"; }
  testing::TempFolder folder_;
};

TEST_F(ModuleWin32, DependencyIsTheOneBesideTheModule) {
  EXPECT_EQ(ModuleSuffix(), u".dll");
  Text error;
  auto module = Env::Default().LoadModule(Module(), Module::Search::kAlteredSearchPath, &error);
  ASSERT_NE(module, nullptr) << ToUtf8(error);
  EXPECT_EQ(module->Function<int (*)()>("test_module_value")(), 42);
  EXPECT_EQ(ModuleFileNameOf(module->Symbol("test_module_marker")), Module());
  EXPECT_EQ(ModuleFileNameOf(reinterpret_cast<const void*>(
                GetProcAddress(GetModuleHandleW(L"libtest_dependency.dll"), "test_dependency_value"))),
            folder_ / u"libtest_dependency.dll");
  // Without its dependency the module does not load, and the message says
  // which file failed.
  module.reset();
  ASSERT_TRUE(DeleteFileW(W(folder_ / u"libtest_dependency.dll")));
  EXPECT_EQ(Env::Default().LoadModule(Module(), Module::Search::kAlteredSearchPath, &error),
            nullptr);
  EXPECT_NE(error.find(Module()), Text::npos) << ToUtf8(error);
}

TEST_F(ModuleWin32, RelativePathIsLoadedFullAndEachLoadIsFreedOnce) {
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(W(folder_.text())));
  auto first = Env::Default().LoadModule(u".\\test_module.dll", Module::Search::kAlteredSearchPath);
  auto second = Env::Default().LoadModule(Module(), Module::Search::kAlteredSearchPath);
  SetCurrentDirectoryW(previous);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->file(), u".\\test_module.dll");
  EXPECT_EQ(first->Symbol("test_module_marker"), second->Symbol("test_module_marker"));
  first.reset();
  EXPECT_NE(GetModuleHandleW(W(Module())), nullptr) << "the second load still holds it";
  second.reset();
  EXPECT_EQ(GetModuleHandleW(W(Module())), nullptr);
}

// Cut-short copies and a copy marked for another machine are refused
// before the loader sees them, with what is wrong; the whole copy loads.
TEST_F(ModuleWin32, ACutShortCopyOrOneOfAnotherMachineIsRefusedSayingWhy) {
  const std::optional<std::string> whole = ReadFileBytes(Module());
  ASSERT_TRUE(whole && whole->size() > 4096);
  struct Case {
    std::string name;
    std::string bytes;
    const char16_t* why;  // null: loads
  };
  std::string other_machine = *whole;
  const size_t pe = static_cast<uint8_t>(other_machine[0x3C]) |
                    static_cast<uint8_t>(other_machine[0x3D]) << 8;
  other_machine[pe + 4] = 0x4C;  // i386: 0x014C
  other_machine[pe + 5] = 0x01;
  const std::vector<Case> cases = {
      {"whole", *whole, nullptr},
      {"empty", "", u"not a Windows module"},
      {"header", whole->substr(0, 100), u"cut short"},
      {"half", whole->substr(0, whole->size() / 2), u"cut short in a section"},
      {"other-machine", other_machine, u"another machine"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text copy = folder_ / FromUtf8(c.name + ".dll");
    ASSERT_TRUE(WriteFileBytes(copy, c.bytes));
    Text error;
    auto module = Env::Default().LoadModule(copy, Module::Search::kAlteredSearchPath, &error);
    if (!c.why) {
      ASSERT_NE(module, nullptr) << ToUtf8(error);
      EXPECT_EQ(module->Function<int (*)()>("test_module_value")(), 42);
      continue;
    }
    EXPECT_EQ(module, nullptr);
    EXPECT_NE(error.find(copy), Text::npos) << ToUtf8(error);
    EXPECT_NE(error.find(c.why), Text::npos) << ToUtf8(error);
  }
}

TEST(ModuleWin32Search, BareNameGoesThroughTheLoadersSearchAndFailuresSayWhy) {
  auto kernel = Env::Default().LoadModule(u"kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_NE(kernel->Symbol("GetTickCount"), nullptr);
  EXPECT_EQ(kernel->Symbol("NoSuchExport"), nullptr);
  Text error;
  EXPECT_EQ(Env::Default().LoadModule(u"dactyra_no_such_module.dll", Module::Search::kDefault,
                                      &error),
            nullptr);
  EXPECT_NE(error.find(u"dactyra_no_such_module.dll"), Text::npos) << ToUtf8(error);
  EXPECT_EQ(Env::Default().LoadModule(Text(u"a\0b.dll", 7)), nullptr);
}

}  // namespace
}  // namespace dactyra::platform
