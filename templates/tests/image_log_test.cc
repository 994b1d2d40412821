// The image log over a test Env: when it is on, the day folders it keeps
// and removes, the file it writes, and the failures it swallows.
#include "templates/image_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "imaging/bmp_encoder.h"
#include "templates/tests/extract_test_env.h"

namespace dactyra::templates {
namespace {

namespace fs = std::filesystem;
using platform::LocalTime;
using platform::Text;
using testing::ExtractEnv;
using testing::LibraryFolder;

TEST(ImageLog, IsOnOnlyWhenSIReadsAsTheInteger1) {
  struct Case {
    const char* name;
    bool key;
    std::optional<uint32_t> integer;
    std::optional<Text> text;
    bool on;
  };
  for (const Case& c :
       {Case{"no key", false, std::nullopt, std::nullopt, false},
        Case{"no value", true, std::nullopt, std::nullopt, false},
        Case{"1", true, 1u, std::nullopt, true}, Case{"0", true, 0u, std::nullopt, false},
        Case{"2", true, 2u, std::nullopt, false},
        Case{"text 1", true, std::nullopt, Text(u"1"), false}}) {
    SCOPED_TRACE(c.name);
    ExtractEnv env;
    env.key_exists = c.key;
    env.si_integer = c.integer;
    env.si_text = c.text;
    EXPECT_EQ(ImageLogEnabled(env), c.on);
  }
}

TEST(ImageLog, DayBeforeFollowsTheCalendar) {
  struct Case {
    LocalTime now;
    const char16_t* today;
    const char16_t* yesterday;
  };
  for (const Case& c : {Case{{2024, 3, 1, 0, 0, 1, 0}, u"20240301", u"20240229"},
                        Case{{2023, 3, 1, 0, 0, 1, 0}, u"20230301", u"20230228"},
                        Case{{2100, 3, 1, 12, 0, 0, 0}, u"21000301", u"21000228"},
                        Case{{2000, 3, 1, 12, 0, 0, 0}, u"20000301", u"20000229"},
                        Case{{2024, 1, 1, 23, 59, 59, 0}, u"20240101", u"20231231"},
                        Case{{2024, 5, 1, 8, 0, 0, 0}, u"20240501", u"20240430"},
                        Case{{2024, 3, 2, 8, 0, 0, 0}, u"20240302", u"20240301"}}) {
    EXPECT_EQ(DayFolderName(c.now), c.today);
    EXPECT_EQ(PreviousDayFolderName(c.now), c.yesterday);
  }
}

void Touch(const fs::path& file) { std::ofstream(file) << "x"; }

std::vector<uint8_t> Picture(int w, int h, uint8_t base) {
  std::vector<uint8_t> pixels(static_cast<size_t>(w * h));
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(base + i);
  return pixels;
}

std::string FileBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Bmp(int w, int h, const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> bmp;
  SaveGrayBitmap(w, h, pixels, bmp);
  return std::string(bmp.begin(), bmp.end());
}

TEST(ImageLog, KeepsTodayAndYesterdayAndEmptiesAndRemovesOtherDays) {
  LibraryFolder library;
  const fs::path log = fs::path(library.path()) / "imglog";
  fs::create_directories(log);
  // Yesterday (29 February) and today stay whole.
  fs::create_directories(log / "20240229");
  Touch(log / "20240229" / "101010.bmp");
  fs::create_directories(log / "20240301");
  Touch(log / "20240301" / "000000.bmp");
  // Other days: plain files go, and the folder with them.
  fs::create_directories(log / "20240228");
  Touch(log / "20240228" / "120000.bmp");
  Touch(log / "20240228" / "120001.bmp");
  fs::create_directories(log / "20230301");
  // Hidden files and sub-folders are not deleted, so their folders stay.
  fs::create_directories(log / "20240101");
  Touch(log / "20240101" / ".keep");
  Touch(log / "20240101" / "gone.bmp");
  fs::create_directories(log / "20240102" / "inner");
  Touch(log / "20240102" / "gone.bmp");
  Touch(log / "20240102" / "inner" / "kept.bmp");
  // A plain file of the log folder itself, and hidden entries, stay.
  Touch(log / "notes.txt");
  fs::create_directories(log / ".hidden");
  Touch(log / ".hidden" / "kept.bmp");

  ExtractEnv env;
  env.now = {2024, 3, 1, 0, 0, 1, 0};
  const auto pixels = Picture(13, 7, 40);
  ASSERT_TRUE(GravarLogImagem(env, library.text(), 13, 7, pixels));

  EXPECT_TRUE(fs::exists(log / "20240229" / "101010.bmp"));
  EXPECT_TRUE(fs::exists(log / "20240301" / "000000.bmp"));
  EXPECT_FALSE(fs::exists(log / "20240228"));
  EXPECT_FALSE(fs::exists(log / "20230301"));
  EXPECT_TRUE(fs::exists(log / "20240101" / ".keep"));
  EXPECT_FALSE(fs::exists(log / "20240101" / "gone.bmp"));
  EXPECT_FALSE(fs::exists(log / "20240102" / "gone.bmp"));
  EXPECT_TRUE(fs::exists(log / "20240102" / "inner" / "kept.bmp"));
  EXPECT_TRUE(fs::exists(log / "notes.txt"));
  EXPECT_TRUE(fs::exists(log / ".hidden" / "kept.bmp"));
  EXPECT_EQ(FileBytes(log / "20240301" / "000001.bmp"), Bmp(13, 7, pixels));
}

// Links planted in the log lead to files outside it that must survive.
TEST(ImageLog, CleaningNeverDeletesThroughASymbolicLink) {
  LibraryFolder library;
  LibraryFolder outside;
  const fs::path log = fs::path(library.path()) / "imglog";
  const fs::path elsewhere = outside.path();
  fs::create_directories(log);
  fs::create_directories(elsewhere / "folder");
  Touch(elsewhere / "folder" / "precious.bmp");
  Touch(elsewhere / "single.bmp");
  // Named like an old day folder, and named otherwise.
  fs::create_directory_symlink(elsewhere / "folder", log / "20200101");
  fs::create_directory_symlink(elsewhere / "folder", log / "elsewhere");
  // Inside an old day folder: links to a file and to a folder, beside a
  // file the log wrote.
  fs::create_directories(log / "20200102");
  Touch(log / "20200102" / "120000.bmp");
  fs::create_symlink(elsewhere / "single.bmp", log / "20200102" / "120001.bmp");
  fs::create_directory_symlink(elsewhere / "folder", log / "20200102" / "folder");
  // A day folder with nothing but the log's own files still goes.
  fs::create_directories(log / "20200103");
  Touch(log / "20200103" / "080000.bmp");

  ExtractEnv env;
  env.now = {2024, 3, 1, 9, 0, 0, 0};
  const auto pixels = Picture(3, 2, 1);
  ASSERT_TRUE(GravarLogImagem(env, library.text(), 3, 2, pixels));

  EXPECT_EQ(FileBytes(elsewhere / "folder" / "precious.bmp"), "x");
  EXPECT_EQ(FileBytes(elsewhere / "single.bmp"), "x");
  // The links are left, and the folder holding them with them.
  EXPECT_TRUE(fs::is_symlink(log / "20200101"));
  EXPECT_TRUE(fs::is_symlink(log / "elsewhere"));
  EXPECT_TRUE(fs::is_symlink(log / "20200102" / "120001.bmp"));
  EXPECT_TRUE(fs::is_symlink(log / "20200102" / "folder"));
  EXPECT_FALSE(fs::exists(log / "20200102" / "120000.bmp"));
  EXPECT_FALSE(fs::exists(log / "20200103"));
  EXPECT_EQ(FileBytes(log / "20240301" / "090000.bmp"), Bmp(3, 2, pixels));
}

// The question is put to the Env: what it calls a link is left alone.
TEST(ImageLog, TheEnvSaysWhatIsALink) {
  class LinkEnv : public ExtractEnv {
   public:
    bool IsSymbolicLink(const Text& path) override {
      return path.ends_with(u"20200101") || path.ends_with(u"kept.bmp") ||
             target().IsSymbolicLink(path);
    }
  };
  LibraryFolder library;
  const fs::path log = fs::path(library.path()) / "imglog";
  fs::create_directories(log / "20200101");
  Touch(log / "20200101" / "gone.bmp");
  fs::create_directories(log / "20200102");
  Touch(log / "20200102" / "kept.bmp");
  Touch(log / "20200102" / "gone.bmp");
  LinkEnv env;
  env.now = {2024, 3, 1, 9, 0, 0, 0};
  ASSERT_TRUE(GravarLogImagem(env, library.text(), 1, 1, Picture(1, 1, 0)));
  EXPECT_TRUE(fs::exists(log / "20200101" / "gone.bmp"));
  EXPECT_TRUE(fs::exists(log / "20200102" / "kept.bmp"));
  EXPECT_FALSE(fs::exists(log / "20200102" / "gone.bmp"));
}

TEST(ImageLog, CreatesTheFoldersAndKeepsTheLaterImageOfOneSecond) {
  LibraryFolder library;
  ExtractEnv env;
  env.now = {2024, 12, 9, 14, 5, 9, 0};
  const auto first = Picture(5, 3, 0);
  const auto second = Picture(6, 2, 100);
  ASSERT_TRUE(GravarLogImagem(env, library.text(), 5, 3, first));
  ASSERT_TRUE(GravarLogImagem(env, library.text(), 6, 2, second));
  const fs::path day = fs::path(library.path()) / "imglog" / "20241209";
  EXPECT_EQ(FileBytes(day / "140509.bmp"), Bmp(6, 2, second));
  EXPECT_EQ(std::distance(fs::directory_iterator(day), fs::directory_iterator()), 1);
}

TEST(ImageLog, FailuresAreSwallowed) {
  LibraryFolder library;
  ExtractEnv env;
  env.now = {2024, 3, 2, 10, 0, 0, 0};
  const fs::path log = fs::path(library.path()) / "imglog";
  fs::create_directories(log / "20240101");
  Touch(log / "20240101" / "old.bmp");

  // A full disk: no file, and the cleaning still done.
  env.disk_full = true;
  const auto pixels = Picture(4, 4, 9);
  EXPECT_FALSE(GravarLogImagem(env, library.text(), 4, 4, pixels));
  EXPECT_FALSE(fs::exists(log / "20240302" / "100000.bmp"));
  EXPECT_FALSE(fs::exists(log / "20240101"));

  // No log folder can be made (a file stands in its place); pixels fewer
  // than the sizes say; sizes too large for a BMP.
  env.disk_full = false;
  LibraryFolder blocked;
  Touch(fs::path(blocked.path()) / "imglog");
  EXPECT_FALSE(GravarLogImagem(env, blocked.text(), 4, 4, pixels));
  EXPECT_FALSE(GravarLogImagem(env, library.text(), 5, 4, pixels));
  EXPECT_FALSE(GravarLogImagem(env, library.text(), 1 << 30, 1 << 30, pixels));
}

}  // namespace
}  // namespace dactyra::templates
