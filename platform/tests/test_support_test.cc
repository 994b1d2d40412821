// The shared test support: a temporary folder is private, unique, removed
// with its contents, and refused loudly rather than left empty; a wait
// answers at once when its condition holds and gives up at its bound.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/testing/temp_folder.h"
#include "platform/testing/wait.h"

namespace dactyra::platform::testing {
namespace {

namespace fs = std::filesystem;

TEST(TempFolder, IsPrivateUniqueAndRemovedWithItsContents) {
  std::string kept;
  {
    TempFolder a("dactyra-support"), b("dactyra-support");
    ASSERT_NE(a.path(), b.path());
    EXPECT_EQ(fs::path(a.path()).filename().string().rfind("dactyra-support-", 0), 0u);
    struct stat info {};
    ASSERT_EQ(stat(a.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    fs::create_directories(a.path() + "/deep/er");
    std::ofstream(a.path() + "/deep/er/file") << "x";
    kept = a.path();
  }
  EXPECT_FALSE(fs::exists(kept));
}

TEST(TempFolder, RaisesWhenNoFolderCanBeMade) {
  const char* before = getenv("TMPDIR");
  const std::string saved = before ? before : "";
  TempFolder parent;
  ASSERT_EQ(setenv("TMPDIR", (parent.path() + "/missing").c_str(), 1), 0);
  EXPECT_THROW(TempFolder(), std::runtime_error);
  if (before) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST(WaitUntil, AnswersAtOnceWhenTrueAndGivesUpAtItsBound) {
  using namespace std::chrono;
  const auto start = steady_clock::now();
  EXPECT_TRUE(WaitUntil([] { return true; }));
  EXPECT_LT(steady_clock::now() - start, seconds(1));
  int asked = 0;
  EXPECT_FALSE(WaitUntil([&] { return ++asked < 0; }, milliseconds(30)));
  EXPECT_GE(steady_clock::now() - start, milliseconds(30));
  EXPECT_GT(asked, 1);
}

}  // namespace
}  // namespace dactyra::platform::testing
