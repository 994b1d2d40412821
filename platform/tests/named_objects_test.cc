#include "platform/named_objects.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <vector>

#include "platform/backend.h"
#include "platform/env.h"
#include "platform/testing/child_process.h"
#include "platform/testing/temp_folder.h"

namespace dactyra::platform {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The helper program in a process of its own, talked to over pipes.
class Helper : public testing::ChildProcess {
 public:
  // `environment`: variables set for the helper alone.
  explicit Helper(std::vector<std::string> args,
                  std::map<std::string, std::string> environment = {})
      : ChildProcess(NAMED_HELPER_PATH, std::move(args), environment) {}
  void Send(const std::string& line) { ASSERT_TRUE(ChildProcess::Send(line)); }
};

// Every test gets a runtime folder of its own, inherited by its helpers.
class NamedObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(runtime_.path().empty());
    setenv("DACTYRA_RUNTIME", folder().c_str(), 1);
  }
  // The runtime folder of the test, made on first use.
  std::string folder() const { return runtime_.path() + "/dactyra"; }
  void TearDown() override { unsetenv("DACTYRA_RUNTIME"); }

  testing::TempFolder runtime_;
};

TEST_F(NamedObjectsTest, EventIsTakenAndGivenBackBetweenObjectsOfOneProcess) {
  auto a = Env::Default().CreateNamedEvent(u"VelmoraFP_Lumidigm_0001ABCD", true);
  auto b = Env::Default().CreateNamedEvent(u"VelmoraFP_Lumidigm_0001ABCD", true);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->Wait(1), WaitResult::kSignalled);
  EXPECT_EQ(b->Wait(1), WaitResult::kTimeout);
  b->Set();  // b holds nothing: no effect
  EXPECT_EQ(b->Wait(0), WaitResult::kTimeout);
  a->Set();
  EXPECT_EQ(b->Wait(0), WaitResult::kSignalled);
  EXPECT_EQ(a->Wait(0), WaitResult::kTimeout);
  b.reset();  // a holder that goes away gives the signal back
  EXPECT_EQ(a->Wait(0), WaitResult::kSignalled);
}

TEST_F(NamedObjectsTest, EventInitialStateAppliesOnlyToANewEvent) {
  auto creator = Env::Default().CreateNamedEvent(u"ev", false);
  ASSERT_NE(creator, nullptr);
  // Exists already: the "signalled" request does not reset it.
  auto other = Env::Default().CreateNamedEvent(u"ev", true);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->Wait(0), WaitResult::kTimeout);
  creator->Set();
  EXPECT_EQ(other->Wait(0), WaitResult::kSignalled);
  other.reset();
  creator.reset();
  // The last holder gone, the event is new again.
  auto fresh = Env::Default().CreateNamedEvent(u"ev", true);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->Wait(0), WaitResult::kSignalled);
  fresh.reset();
  // Nothing is left behind by objects that are gone.
  EXPECT_TRUE(std::filesystem::is_empty(runtime_.path() + "/dactyra"));
  auto unsignalled = Env::Default().CreateNamedEvent(u"ev2", false);
  auto probe = Env::Default().CreateNamedEvent(u"ev2", true);
  EXPECT_EQ(probe->Wait(0), WaitResult::kTimeout);
}

TEST_F(NamedObjectsTest, EventTimedWaitHonoursTheTimeout) {
  auto holder = Env::Default().CreateNamedEvent(u"slow", true);
  auto waiter = Env::Default().CreateNamedEvent(u"slow", true);
  ASSERT_EQ(holder->Wait(0), WaitResult::kSignalled);
  const auto start = Clock::now();
  EXPECT_EQ(waiter->Wait(150), WaitResult::kTimeout);
  const int64_t waited = MillisecondsSince(start);
  EXPECT_GE(waited, 149);
  EXPECT_LT(waited, 5000);
}

