// Files and folders of the Win32 back end where Windows differs from the
// POSIX forms: hidden and system files are left out of listings by their
// attributes, masks are FindFirstFile's, and paths are Windows paths.
#include <windows.h>
#undef DeleteFile  // the platform's, not the macro for DeleteFileW

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/backend.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::platform {
namespace {

const wchar_t* W(const Text& t) { return reinterpret_cast<const wchar_t*>(t.c_str()); }

std::vector<Text> Sorted(std::vector<Text> names) {
  std::ranges::sort(names);
  return names;
}

TEST(FilesWin32, ListingsLeaveOutHiddenAndSystemFilesByTheirAttributes) {
  testing::TempFolder folder;
  for (const char16_t* name : {u"vxr_lumidigm.dll", u"VXR_Virdi.DLL", u"vxr_hidden.dll",
                               u"vxr_system.dll", u"FPSmmAbc.dll"}) {
    ASSERT_TRUE(WriteFileBytes(folder / name, "x"));
  }
  ASSERT_TRUE(SetFileAttributesW(W(folder / u"vxr_hidden.dll"), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesW(W(folder / u"vxr_system.dll"), FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(CreateFolders(folder / u"vxr_folder.dll"));
  EXPECT_EQ(Sorted(ListFiles(folder.text(), u"vxr_*.dll")),
            (std::vector<Text>{u"VXR_Virdi.DLL", u"vxr_lumidigm.dll"}));
  EXPECT_EQ(ListFiles(folder.text(), u"fpsmm*.DLL"), (std::vector<Text>{u"FPSmmAbc.dll"}));
  EXPECT_EQ(ListFiles(folder.text(), u"*.*").size(), 3u);
  // The folder listing has them all.
  EXPECT_EQ(ListFolder(folder.text()).size(), 6u);
  // A mask is a name, never a path.
  EXPECT_TRUE(ListFiles(folder.text(), u"..\\*").empty());
}

TEST(FilesWin32, PathsAreWindowsPaths) {
  EXPECT_EQ(PathDelimiter(), u'\\');
  EXPECT_EQ(FullPath(u"C:\\a\\b\\..\\c"), u"C:\\a\\c");
  EXPECT_EQ(FullPath(u"C:/a/./b/"), u"C:\\a\\b\\");
  const Text current = CurrentFolder();
  ASSERT_GE(current.size(), 3u);
  EXPECT_EQ(current[1], u':');
  EXPECT_TRUE(current.size() == 3 || current.back() != u'\\');
  EXPECT_EQ(FullPath(u"x"), current + (current.size() == 3 ? u"" : u"\\") + u"x");
  const Text exe = ExecutablePath();
  EXPECT_TRUE(exe.ends_with(u".exe")) << ToUtf8(exe);
  EXPECT_EQ(ModuleFileNameOf(reinterpret_cast<const void*>(&PathDelimiter)), exe);
}

TEST(FilesWin32, FoldersAreMadeBelowADriveAndFilesReplacedWhole) {
  testing::TempFolder folder;
  const Text deep = folder / u"a\\b\\c";
  EXPECT_TRUE(CreateFolders(deep));
  EXPECT_TRUE(FolderExists(deep));
  EXPECT_TRUE(CreateFolders(u"C:\\"));
  ASSERT_TRUE(WriteFileBytes(deep + u"\\f", std::string(100000, 'y')));
  ASSERT_TRUE(WriteFileBytes(deep + u"\\f", "z"));
  EXPECT_EQ(ReadFileBytes(deep + u"\\f"), "z");
  // A file open for writing elsewhere cannot be replaced; nothing is lost.
  HANDLE held = CreateFileW(W(deep + u"\\f"), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteFileBytes(deep + u"\\f", "w"));
  CloseHandle(held);
  EXPECT_EQ(ReadFileBytes(deep + u"\\f"), "z");
  EXPECT_FALSE(RemoveFolder(deep));
  EXPECT_TRUE(DeleteFile(deep + u"\\f"));
  EXPECT_TRUE(RemoveFolder(deep));
}

}  // namespace
}  // namespace dactyra::platform
