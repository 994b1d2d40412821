#include <gnu/libc-version.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/backend.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::platform {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

std::vector<Text> Sorted(std::vector<Text> names) {
  std::ranges::sort(names);
  return names;
}

class FilesTest : public ::testing::Test {
 protected:
  void Touch(std::u16string_view name) { ASSERT_TRUE(WriteFileBytes(folder_ / name, "x")); }
  TempFolder folder_;
};

TEST_F(FilesTest, ListFilesMatchesMaskIgnoringCaseAndLeavesOutFoldersAndHiddenFiles) {
  Touch(u"vxr_lumidigm.so");
  Touch(u"VXR_Virdi.SO");
  Touch(u"vxr_.so");
  Touch(u"vxr_old.so.bak");
  Touch(u".vxr_hidden.so");
  Touch(u"other.so");
  ASSERT_TRUE(CreateFolders(folder_ / u"vxr_folder.so"));
  fs::create_symlink(folder_.path() + "/other.so", folder_.path() + "/vxr_link.so");
  fs::create_symlink(folder_.path() + "/missing", folder_.path() + "/vxr_dangling.so");

  EXPECT_EQ(Sorted(ListFiles(folder_.text(), u"vxr_*.so")),
            (std::vector<Text>{u"VXR_Virdi.SO", u"vxr_.so", u"vxr_link.so", u"vxr_lumidigm.so"}));
  EXPECT_EQ(Sorted(ListFiles(folder_.text(), u"VXR_?IRDI.so")),
            (std::vector<Text>{u"VXR_Virdi.SO"}));
  EXPECT_EQ(ListFiles(folder_.text(), u"vxr_").size(), 0u);
  EXPECT_EQ(ListFiles(folder_.text(), u"*").size(), 6u);
  EXPECT_EQ(ListFiles(folder_.text(), u"*.*").size(), 6u);
  EXPECT_EQ(Sorted(ListFiles(folder_.text(), u"*.BAK")), (std::vector<Text>{u"vxr_old.so.bak"}));
  EXPECT_TRUE(ListFiles(folder_ / u"absent", u"*").empty());
  EXPECT_TRUE(ListFiles(folder_ / u"other.so", u"*").empty());
}

TEST_F(FilesTest, MaskMatchingHandlesStarsQuestionMarksAndAccents) {
  Touch(u"ção-1.txt");
  Touch(u"abcabcabd");
  Touch(u"FPSmmAbc.so");
  EXPECT_EQ(ListFiles(folder_.text(), u"ÇÃO-?.TXT"), (std::vector<Text>{u"ção-1.txt"}));
  EXPECT_EQ(ListFiles(folder_.text(), u"*abc*abd"), (std::vector<Text>{u"abcabcabd"}));
  EXPECT_EQ(ListFiles(folder_.text(), u"a**d"), (std::vector<Text>{u"abcabcabd"}));
  EXPECT_TRUE(ListFiles(folder_.text(), u"*abd?").empty());
  EXPECT_TRUE(ListFiles(folder_.text(), u"?abcabcabd").empty());
  EXPECT_EQ(ListFiles(folder_.text(), u"fpsmm*.SO"), (std::vector<Text>{u"FPSmmAbc.so"}));
  // A pathological mask must still end promptly.
  EXPECT_TRUE(ListFiles(folder_.text(), Text(40, u'*') + u"a*a*a*a*a*a*a*a*z").empty());
}

TEST_F(FilesTest, ListFolderGivesEveryEntryButDotAndDotDot) {
  Touch(u"a");
  Touch(u".hidden");
  ASSERT_TRUE(CreateFolders(folder_ / u"sub"));
  std::vector<FolderEntry> entries = ListFolder(folder_.text());
  std::ranges::sort(entries, {}, &FolderEntry::name);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, u".hidden");
  EXPECT_FALSE(entries[0].is_folder);
  EXPECT_EQ(entries[1].name, u"a");
  EXPECT_EQ(entries[2].name, u"sub");
  EXPECT_TRUE(entries[2].is_folder);
  EXPECT_TRUE(ListFolder(folder_ / u"absent").empty());
}

TEST_F(FilesTest, CreateFoldersMakesEveryMissingParent) {
  const Text deep = folder_ / u"a/b/ç/d";
  EXPECT_TRUE(CreateFolders(deep));
  EXPECT_TRUE(FolderExists(deep));
  EXPECT_TRUE(CreateFolders(deep));  // existing is fine
  EXPECT_TRUE(CreateFolders(folder_ / u"x//y/"));
  EXPECT_TRUE(FolderExists(folder_ / u"x/y"));
  Touch(u"file");
  EXPECT_FALSE(CreateFolders(folder_ / u"file"));
  EXPECT_FALSE(CreateFolders(folder_ / u"file/below"));
  EXPECT_FALSE(CreateFolders(u""));
}