TEST_F(NamedObjectsTest, ThreadsSharingOneEventObjectTakeItInTurn) {
  auto event = Env::Default().CreateNamedEvent(u"shared", true);
  ASSERT_EQ(event->Wait(0), WaitResult::kSignalled);
  std::atomic<int> result{-1};
  auto other = Env::Default().NewThread([&] { result = static_cast<int>(event->Wait(kInfinite)); });
  ASSERT_TRUE(other->Start());
  auto timed = Env::Default().NewThread([&] { EXPECT_EQ(event->Wait(30), WaitResult::kTimeout); });
  ASSERT_TRUE(timed->Start());
  timed->Join();
  EXPECT_EQ(result, -1);
  event->Set();
  other->Join();
  EXPECT_EQ(result, static_cast<int>(WaitResult::kSignalled));
}

TEST_F(NamedObjectsTest, EventIsSharedWithAnotherProcess) {
  auto mine = Env::Default().CreateNamedEvent(u"VelmoraFP_ViRDI_1", true);
  ASSERT_NE(mine, nullptr);
  Helper helper({"event", "VelmoraFP_ViRDI_1"});
  ASSERT_EQ(helper.ReadLine(), "signalled");
  EXPECT_EQ(mine->Wait(0), WaitResult::kTimeout);
  helper.Send("set");
  ASSERT_EQ(helper.ReadLine(), "set");
  EXPECT_EQ(mine->Wait(5000), WaitResult::kSignalled);
  // Now the other way round: the helper's timed wait fails while we hold it.
  Helper second({"event-try", "VelmoraFP_ViRDI_1", "100"});
  EXPECT_EQ(second.ReadLine(), "timeout");
  EXPECT_EQ(second.Finish(), 0);
  mine->Set();
  Helper third({"event-try", "VelmoraFP_ViRDI_1", "5000"});
  EXPECT_EQ(third.ReadLine(), "signalled");
}

TEST_F(NamedObjectsTest, EventTakenByAKilledProcessIsSignalledAgain) {
  auto mine = Env::Default().CreateNamedEvent(u"killed", true);
  Helper helper({"event", "killed"});
  ASSERT_EQ(helper.ReadLine(), "signalled");
  EXPECT_EQ(mine->Wait(0), WaitResult::kTimeout);
  // A wait in progress ends when the holder dies.
  std::atomic<int> result{-1};
  auto waiter = Env::Default().NewThread([&] { result = static_cast<int>(mine->Wait(20000)); });
  ASSERT_TRUE(waiter->Start());
  Sleep(50);
  helper.Kill();
  waiter->Join();
  EXPECT_EQ(result, static_cast<int>(WaitResult::kSignalled));
}

TEST_F(NamedObjectsTest, MutexIsRecursiveForItsOwnerThreadOnly) {
  auto mutex = Env::Default().CreateNamedMutex(u"CMDHdlMutex");
  ASSERT_NE(mutex, nullptr);
  EXPECT_FALSE(mutex->Release());
  EXPECT_EQ(mutex->Wait(0), WaitResult::kSignalled);
  EXPECT_EQ(mutex->Wait(0), WaitResult::kSignalled);
  // Another object of the same name is the same mutex for this thread.
  auto same = Env::Default().CreateNamedMutex(u"CMDHdlMutex");
  EXPECT_EQ(same->Wait(0), WaitResult::kSignalled);
  EXPECT_TRUE(same->Release());
  auto other = Env::Default().NewThread([&] {
    EXPECT_EQ(mutex->Wait(20), WaitResult::kTimeout);
    EXPECT_FALSE(mutex->Release());
  });
  ASSERT_TRUE(other->Start());
  other->Join();
  EXPECT_TRUE(mutex->Release());
  EXPECT_TRUE(mutex->Release());
  EXPECT_FALSE(mutex->Release());
  auto now_free = Env::Default().NewThread([&] {
    EXPECT_EQ(same->Wait(0), WaitResult::kSignalled);
    EXPECT_TRUE(same->Release());
  });
  ASSERT_TRUE(now_free->Start());
  now_free->Join();
}

TEST_F(NamedObjectsTest, MutexExcludesThreadsOfOneProcess) {
  auto first = Env::Default().CreateNamedMutex(u"LumiDeviceHdlMutex");
  auto second = Env::Default().CreateNamedMutex(u"LumiDeviceHdlMutex");
  int64_t counter = 0;  // plain: only the mutex protects it
  std::vector<std::unique_ptr<Thread>> threads;
  for (int i = 0; i < 4; ++i) {
    NamedMutex* mutex = (i % 2 ? first : second).get();
    threads.push_back(Env::Default().NewThread([mutex, &counter] {
      for (int k = 0; k < 300; ++k) {
        ASSERT_EQ(mutex->Wait(kInfinite), WaitResult::kSignalled);
        ++counter;
        ASSERT_TRUE(mutex->Release());
      }
    }));
    ASSERT_TRUE(threads.back()->Start());
  }
  for (auto& t : threads) t->Join();
  EXPECT_EQ(counter, 1200);
}

