// The image log over a test Env: when it is on, the day folders it keeps
// and removes, the file it writes, and the failures it swallows.
#include "templates/image_log.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

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

// MinGW's std::filesystem cannot make symbolic links ("function not
// implemented"), so the tests that plant them are the POSIX build's.
#ifndef _WIN32
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

#endif  // _WIN32

// The question is put to the Env's folders: what they call a link is left
// alone.
TEST(ImageLog, TheEnvSaysWhatIsALink) {
  LibraryFolder library;
  const fs::path log = fs::path(library.path()) / "imglog";
  fs::create_directories(log / "20200101");
  Touch(log / "20200101" / "gone.bmp");
  fs::create_directories(log / "20200102");
  Touch(log / "20200102" / "kept.bmp");
  Touch(log / "20200102" / "gone.bmp");
  ExtractEnv env;
  env.links = {u"20200101", u"kept.bmp"};
  env.now = {2024, 3, 1, 9, 0, 0, 0};
  ASSERT_TRUE(GravarLogImagem(env, library.text(), 1, 1, Picture(1, 1, 0)));
  EXPECT_TRUE(fs::exists(log / "20200101" / "gone.bmp"));
  EXPECT_TRUE(fs::exists(log / "20200102" / "kept.bmp"));
  EXPECT_FALSE(fs::exists(log / "20200102" / "gone.bmp"));
}

#ifndef _WIN32
// The log folder itself a link to a user's folder: the cleaning would
// delete the user's old-day folders and files, and the image would land
// among them. The log is not used at all.
TEST(ImageLog, ALogFolderThatIsALinkIsNotUsed) {
  LibraryFolder library;
  LibraryFolder documents;
  const fs::path user = documents.path();
  fs::create_directories(user / "19990101");
  Touch(user / "19990101" / "letter.txt");
  fs::create_directories(user / "photos");
  Touch(user / "photos" / "beach.jpg");
  fs::create_directory_symlink(user, fs::path(library.path()) / "imglog");

  ExtractEnv env;
  env.now = {2024, 3, 1, 9, 0, 0, 0};
  EXPECT_FALSE(GravarLogImagem(env, library.text(), 2, 2, Picture(2, 2, 0)));
  EXPECT_EQ(FileBytes(user / "19990101" / "letter.txt"), "x");
  EXPECT_EQ(FileBytes(user / "photos" / "beach.jpg"), "x");
  EXPECT_FALSE(fs::exists(user / "20240301"));
  // So is a day folder that is a link.
  LibraryFolder second;
  const fs::path log = fs::path(second.path()) / "imglog";
  fs::create_directories(log);
  fs::create_directory_symlink(user, log / "20240301");
  EXPECT_FALSE(GravarLogImagem(env, second.text(), 2, 2, Picture(2, 2, 0)));
  EXPECT_FALSE(fs::exists(user / "090000.bmp"));
}
#endif  // _WIN32

#ifndef _WIN32
// POSIX modes and umask; the Win32 back end gives what it makes a DACL of
// this user's alone.
// Fingerprints on a shared machine: the log is this user's alone whatever
// the umask, and a link planted where the next image goes is replaced, not
// written through.
TEST(ImageLog, ImagesAreThisUsersAloneAndNeverWrittenThroughALink) {
  LibraryFolder library;
  LibraryFolder elsewhere;
  const fs::path victim = fs::path(elsewhere.path()) / "victim";
  Touch(victim);
  const fs::path day = fs::path(library.path()) / "imglog" / "20240301";
  ExtractEnv env;
  env.now = {2024, 3, 1, 9, 0, 0, 0};
  const mode_t previous = umask(0);
  const bool first = GravarLogImagem(env, library.text(), 2, 2, Picture(2, 2, 0));
  umask(previous);
  ASSERT_TRUE(first);
  fs::create_symlink(victim, day / "090001.bmp");
  env.now.second = 1;
  const auto pixels = Picture(3, 3, 7);
  ASSERT_TRUE(GravarLogImagem(env, library.text(), 3, 3, pixels));

  EXPECT_EQ(FileBytes(victim), "x");
  EXPECT_FALSE(fs::is_symlink(day / "090001.bmp"));
  EXPECT_EQ(FileBytes(day / "090001.bmp"), Bmp(3, 3, pixels));
  struct stat st;
  for (const fs::path& folder : {day.parent_path(), day}) {
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
  }
  for (const char* image : {"090000.bmp", "090001.bmp"}) {
    ASSERT_EQ(stat((day / image).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << image;
  }
}
#endif  // _WIN32

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

  // A disk that fills up in the middle of an image (a file size limit:
  // writes past it fail as on a full disk). The image of the same second
  // before it stays whole, nothing else is left, and the cleaning is done.
  const auto before = Picture(4, 4, 9);
  ASSERT_TRUE(GravarLogImagem(env, library.text(), 4, 4, before));
  Touch(log / "20240101" / "old.bmp");
#ifndef _WIN32
  // The file size limit is POSIX's.
  const auto pixels = Picture(200, 200, 1);
  rlimit previous{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  const auto ignored = signal(SIGXFSZ, SIG_IGN);
  rlimit small = previous;
  small.rlim_cur = 8192;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = GravarLogImagem(env, library.text(), 200, 200, pixels);
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, ignored);
  EXPECT_FALSE(written);
  EXPECT_EQ(FileBytes(log / "20240302" / "100000.bmp"), Bmp(4, 4, before));
  EXPECT_EQ(std::distance(fs::directory_iterator(log / "20240302"), fs::directory_iterator()), 1);
  EXPECT_FALSE(fs::exists(log / "20240101"));
#endif

  // No log folder can be made (a file stands in its place); pixels fewer
  // than the sizes say; sizes too large for a BMP.
  LibraryFolder blocked;
  Touch(fs::path(blocked.path()) / "imglog");
  EXPECT_FALSE(GravarLogImagem(env, blocked.text(), 4, 4, before));
  EXPECT_FALSE(GravarLogImagem(env, library.text(), 5, 4, before));
  EXPECT_FALSE(GravarLogImagem(env, library.text(), 1 << 30, 1 << 30, before));
}

}  // namespace
}  // namespace dactyra::templates
