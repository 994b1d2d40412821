// Named events and mutexes of the Win32 back end: the kernel's objects
// under exactly the names asked for, shared with other processes (the
// helper program) and left as the kernel leaves them when a holder dies.
// Names carry this process's id, so that test programs running side by
// side in one session never meet.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/named_objects.h"
#include "platform/testing/child_process.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::platform {
namespace {

using testing::ChildProcess;

std::string Name(const std::string& base) {
  return base + "." + std::to_string(GetCurrentProcessId());
}

std::unique_ptr<ChildProcess> Helper(std::vector<std::string> args) {
  return std::make_unique<ChildProcess>(NAMED_HELPER_PATH, std::move(args));
}

// Whether the kernel has an object of exactly this name and kind now.
bool KernelHasEvent(const std::string& name) {
  HANDLE h = OpenEventW(SYNCHRONIZE, FALSE, reinterpret_cast<const wchar_t*>(FromUtf8(name).c_str()));
  if (h) CloseHandle(h);
  return h != nullptr;
}
bool KernelHasMutex(const std::string& name) {
  HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, reinterpret_cast<const wchar_t*>(FromUtf8(name).c_str()));
  if (h) CloseHandle(h);
  return h != nullptr;
}

TEST(NamedObjectsWin32, EventIsTheKernelsUnderItsExactNameAndSharedWithAnotherProcess) {
  const std::string name = Name("VelmoraFP_Lumidigm_0001ABCD");
  EXPECT_FALSE(KernelHasEvent(name));
  auto mine = Env::Default().CreateNamedEvent(FromUtf8(name), true);
  ASSERT_NE(mine, nullptr);
  EXPECT_TRUE(KernelHasEvent(name));
  EXPECT_FALSE(KernelHasEvent(Name("velmorafp_lumidigm_0001abcd"))) << "names keep their case";
  auto helper = Helper({"event", name});
  ASSERT_EQ(helper->ReadLine(), "signalled");
  EXPECT_EQ(mine->Wait(0), WaitResult::kTimeout);
  ASSERT_TRUE(helper->Send("set"));
  ASSERT_EQ(helper->ReadLine(), "set");
  EXPECT_EQ(mine->Wait(5000), WaitResult::kSignalled);
  ChildProcess refused(NAMED_HELPER_PATH, {"event-try", name, "100"});
  EXPECT_EQ(refused.ReadLine(), "timeout");
  EXPECT_EQ(refused.Finish(), 0);
  mine.reset();  // gives the signal back
  ChildProcess taken(NAMED_HELPER_PATH, {"event-try", name, "5000"});
  EXPECT_EQ(taken.ReadLine(), "signalled");
}

// The kernel keeps an event while any process has it open: a holder that
// dies leaves it taken for those that still have it, and the next process
// to open it after every handle has gone makes it anew.
TEST(NamedObjectsWin32, EventOfAKilledHolderStaysTakenWhileOpenAndIsNewOnceClosed) {
  const std::string name = Name("killed");
  auto mine = Env::Default().CreateNamedEvent(FromUtf8(name), true);
  auto helper = Helper({"event", name});
  ASSERT_EQ(helper->ReadLine(), "signalled");
  helper->Kill();
  EXPECT_EQ(mine->Wait(100), WaitResult::kTimeout);
  mine.reset();
  EXPECT_FALSE(KernelHasEvent(name));
  auto fresh = Env::Default().CreateNamedEvent(FromUtf8(name), true);
  EXPECT_EQ(fresh->Wait(0), WaitResult::kSignalled);
}

TEST(NamedObjectsWin32, MutexOfAKilledHolderIsTakenAsAbandonedOnce) {
  const std::string name = Name("LUMIusb#vid_1fae&pid_0041#0001");
  auto mine = Env::Default().CreateNamedMutex(FromUtf8(name));
  ASSERT_NE(mine, nullptr);
  EXPECT_TRUE(KernelHasMutex(name));
  auto helper = Helper({"mutex", name});
  ASSERT_EQ(helper->ReadLine(), "signalled");
  EXPECT_EQ(mine->Wait(50), WaitResult::kTimeout);
  std::atomic<int> result{-1};
  auto waiter = Env::Default().NewThread([&] {
    result = static_cast<int>(mine->Wait(20000));
    EXPECT_TRUE(mine->Release());
  });
  ASSERT_TRUE(waiter->Start());
  helper->Kill();  // TerminateProcess: no release
  waiter->Join();
  EXPECT_EQ(result.load(), static_cast<int>(WaitResult::kAbandoned));
  ChildProcess next(NAMED_HELPER_PATH, {"mutex-try", name, "5000"});
  EXPECT_EQ(next.ReadLine(), "signalled");
  EXPECT_EQ(next.Finish(), 0);
}

TEST(NamedObjectsWin32, MutexExcludesProcessesThatOpenAndCloseItAllTheTime) {
  testing::TempFolder folder;
  const std::string counter = folder.path() + "\\counter";
  std::vector<std::unique_ptr<ChildProcess>> helpers;
  for (int i = 0; i < 3; ++i) helpers.push_back(Helper({"count", Name("counted"), counter, "100"}));
  // Each round opens, writes and closes a file under Wine: give them time.
  for (auto& h : helpers) EXPECT_EQ(h->ReadLine(60000), "done");
  for (auto& h : helpers) EXPECT_EQ(h->Finish(), 0);
  const std::optional<std::string> total = Env::Default().ReadFileBytes(FromUtf8(counter));
  ASSERT_TRUE(total.has_value());
  EXPECT_EQ(std::stol(*total), 300);
}

// Windows keeps one name space for both kinds, and a backslash names a
// name space of its own ("Local\"), not a character of the name.
TEST(NamedObjectsWin32, KindsShareTheNameSpaceAndABackslashNamesANameSpace) {
  const Text name = FromUtf8(Name("shared-name"));
  auto event = Env::Default().CreateNamedEvent(name, true);
  ASSERT_NE(event, nullptr);
  Text error;
  EXPECT_EQ(Env::Default().CreateNamedMutex(name, &error), nullptr);
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_EQ(Env::Default().CreateNamedMutex(u"NoSuchSpace\\" + name, &error), nullptr);
  EXPECT_FALSE(error.empty());
  auto local = Env::Default().CreateNamedMutex(u"Local\\" + name + u"-mutex");
  ASSERT_NE(local, nullptr);
  EXPECT_TRUE(KernelHasMutex(Name("shared-name") + "-mutex"));
  EXPECT_EQ(Env::Default().CreateNamedEvent(u"", true, &error), nullptr);
}

}  // namespace
}  // namespace dactyra::platform