TEST_F(NamedObjectsTest, MutexIsSharedWithAnotherProcess) {
  auto mine = Env::Default().CreateNamedMutex(u"LUMI\\\\?\\usb#vid_1fae&pid_0041");
  Helper helper({"mutex", "LUMI\\\\?\\usb#vid_1fae&pid_0041"});
  ASSERT_EQ(helper.ReadLine(), "signalled");
  const auto start = Clock::now();
  EXPECT_EQ(mine->Wait(100), WaitResult::kTimeout);
  EXPECT_GE(MillisecondsSince(start), 99);
  std::atomic<int> result{-1};
  auto waiter = Env::Default().NewThread([&] {
    result = static_cast<int>(mine->Wait(20000));
    if (result == static_cast<int>(WaitResult::kSignalled)) mine->Release();
  });
  ASSERT_TRUE(waiter->Start());
  helper.Send("release");
  EXPECT_EQ(helper.ReadLine(), "released");
  waiter->Join();
  EXPECT_EQ(result, static_cast<int>(WaitResult::kSignalled));
  EXPECT_EQ(helper.Finish(), 0);  // exits holding nothing
  EXPECT_EQ(mine->Wait(0), WaitResult::kSignalled);
  EXPECT_TRUE(mine->Release());
}

TEST_F(NamedObjectsTest, MutexExcludesProcessesThatOpenAndCloseItAllTheTime) {
  // Each round opens and closes the object, so files are removed and made
  // again while other processes wait on them.
  const std::string counter = runtime_.path() + "/counter";
  std::vector<std::unique_ptr<Helper>> helpers;
  for (int i = 0; i < 3; ++i) {
    helpers.push_back(
        std::make_unique<Helper>(std::vector<std::string>{"count", "counted", counter, "200"}));
  }
  for (auto& h : helpers) EXPECT_EQ(h->ReadLine(), "done");
  for (auto& h : helpers) EXPECT_EQ(h->Finish(), 0);
  const std::optional<std::string> total = ReadFileBytes(FromUtf8(counter));
  EXPECT_EQ(total, "600\n");
}

TEST_F(NamedObjectsTest, MutexOfAKilledHolderIsTakenAsAbandonedOnce) {
  auto mine = Env::Default().CreateNamedMutex(u"abandon-me");
  Helper helper({"mutex", "abandon-me"});
  ASSERT_EQ(helper.ReadLine(), "signalled");
  EXPECT_EQ(mine->Wait(0), WaitResult::kTimeout);
  helper.Kill();
  EXPECT_EQ(mine->Wait(5000), WaitResult::kAbandoned);
  EXPECT_TRUE(mine->Release());
  EXPECT_EQ(mine->Wait(0), WaitResult::kSignalled);
  EXPECT_TRUE(mine->Release());
  // Another process sees it released properly too.
  Helper next({"mutex-try", "abandon-me", "5000"});
  EXPECT_EQ(next.ReadLine(), "signalled");
  EXPECT_EQ(next.Finish(), 0);
  mine.reset();
  EXPECT_TRUE(std::filesystem::is_empty(runtime_.path() + "/dactyra"));
}

TEST_F(NamedObjectsTest, MutexLeftByAKilledHolderWithNoOtherUserStartsFresh) {
  {
    Helper helper({"mutex", "lonely"});
    ASSERT_EQ(helper.ReadLine(), "signalled");
    helper.Kill();
  }
  // Nobody had it open when its holder died: like a Windows mutex it is
  // gone, and a new one is not abandoned.
  EXPECT_FALSE(std::filesystem::is_empty(runtime_.path() + "/dactyra"));
  auto mine = Env::Default().CreateNamedMutex(u"lonely");
  EXPECT_EQ(mine->Wait(0), WaitResult::kSignalled);
  EXPECT_TRUE(mine->Release());
  mine.reset();
  EXPECT_TRUE(std::filesystem::is_empty(runtime_.path() + "/dactyra"));
}

