#include "platform/module.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/env.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::platform {
namespace {

namespace fs = std::filesystem;

const Text kModulePath = FromUtf8(TEST_MODULE_PATH);

// Whether the loader still has `path` mapped (without loading it).
bool IsLoaded(const char* path) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return false;
  dlclose(handle);
  return true;
}

TEST(Module, LoadsByPathFindsExportsAndItsDependencyBesideIt) {
  Text error = u"untouched";
  auto module = Env::Default().LoadModule(kModulePath, Module::Search::kAlteredSearchPath, &error);
  ASSERT_NE(module, nullptr) << ToUtf8(error);
  EXPECT_EQ(module->file(), kModulePath);
  auto value = module->Function<int (*)()>("test_module_value");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value(), 42);
  EXPECT_EQ(module->Symbol("no_such_export"), nullptr);
  EXPECT_EQ(module->Symbol(nullptr), nullptr);
  EXPECT_EQ(ModuleSuffix(), u".so");
}

TEST(Module, CopiedFolderStillFindsTheDependencyBesideTheModule) {
  // Only the $ORIGIN run path can find the copy's dependency.
  testing::TempFolder folder;
  const fs::path from = fs::path(TEST_MODULE_PATH).parent_path();
  for (const char* name : {"test_module.so", "libtest_dependency.so"}) {
    fs::copy_file(from / name, fs::path(folder.path()) / name);
  }
  Text error;
  auto module =
      Env::Default().LoadModule(folder / u"test_module.so", Module::Search::kDefault, &error);
  ASSERT_NE(module, nullptr) << ToUtf8(error);
  EXPECT_EQ(module->Function<int (*)()>("test_module_value")(), 42);
  const void* marker = module->Symbol("test_module_marker");
  EXPECT_EQ(ModuleFileNameOf(marker), folder / u"test_module.so");
}

TEST(Module, MissingDependencyFailsWithTheLoadersMessage) {
  testing::TempFolder folder;
  fs::copy_file(TEST_MODULE_PATH, fs::path(folder.path()) / "test_module.so");
  Text error;
  EXPECT_EQ(Env::Default().LoadModule(folder / u"test_module.so",
                                      Module::Search::kAlteredSearchPath, &error),
            nullptr);
  EXPECT_NE(error.find(u"libtest_dependency.so"), Text::npos) << ToUtf8(error);
}

TEST(Module, MissingOrBadFileFailsWithAMessage) {
  testing::TempFolder folder;
  Text error;
  EXPECT_EQ(Env::Default().LoadModule(folder / u"absent.so", Module::Search::kDefault, &error),
            nullptr);
  EXPECT_NE(error.find(u"absent.so"), Text::npos) << ToUtf8(error);

  ASSERT_TRUE(WriteFileBytes(folder / u"vxr_fake.so", "not a module"));
  error.clear();
  EXPECT_EQ(Env::Default().LoadModule(folder / u"vxr_fake.so", Module::Search::kDefault, &error),
            nullptr);
  EXPECT_FALSE(error.empty());

  error.clear();
  EXPECT_EQ(
      Env::Default().LoadModule(u"dactyra_no_such_module.so", Module::Search::kDefault, &error),
      nullptr);
  EXPECT_NE(error.find(u"dactyra_no_such_module.so"), Text::npos) << ToUtf8(error);

  EXPECT_EQ(Env::Default().LoadModule(u""), nullptr);
  EXPECT_EQ(Env::Default().LoadModule(Text(u"a\0b.so", 6)), nullptr);
}

// A half-copied module: the loader maps its segments from the file, and a
// segment past the file's end is a SIGBUS at the first touch. Each cut copy
// is refused with a message, or (cut only in what the loader never maps)
// loads and works.
TEST(Module, ACutShortCopyIsRefusedAndNeverKillsTheProcess) {
  testing::TempFolder folder;
  const fs::path from = fs::path(TEST_MODULE_PATH).parent_path();
  fs::copy_file(from / "libtest_dependency.so", fs::path(folder.path()) / "libtest_dependency.so");
  const std::optional<std::string> whole = ReadFileBytes(kModulePath);
  ASSERT_TRUE(whole);
  std::vector<size_t> cuts = {0, 15, 40, 1000, 4096};
  for (size_t eighth = 1; eighth < 8; ++eighth) cuts.push_back(whole->size() * eighth / 8);
  int refused = 0;
  for (const size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const Text copy = folder / FromUtf8("cut" + std::to_string(cut) + ".so");
    ASSERT_TRUE(WriteFileBytes(copy, std::string_view(*whole).substr(0, cut)));
    Text error;
    auto module = Env::Default().LoadModule(copy, Module::Search::kDefault, &error);
    if (module) {
      EXPECT_EQ(module->Function<int (*)()>("test_module_value")(), 42);
    } else {
      EXPECT_NE(error.find(copy), Text::npos) << ToUtf8(error);
      ++refused;
    }
  }
  // The module's own segments reach past its first half.
  EXPECT_GE(refused, 8);
}

TEST(Module, BareNameGoesThroughTheLoadersSearch) {
  Text error;
  auto libm = Env::Default().LoadModule(u"libm.so.6", Module::Search::kDefault, &error);
  ASSERT_NE(libm, nullptr) << ToUtf8(error);
  auto cosine = libm->Function<double (*)(double)>("cos");
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
}

TEST(Module, RelativePathIsLoadedAndRecordedAsAFullPath) {
  testing::TempFolder folder;
  const fs::path from = fs::path(TEST_MODULE_PATH).parent_path();
  fs::create_directory(fs::path(folder.path()) / "sub");
  for (const char* name : {"test_module.so", "libtest_dependency.so"}) {
    fs::copy_file(from / name, fs::path(folder.path()) / "sub" / name);
  }
  const fs::path previous = fs::current_path();
  fs::current_path(folder.path());
  auto module = Env::Default().LoadModule(u"sub/test_module.so");
  fs::current_path(previous);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->file(), u"sub/test_module.so");
  EXPECT_EQ(ModuleFileNameOf(module->Symbol("test_module_marker")), folder / u"sub/test_module.so");
}

TEST(Module, EachLoadIsUnloadedExactlyOnce) {
  ASSERT_FALSE(IsLoaded(TEST_MODULE_PATH));
  auto first = Env::Default().LoadModule(kModulePath);
  auto second = Env::Default().LoadModule(kModulePath);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(IsLoaded(TEST_MODULE_PATH));
  first.reset();
  EXPECT_TRUE(IsLoaded(TEST_MODULE_PATH));
  second.reset();
  EXPECT_FALSE(IsLoaded(TEST_MODULE_PATH));
}

}  // namespace
}  // namespace dactyra::platform