TEST_F(FilesTest, DeleteFileAndRemoveFolder) {
  Touch(u"f");
  ASSERT_TRUE(CreateFolders(folder_ / u"full/inner"));
  EXPECT_TRUE(FileExists(folder_ / u"f"));
  EXPECT_FALSE(FolderExists(folder_ / u"f"));
  EXPECT_FALSE(DeleteFile(folder_ / u"full"));
  EXPECT_TRUE(DeleteFile(folder_ / u"f"));
  EXPECT_FALSE(FileExists(folder_ / u"f"));
  EXPECT_FALSE(DeleteFile(folder_ / u"f"));
  EXPECT_FALSE(RemoveFolder(folder_ / u"full"));  // not empty
  EXPECT_TRUE(RemoveFolder(folder_ / u"full/inner"));
  EXPECT_TRUE(RemoveFolder(folder_ / u"full"));
  EXPECT_FALSE(FolderExists(folder_ / u"full"));
  EXPECT_FALSE(RemoveFolder(folder_ / u"full"));
}

TEST_F(FilesTest, IsSymbolicLinkAsksAboutTheEntryItselfNotWhereItLeads) {
  Touch(u"file");
  ASSERT_TRUE(CreateFolders(folder_ / u"folder"));
  Touch(u"folder/inner");
  fs::create_symlink(folder_.path() + "/file", folder_.path() + "/to_file");
  fs::create_directory_symlink(folder_.path() + "/folder", folder_.path() + "/to_folder");
  fs::create_symlink(folder_.path() + "/absent", folder_.path() + "/dangling");
  fs::create_directory_symlink("folder", folder_.path() + "/relative");
  const struct {
    Text path;
    bool link;
  } cases[] = {
      {folder_ / u"file", false},
      {folder_ / u"folder", false},
      {folder_ / u"absent", false},
      {u"", false},
      {folder_ / u"to_file", true},
      {folder_ / u"to_folder", true},
      {folder_ / u"dangling", true},
      {folder_ / u"relative", true},
      // An entry reached through a linked folder is not a link itself.
      {folder_ / u"to_folder/inner", false},
      {folder_ / u"to_file" + Text(u"\0", 1), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    EXPECT_EQ(IsSymbolicLink(c.path), c.link);
  }
  // The links to a folder and a file answer like what they lead to for the
  // other queries.
  EXPECT_TRUE(FolderExists(folder_ / u"to_folder"));
  EXPECT_TRUE(FileExists(folder_ / u"to_file"));
}

TEST_F(FilesTest, WholeFileReadsAndWritesKeepEveryByte) {
  const std::string bytes("a\0b\xFF\n", 5);
  ASSERT_TRUE(WriteFileBytes(folder_ / u"data", bytes));
  EXPECT_EQ(ReadFileBytes(folder_ / u"data"), bytes);
  ASSERT_TRUE(WriteFileBytes(folder_ / u"data", "z"));  // replaces
  EXPECT_EQ(ReadFileBytes(folder_ / u"data"), "z");
  ASSERT_TRUE(WriteFileBytes(folder_ / u"empty", ""));
  EXPECT_EQ(ReadFileBytes(folder_ / u"empty"), "");
  EXPECT_EQ(ReadFileBytes(folder_ / u"absent"), std::nullopt);
  EXPECT_EQ(ReadFileBytes(folder_.text()), std::nullopt);
  EXPECT_FALSE(WriteFileBytes(folder_ / u"absent/data", "x"));
}

// What another user may plant in a shared folder: links to a file and a
// folder of someone else's. A folder held open lists them as links, opens
// neither, deletes only the link, writes over the link itself; and what it
// makes is this user's alone, whatever the umask.
TEST_F(FilesTest, FoldersHeldOpenNeverFollowALinkAndAreThisUsersAlone) {
  TempFolder elsewhere;
  ASSERT_TRUE(WriteFileBytes(elsewhere / u"victim", "precious"));
  ASSERT_TRUE(CreateFolders(elsewhere / u"folder"));
  fs::create_symlink(elsewhere.path() + "/victim", folder_.path() + "/to_file");
  fs::create_directory_symlink(elsewhere.path() + "/folder", folder_.path() + "/to_folder");
  fs::create_symlink(elsewhere.path() + "/victim", folder_.path() + "/path_link");
  auto folder = OpenFolder(folder_.text(), nullptr);
  ASSERT_NE(folder, nullptr);
  for (const Folder::Entry& e : folder->List()) {
    EXPECT_EQ(e.kind, Folder::EntryKind::kLink) << ToUtf8(e.name);
  }
  Text error;
  EXPECT_EQ(folder->OpenFolder(u"to_folder", false, &error), nullptr);
  EXPECT_NE(error.find(u"symbolic link"), Text::npos) << ToUtf8(error);
  EXPECT_EQ(folder->OpenFolder(u"to_folder", true), nullptr);
  EXPECT_FALSE(folder->RemoveFolder(u"to_folder"));
  EXPECT_TRUE(FolderExists(elsewhere / u"folder"));
  EXPECT_TRUE(folder->DeleteFile(u"to_folder"));
  EXPECT_TRUE(FolderExists(elsewhere / u"folder"));

  const mode_t previous = umask(0);
  const bool written = folder->WriteFile(u"to_file", "image");
  const bool by_path = WriteFileBytes(folder_ / u"path_link", "image");
  auto made = folder->OpenFolder(u"made", true);
  const bool deep = CreateFolders(folder_ / u"deep/er");
  umask(previous);
  ASSERT_TRUE(written && by_path && made && deep);
  EXPECT_EQ(ReadFileBytes(elsewhere / u"victim"), "precious");
  struct stat st;
  for (const char* file : {"/to_file", "/path_link"}) {
    ASSERT_EQ(lstat((folder_.path() + file).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << file;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
  }
  for (const char* made_folder : {"/made", "/deep", "/deep/er"}) {
    ASSERT_EQ(lstat((folder_.path() + made_folder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << made_folder;
  }
}

TEST_F(FilesTest, PathsWithANulNameNoFile) {
  // Cut at the NUL, these would name the folder itself or a file in it.
  Touch(u"victim");
  const Text cut = folder_.text() + Text(u"\0/x", 3);
  const Text victim = folder_ / u"victim" + Text(u"\0.txt", 5);
  EXPECT_FALSE(WriteFileBytes(victim, "overwritten"));
  EXPECT_EQ(ReadFileBytes(victim), std::nullopt);
  EXPECT_FALSE(DeleteFile(victim));
  EXPECT_EQ(ReadFileBytes(folder_ / u"victim"), "x");
  EXPECT_FALSE(FileExists(victim));
  EXPECT_FALSE(FolderExists(cut));
  EXPECT_FALSE(CreateFolders(cut));
  EXPECT_TRUE(ListFiles(cut, u"*").empty());
  EXPECT_TRUE(ListFolder(cut).empty());
}

TEST(ProgramPaths, ExecutableAndModuleOfAnAddress) {
  const Text exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.front(), u'/');
  EXPECT_TRUE(FileExists(exe));
  EXPECT_TRUE(exe.ends_with(u"/platform_tests")) << ToUtf8(exe);
  // An address in this program names the program, one in the C library
  // names that library, data on the stack names nothing.
  EXPECT_EQ(ModuleFileNameOf(reinterpret_cast<const void*>(&ExecutablePath)), exe);
  const Text libc = ModuleFileNameOf(reinterpret_cast<const void*>(&::gnu_get_libc_version));
  EXPECT_NE(libc.find(u"libc"), Text::npos) << ToUtf8(libc);
  int local = 0;
  EXPECT_EQ(ModuleFileNameOf(&local), u"");
  EXPECT_EQ(ModuleFileNameOf(nullptr), u"");
  EXPECT_EQ(PathDelimiter(), u'/');
}

TEST(ProgramPaths, CurrentFolderAndFullPath) {
  TempFolder folder;
  const fs::path previous = fs::current_path();
  fs::current_path(folder.path());
  const Text current = CurrentFolder();
  const Text relative = FullPath(u"a/./b/../c");
  const Text dot = FullPath(u".");
  fs::current_path(previous);
  EXPECT_EQ(current, folder.text());
  EXPECT_EQ(relative, folder / u"a/c");
  EXPECT_EQ(dot, folder.text());
  EXPECT_EQ(FullPath(u"/x/../.."), u"/");
  EXPECT_EQ(FullPath(u"//a//b/"), u"/a/b/");
  EXPECT_EQ(FullPath(u"/a/b/.."), u"/a");
  EXPECT_EQ(FullPath(u"/a/b/../"), u"/a/");
  EXPECT_EQ(FullPath(u"/"), u"/");
  EXPECT_EQ(FullPath(u"/a/.b/..c"), u"/a/.b/..c");
}

}  // namespace
}  // namespace dactyra::platform