TEST_F(NamedObjectsTest, MutexOfAThreadThatEndedHoldingItIsAbandoned) {
  auto mutex = Env::Default().CreateNamedMutex(u"thread-death");
  auto holder =
      Env::Default().NewThread([&] { EXPECT_EQ(mutex->Wait(0), WaitResult::kSignalled); });
  ASSERT_TRUE(holder->Start());
  holder->Join();
  EXPECT_EQ(mutex->Wait(5000), WaitResult::kAbandoned);
  EXPECT_TRUE(mutex->Release());
  EXPECT_EQ(mutex->Wait(0), WaitResult::kSignalled);
  EXPECT_TRUE(mutex->Release());
}

TEST_F(NamedObjectsTest, AForkedChildThatEndsLeavesTheParentsObjectsHeld) {
  auto mutex = Env::Default().CreateNamedMutex(u"forked-mutex");
  auto event = Env::Default().CreateNamedEvent(u"forked-event", true);
  ASSERT_NE(mutex, nullptr);
  ASSERT_NE(event, nullptr);
  ASSERT_EQ(mutex->Wait(0), WaitResult::kSignalled);
  ASSERT_EQ(event->Wait(0), WaitResult::kSignalled);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child shares the parent's open files; letting go of its copies,
    // and ending as a thread that seems to hold the mutex, must not touch
    // the parent's hold.
    event.reset();
    mutex.reset();
    exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  Helper mutex_probe({"mutex-try", "forked-mutex", "100"});
  EXPECT_EQ(mutex_probe.ReadLine(), "timeout");
  Helper event_probe({"event-try", "forked-event", "100"});
  EXPECT_EQ(event_probe.ReadLine(), "timeout");
  EXPECT_TRUE(mutex->Release());
}

TEST_F(NamedObjectsTest, NamesAreKeptApartAndNeverEscapeTheRuntimeFolder) {
  // "/" must not make a path, and an encoded look-alike is another name.
  auto slash = Env::Default().CreateNamedMutex(u"../a/b");
  auto lookalike = Env::Default().CreateNamedMutex(u"..%2Fa%2Fb");
  auto mutex_event = Env::Default().CreateNamedEvent(u"../a/b", true);
  ASSERT_NE(slash, nullptr);
  ASSERT_NE(lookalike, nullptr);
  ASSERT_NE(mutex_event, nullptr);
  Helper helper({"mutex", "../a/b"});
  ASSERT_EQ(helper.ReadLine(), "signalled");
  EXPECT_EQ(slash->Wait(0), WaitResult::kTimeout);
  EXPECT_EQ(lookalike->Wait(0), WaitResult::kSignalled);
  // Events and mutexes have separate names here.
  EXPECT_EQ(mutex_event->Wait(0), WaitResult::kSignalled);
  EXPECT_FALSE(std::filesystem::exists(runtime_.path() + "/a"));
  for (const auto& entry : std::filesystem::directory_iterator(runtime_.path())) {
    EXPECT_EQ(entry.path().filename(), "dactyra");
  }
  for (const auto& entry : std::filesystem::directory_iterator(runtime_.path() + "/dactyra")) {
    EXPECT_TRUE(entry.is_regular_file()) << entry.path();
  }
  // Long names that differ only at their end are different objects.
  const Text base(300, u'x');
  auto long_a = Env::Default().CreateNamedMutex(base + u"A");
  auto long_b = Env::Default().CreateNamedMutex(base + u"B");
  ASSERT_NE(long_a, nullptr);
  ASSERT_NE(long_b, nullptr);
  EXPECT_EQ(long_a->Wait(0), WaitResult::kSignalled);
  auto other = Env::Default().NewThread([&] {
    EXPECT_EQ(long_b->Wait(0), WaitResult::kSignalled);
    EXPECT_TRUE(long_b->Release());
  });
  ASSERT_TRUE(other->Start());
  other->Join();
}

