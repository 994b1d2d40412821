// The Env contract as one table of cases, run against every back end of
// the build (env_contract.h). Only the interface is used here, so that the
// same cases hold the Win32 back end to the same behaviour.
#include "platform/tests/env_contract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <tuple>
#include <vector>

#include "platform/env.h"

namespace dactyra::platform::testing {
namespace {

struct Context {
  Env& env;
  const EnvBackEnd& back_end;
  // The case's private folder, and a path in it.
  Text folder;
  Text operator/(std::u16string_view name) const { return folder + PathDelimiter() + Text(name); }
  // The name of a named object of the case.
  Text Named(std::u16string_view name) const { return back_end.object_prefix + Text(name); }
};

struct Case {
  const char* name;
  void (*run)(Context& c);
};

std::vector<Text> Sorted(std::vector<Text> names) {
  std::ranges::sort(names);
  return names;
}

void ModulesLoadFindExportsAndRefuse(Context& c) {
  Text error;
  auto module =
      c.env.LoadModule(c.back_end.test_module, Module::Search::kAlteredSearchPath, &error);
  ASSERT_NE(module, nullptr) << ToUtf8(error);
  EXPECT_EQ(module->file(), c.back_end.test_module);
  auto value = module->Function<int (*)()>("test_module_value");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value(), 42);
  EXPECT_EQ(module->Symbol("no_such_export"), nullptr);
  // The module that holds an export is found by its address.
  EXPECT_EQ(c.env.ModuleFileNameOf(module->Symbol("test_module_marker")), c.back_end.test_module);
  EXPECT_EQ(c.env.ModuleFileNameOf(nullptr), u"");
  // A file that does not load gives a message; a bad name nothing at all.
  error.clear();
  EXPECT_EQ(c.env.LoadModule(c / (u"absent" + ModuleSuffix()), Module::Search::kDefault, &error),
            nullptr);
  EXPECT_FALSE(error.empty());
  ASSERT_TRUE(c.env.WriteFileBytes(c / (u"junk" + ModuleSuffix()), "not a module"));
  error.clear();
  EXPECT_EQ(c.env.LoadModule(c / (u"junk" + ModuleSuffix()), Module::Search::kDefault, &error),
            nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(c.env.LoadModule(u"", Module::Search::kDefault, nullptr), nullptr);
}

void ModuleFoldersOthersCanWriteAreRefused(Context& c) {
  Text reason;
  EXPECT_TRUE(c.env.CheckModuleFolder(c.folder, &reason)) << ToUtf8(reason);
  ASSERT_TRUE(c.env.CreateFolders(c / u"open"));
  c.back_end.open_to_others(c / u"open");
  ASSERT_TRUE(c.env.WriteFileBytes(c / u"file", "x"));
  for (const Text& refused : {c / u"open", c / u"missing", c / u"file", Text(u"relative")}) {
    SCOPED_TRACE(ToUtf8(refused));
    reason.clear();
    EXPECT_FALSE(c.env.CheckModuleFolder(refused, &reason));
    EXPECT_NE(reason.find(refused), Text::npos) << ToUtf8(reason);
  }
}

void ProgramPathsAreKnown(Context& c) {
  const Text exe = c.env.ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(c.env.FileExists(exe));
  const Text current = c.env.CurrentFolder();
  ASSERT_FALSE(current.empty());
  EXPECT_TRUE(c.env.FolderExists(current));
}

void FilesAreWrittenWholeAndReadBack(Context& c) {
  const std::string bytes("one\0two\r\n\xFF", 11);
  EXPECT_FALSE(c.env.FileExists(c / u"f.bin"));
  EXPECT_EQ(c.env.ReadFileBytes(c / u"f.bin"), std::nullopt);
  ASSERT_TRUE(c.env.WriteFileBytes(c / u"f.bin", bytes));
  EXPECT_TRUE(c.env.FileExists(c / u"f.bin"));
  EXPECT_FALSE(c.env.FolderExists(c / u"f.bin"));
  EXPECT_EQ(c.env.ReadFileBytes(c / u"f.bin"), bytes);
  // A write replaces the file; an empty file reads as empty, not missing.
  ASSERT_TRUE(c.env.WriteFileBytes(c / u"f.bin", "x"));
  EXPECT_EQ(c.env.ReadFileBytes(c / u"f.bin"), "x");
  ASSERT_TRUE(c.env.WriteFileBytes(c / u"empty", ""));
  EXPECT_EQ(c.env.ReadFileBytes(c / u"empty"), "");
  // No folder, no file.
  EXPECT_FALSE(c.env.WriteFileBytes(c / u"none/f.bin", "x"));
  EXPECT_TRUE(c.env.DeleteFile(c / u"f.bin"));
  EXPECT_FALSE(c.env.FileExists(c / u"f.bin"));
  EXPECT_FALSE(c.env.DeleteFile(c / u"f.bin"));
}

void FoldersAreMadeListedAndRemoved(Context& c) {
  const Text deep = c / u"a" + PathDelimiter() + u"b" + PathDelimiter() + u"c";
  EXPECT_TRUE(c.env.CreateFolders(deep));
  EXPECT_TRUE(c.env.CreateFolders(deep));  // already there
  EXPECT_TRUE(c.env.FolderExists(deep));
  EXPECT_FALSE(c.env.FileExists(deep));
  for (const char16_t* name : {u"vxr_one.so", u"VXR_Two.SO", u".vxr_hidden.so", u"other.so"}) {
    ASSERT_TRUE(c.env.WriteFileBytes(c / name, "x"));
  }
  c.back_end.hide(c / u".vxr_hidden.so");
  ASSERT_TRUE(c.env.CreateFolders(c / u"vxr_folder.so"));
  // Masks ignore case and leave out folders and hidden files.
  EXPECT_EQ(Sorted(c.env.ListFiles(c.folder, u"vxr_*.so")),
            (std::vector<Text>{u"VXR_Two.SO", u"vxr_one.so"}));
  EXPECT_EQ(Sorted(c.env.ListFiles(c.folder, u"?XR_ONE.*")), (std::vector<Text>{u"vxr_one.so"}));
  EXPECT_TRUE(c.env.ListFiles(c / u"missing", u"*.*").empty());
  std::vector<Text> names;
  int folders = 0;
  for (const FolderEntry& e : c.env.ListFolder(c.folder)) {
    names.push_back(e.name);
    folders += e.is_folder ? 1 : 0;
  }
  EXPECT_EQ(Sorted(names), (std::vector<Text>{u".vxr_hidden.so", u"VXR_Two.SO", u"a", u"other.so",
                                              u"vxr_folder.so", u"vxr_one.so"}));
  EXPECT_EQ(folders, 2);
  EXPECT_TRUE(c.env.ListFolder(c / u"missing").empty());
  // Only an empty folder is removed.
  EXPECT_FALSE(c.env.RemoveFolder(c / u"a"));
  EXPECT_TRUE(c.env.RemoveFolder(deep));
  EXPECT_FALSE(c.env.FolderExists(deep));
}

void FoldersHeldOpenNameOnlyTheirOwnEntries(Context& c) {
  Text error;
  auto folder = c.env.OpenFolder(c.folder, &error);
  ASSERT_NE(folder, nullptr) << ToUtf8(error);
  EXPECT_EQ(c.env.OpenFolder(c / u"missing"), nullptr);
  EXPECT_EQ(folder->OpenFolder(u"sub", false), nullptr);
  auto sub = folder->OpenFolder(u"sub", true);
  ASSERT_NE(sub, nullptr);
  EXPECT_NE(folder->OpenFolder(u"sub", true), nullptr);  // there already
  // A write replaces the file whole and leaves nothing else behind.
  ASSERT_TRUE(sub->WriteFile(u"a.bmp", "first"));
  ASSERT_TRUE(sub->WriteFile(u"a.bmp", "second"));
  EXPECT_EQ(c.env.ReadFileBytes(c / u"sub" + PathDelimiter() + u"a.bmp"), "second");
  ASSERT_EQ(sub->List().size(), 1u);
  EXPECT_EQ(sub->List()[0].name, u"a.bmp");
  EXPECT_EQ(sub->List()[0].kind, Folder::EntryKind::kFile);
  ASSERT_EQ(folder->List().size(), 1u);
  EXPECT_EQ(folder->List()[0].kind, Folder::EntryKind::kFolder);
  // Names, never paths.
  for (const Text& bad : {Text(), Text(u"."), Text(u".."), Text(u"sub/a.bmp"),
                          Text(u"sub\\a.bmp"), Text(u"a\0b", 3)}) {
    SCOPED_TRACE(ToUtf8(bad));
    EXPECT_EQ(folder->OpenFolder(bad, true), nullptr);
    EXPECT_FALSE(folder->WriteFile(bad, "x"));
    EXPECT_FALSE(folder->DeleteFile(bad));
    EXPECT_FALSE(folder->RemoveFolder(bad));
  }
  // A file is deleted, a folder never; a folder is removed only empty, and
  // a write cannot replace one.
  EXPECT_FALSE(folder->DeleteFile(u"sub"));
  EXPECT_FALSE(folder->RemoveFolder(u"sub"));
  EXPECT_FALSE(folder->WriteFile(u"sub", "x"));
  EXPECT_EQ(folder->List().size(), 1u);
  EXPECT_TRUE(sub->DeleteFile(u"a.bmp"));
  EXPECT_FALSE(sub->DeleteFile(u"a.bmp"));
  EXPECT_TRUE(folder->RemoveFolder(u"sub"));
  EXPECT_TRUE(folder->List().empty());
}

void RegistryValuesAreReadByType(Context& c) {
  const Text path = u"Software\\Tessiva BR\\" + c.Named(u"contract");
  c.back_end.write_key(path, {{u"Number", false, 0xFFFFFFFFu, u""},
                              {u"Words", true, 0, u"Olá mundo"},
                              {u"TextOne", true, 0, u"1"}});
  EXPECT_EQ(c.env.OpenRegistryKey(RegistryRoot::kCurrentUser, u"Software\\Tessiva BR\\none"),
            nullptr);
  auto key = c.env.OpenRegistryKey(RegistryRoot::kCurrentUser, path);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadInteger(u"Number"), 0xFFFFFFFFu);
  EXPECT_EQ(key->ReadInteger(u"number"), 0xFFFFFFFFu);  // names ignore case
  EXPECT_EQ(key->ReadText(u"Words"), u"Olá mundo");
  // A value of the wrong type reads as missing, whatever it holds.
  EXPECT_EQ(key->ReadText(u"Number"), std::nullopt);
  EXPECT_EQ(key->ReadInteger(u"TextOne"), std::nullopt);
  EXPECT_EQ(key->ReadInteger(u"Missing"), std::nullopt);
  // The user's Environment key reads the user's environment values.
  const Text variable = c.Named(u"DACTYRA_CONTRACT");
  c.back_end.set_environment(variable, u"valor");
  auto environment = c.env.OpenRegistryKey(RegistryRoot::kCurrentUser, u"Environment");
  ASSERT_NE(environment, nullptr);
  EXPECT_EQ(environment->ReadText(variable), u"valor");
}

void NamedEventIsHeldByOneObjectAtATime(Context& c) {
  Text error;
  auto mine = c.env.CreateNamedEvent(c.Named(u"contract event"), true, &error);
  ASSERT_NE(mine, nullptr) << ToUtf8(error);
  auto other = c.env.CreateNamedEvent(c.Named(u"contract event"), false);
  ASSERT_NE(other, nullptr);
  // The initial state is that of the first opener.
  EXPECT_EQ(mine->Wait(0), WaitResult::kSignalled);
  // Held elsewhere: the other object times out until it is given back.
  EXPECT_EQ(other->Wait(0), WaitResult::kTimeout);
  EXPECT_EQ(other->Wait(20), WaitResult::kTimeout);
  mine->Set();
  EXPECT_EQ(other->Wait(1000), WaitResult::kSignalled);
  EXPECT_EQ(mine->Wait(0), WaitResult::kTimeout);
  // Destroying the holder signals the event again.
  other.reset();
  EXPECT_EQ(mine->Wait(1000), WaitResult::kSignalled);
  // An empty name fails.
  error.clear();
  EXPECT_EQ(c.env.CreateNamedEvent(u"", true, &error), nullptr);
  EXPECT_FALSE(error.empty());
}

void NamedMutexIsRecursiveForItsOwner(Context& c) {
  auto mutex = c.env.CreateNamedMutex(c.Named(u"contract mutex"));
  auto other = c.env.CreateNamedMutex(c.Named(u"contract mutex"));
  ASSERT_NE(mutex, nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(mutex->Release());  // not held
  EXPECT_EQ(mutex->Wait(0), WaitResult::kSignalled);
  EXPECT_EQ(mutex->Wait(0), WaitResult::kSignalled);
  std::atomic<int> seen{-1};
  auto thread = c.env.NewThread([&] { seen = static_cast<int>(other->Wait(20)); });
  ASSERT_TRUE(thread->Start());
  thread->Join();
  EXPECT_EQ(seen.load(), static_cast<int>(WaitResult::kTimeout));
  EXPECT_TRUE(mutex->Release());
  EXPECT_TRUE(mutex->Release());
  EXPECT_FALSE(mutex->Release());
  EXPECT_EQ(other->Wait(1000), WaitResult::kSignalled);
  EXPECT_TRUE(other->Release());
}

void ThreadsRunTheirBodyOnce(Context& c) {
  std::atomic<int> runs{0};
  std::atomic<bool> current{false};
  std::unique_ptr<Thread> thread;
  thread = c.env.NewThread([&] {
    ++runs;
    current = thread->IsCurrent();
  });
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(thread->Joinable());
  ASSERT_TRUE(thread->Start());
  EXPECT_FALSE(thread->Start());
  thread->Join();
  EXPECT_FALSE(thread->Joinable());
  EXPECT_FALSE(thread->IsCurrent());
  EXPECT_EQ(runs.load(), 1);
  EXPECT_TRUE(current.load());
  EXPECT_FALSE(c.env.NewThread(nullptr)->Start());
}

void ClockTicksAndSleeps(Context& c) {
  const uint32_t before = c.env.TickCount();
  c.env.Sleep(30);
  const uint32_t slept = c.env.TickCount() - before;  // unsigned: wraps correctly
  EXPECT_GE(slept + c.back_end.tick_step_ms, 30u);
  EXPECT_LT(slept, 5000u);
  const LocalTime now = c.env.Now();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour >= 0 && now.hour <= 23);
  EXPECT_TRUE(now.minute >= 0 && now.minute <= 59);
  EXPECT_TRUE(now.second >= 0 && now.second <= 60);
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond <= 999);
}