TEST_F(NamedObjectsTest, BadNamesAndAnUnsafeRuntimeFolderFailWithAMessage) {
  Text error;
  EXPECT_EQ(Env::Default().CreateNamedMutex(u"", &error), nullptr);
  EXPECT_FALSE(error.empty());
  // A runtime folder that others may enter is refused.
  ASSERT_EQ(mkdir(folder().c_str(), 0700), 0);
  chmod(folder().c_str(), 0777);
  error.clear();
  EXPECT_EQ(Env::Default().CreateNamedEvent(u"e", true, &error), nullptr);
  EXPECT_NE(error.find(FromUtf8(folder())), Text::npos) << ToUtf8(error);
  chmod(folder().c_str(), 0700);
  EXPECT_NE(Env::Default().CreateNamedEvent(u"e", true, &error), nullptr);
  // So is a link to a private folder, and a file in its place.
  const std::string link = runtime_.path() + "/link";
  ASSERT_EQ(mkdir((runtime_.path() + "/private").c_str(), 0700), 0);
  ASSERT_EQ(symlink((runtime_.path() + "/private").c_str(), link.c_str()), 0);
  setenv("DACTYRA_RUNTIME", link.c_str(), 1);
  EXPECT_EQ(Env::Default().CreateNamedEvent(u"e", true, &error), nullptr);
  ASSERT_TRUE(Env::Default().WriteFileBytes(runtime_ / u"file", "x"));
  setenv("DACTYRA_RUNTIME", (runtime_.path() + "/file").c_str(), 1);
  EXPECT_EQ(Env::Default().CreateNamedEvent(u"e", true, &error), nullptr);
  // A folder that does not exist yet is made private.
  const std::string fresh = runtime_.path() + "/fresh";
  setenv("DACTYRA_RUNTIME", fresh.c_str(), 1);
  EXPECT_NE(Env::Default().CreateNamedEvent(u"e", true, &error), nullptr);
  struct stat st;
  ASSERT_EQ(lstat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(NamedObjectsTest, ARuntimeFolderOfAnotherUserIsRefused) {
  // Only root can give a folder away.
  ASSERT_EQ(mkdir(folder().c_str(), 0700), 0);
  if (chown(folder().c_str(), 65534, 65534) != 0) {
    GTEST_SKIP() << "cannot give the folder to another user";
  }
  Text error;
  EXPECT_EQ(Env::Default().CreateNamedEvent(u"e", true, &error), nullptr);
  // What is wrong and what to do: the folder, its owner, the variable.
  EXPECT_NE(error.find(FromUtf8(folder())), Text::npos) << ToUtf8(error);
  EXPECT_NE(error.find(u"belongs to user 65534"), Text::npos) << ToUtf8(error);
  EXPECT_NE(error.find(u"DACTYRA_RUNTIME"), Text::npos) << ToUtf8(error);
  ASSERT_EQ(chown(folder().c_str(), geteuid(), getegid()), 0);
}

// The folder is /tmp/dactyra-<uid> whatever XDG_RUNTIME_DIR says: a
// desktop program and a service of one user, with different environments,
// still exclude each other.
TEST_F(NamedObjectsTest, ProcessesWithDifferentXdgRuntimeDirsShareOneEvent) {
  unsetenv("DACTYRA_RUNTIME");
  testing::TempFolder desktop, service;
  const std::string name = "dactyra-xdg-test-" + std::to_string(getpid());
  Helper first({"event", name}, {{"XDG_RUNTIME_DIR", desktop.path()}});
  ASSERT_EQ(first.ReadLine(), "signalled");
  Helper second({"event-try", name, "200"}, {{"XDG_RUNTIME_DIR", service.path()}});
  EXPECT_EQ(second.ReadLine(), "timeout");
  EXPECT_EQ(second.Finish(), 0);
  first.Send("set");
  ASSERT_EQ(first.ReadLine(), "set");
  Helper third({"event-try", name, "5000"}, {{"XDG_RUNTIME_DIR", service.path()}});
  EXPECT_EQ(third.ReadLine(), "signalled");
  EXPECT_EQ(third.Finish(), 0);
  first.Kill();
  const std::string folder = "/tmp/dactyra-" + std::to_string(geteuid());
  struct stat st;
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::filesystem::remove(folder + "/event." + name);
}

}  // namespace
}  // namespace dactyra::platform