const Case kCases[] = {
    {"ModulesLoadFindExportsAndRefuse", ModulesLoadFindExportsAndRefuse},
    {"ProgramPathsAreKnown", ProgramPathsAreKnown},
    {"ModuleFoldersOthersCanWriteAreRefused", ModuleFoldersOthersCanWriteAreRefused},
    {"FilesAreWrittenWholeAndReadBack", FilesAreWrittenWholeAndReadBack},
    {"FoldersAreMadeListedAndRemoved", FoldersAreMadeListedAndRemoved},
    {"FoldersHeldOpenNameOnlyTheirOwnEntries", FoldersHeldOpenNameOnlyTheirOwnEntries},
    {"RegistryValuesAreReadByType", RegistryValuesAreReadByType},
    {"NamedEventIsHeldByOneObjectAtATime", NamedEventIsHeldByOneObjectAtATime},
    {"NamedMutexIsRecursiveForItsOwner", NamedMutexIsRecursiveForItsOwner},
    {"ThreadsRunTheirBodyOnce", ThreadsRunTheirBodyOnce},
    {"ClockTicksAndSleeps", ClockTicksAndSleeps},
};

class EnvContract : public ::testing::TestWithParam<std::tuple<EnvBackEnd, Case>> {};

TEST_P(EnvContract, Holds) {
  const auto& [back_end, contract_case] = GetParam();
  Context context{back_end.env(), back_end, back_end.set_up()};
  contract_case.run(context);
  back_end.tear_down();
}

INSTANTIATE_TEST_SUITE_P(BackEnds, EnvContract,
                         ::testing::Combine(::testing::ValuesIn(BackEndsUnderTest()),
                                            ::testing::ValuesIn(kCases)),
                         [](const ::testing::TestParamInfo<EnvContract::ParamType>& info) {
                           return std::get<0>(info.param).name + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace dactyra::platform::testing
