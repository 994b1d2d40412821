#include "bridge/entry_frames.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <vector>

#include "bridge/java_object_access.h"
#include "bridge/tests/fake_jni.h"
#include "platform/env.h"
#include "platform/threads.h"

namespace dactyra {
namespace {

using testing::FakeJni;

// The exception class a scanner-family frame reports with.
constexpr char16_t kScanManException[] = u"br/com/tessiva/scanners/ScanManException";

// True when another thread can take `lock` now (it is recursive, so the
// owner itself always could).
bool FreeForOthers(platform::CriticalSection& lock) {
  bool free = false;
  auto probe = platform::Env::Default().NewThread([&] {
    free = lock.TryEnter();
    if (free) lock.Leave();
  });
  probe->Start();
  probe->Join();
  return free;
}

class EntryFramesTest : public ::testing::Test {
 protected:
  EntryFramesTest() {
    fake_.classes["br/com/tessiva/scanners/ScanManException"] = 3;
    fake_.classes["java/lang/RuntimeException"] = 4;
    fake_.classes["java/lang/OutOfMemoryError"] = 6;
  }
  FakeJni fake_;
  platform::CriticalSection lock_;
  jobject receiver_ = FakeJni::Handle(9);
};

TEST_F(EntryFramesTest, FailedMonitorEnterReportsThreadingErrorWithoutTakingTheLock) {
  fake_.monitorEnterResult = -1;
  bool ran = false;
  int result = MonitorFrame(fake_.env(), receiver_, lock_, kScanManException, [&](TJNIEnv&) {
    ran = true;
    return 5;
  });
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(fake_.log,
            (std::vector<std::string>{"MonitorEnter 9", "ExceptionCheck",
                                      "FindClass br/com/tessiva/scanners/ScanManException",
                                      "ThrowNew 3 Threading error", "DeleteLocalRef 3"}));
  EXPECT_TRUE(FreeForOthers(lock_));
}

TEST_F(EntryFramesTest, MonitorFrameReleasesTheLockBeforeTheMonitor) {
  bool lockFreeAtMonitorExit = false;
  fake_.onMonitorExit = [&] { lockFreeAtMonitorExit = FreeForOthers(lock_); };
  bool heldInBody = false;
  int64_t result = MonitorFrame(fake_.env(), receiver_, lock_, kScanManException, [&](TJNIEnv&) {
    heldInBody = !FreeForOthers(lock_);
    return int64_t{77};
  });
  EXPECT_EQ(result, 77);
  EXPECT_TRUE(heldInBody);
  EXPECT_TRUE(lockFreeAtMonitorExit);
  EXPECT_EQ(fake_.log.front(), "MonitorEnter 9");
  EXPECT_EQ(fake_.log.back(), "MonitorExit 9");
}

TEST_F(EntryFramesTest, MonitorFrameBodyFailureStillReleasesBoth) {
  int result = MonitorFrame(fake_.env(), receiver_, lock_, kScanManException, [&](TJNIEnv&) -> int {
    throw Exception(u"Leitor n\u00e3o encontrado");
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(fake_.CountLog("MonitorExit 9"), 1u);
  EXPECT_EQ(fake_.CountLog("ThrowNew 3 Leitor n\xc3\xa3o encontrado"), 1u);
  EXPECT_TRUE(FreeForOthers(lock_));
}

TEST_F(EntryFramesTest, ConvertingFrameCarriesTheMessageUnchanged) {
  ConvertingFrame(fake_.env(), lock_, kScanManException, [&](TJNIEnv&) {
    throw Exception(u"Falha ao abrir o dispositivo \u00e7\u00e3o \U0001F600");
  });
  EXPECT_EQ(fake_.CountLog("ThrowNew 3 Falha ao abrir o dispositivo \xc3\xa7\xc3\xa3o "
                           "\xed\xa0\xbd\xed\xb8\x80"),
            1u);
  EXPECT_TRUE(FreeForOthers(lock_));
  EXPECT_EQ(fake_.violations, 0);
  fake_.pending = false;
  // Converting frames convert an allocation failure too.
  ConvertingFrame(fake_.env(), lock_, kScanManException, [&](TJNIEnv&) { throw std::bad_alloc(); });
  EXPECT_EQ(fake_.CountLog("ThrowNew 3 Out of memory"), 1u);
}

TEST_F(EntryFramesTest, ConvertingFrameReplacesAPendingLookupError) {
  fake_.objectClass[9] = 10;
  ConvertingFrame(fake_.env(), lock_, kScanManException,
                  [&](TJNIEnv& env) { TAcessoJNI(env, receiver_).GetCampoInt(u"missing"); });
  EXPECT_EQ(fake_.CountLog("ExceptionClear"), 1u);
  EXPECT_EQ(fake_.CountLog("ThrowNew 3 Field 'missing' of type 'I' not found"), 1u);
  EXPECT_EQ(fake_.violations, 0);
}

TEST_F(EntryFramesTest, AJavaExceptionFromJavaIsLeftAsTheReport) {
  fake_.methods["run ()V"] = 1;
  fake_.objectClass[9] = 10;
  fake_.callThrows = true;
  ConvertingFrame(fake_.env(), lock_, kScanManException,
                  [&](TJNIEnv& env) { ChamarVoidObjeto(env, receiver_, u"run", {}, u""); });
  EXPECT_EQ(fake_.CountLog("ThrowNew"), 0u);
  EXPECT_TRUE(fake_.pending);
  EXPECT_EQ(fake_.violations, 0);
}

TEST_F(EntryFramesTest, PlainFrameKeepsAPendingErrorOrRaisesItsClass) {
  fake_.objectClass[9] = 10;
  int r = PlainFrame(fake_.env(), u"java/lang/RuntimeException", [&](TJNIEnv& env) {
    return TAcessoJNI(env, receiver_).GetCampoInt(u"missing");
  });
  EXPECT_EQ(r, 0);
  EXPECT_EQ(fake_.CountLog("ThrowNew"), 0u) << "the NoSuchFieldError stays";
  EXPECT_TRUE(fake_.pending);
  fake_.pending = false;

  jobject o = PlainFrame(fake_.env(), u"java/lang/RuntimeException",
                         [&](TJNIEnv&) -> jobject { throw std::bad_alloc(); });
  EXPECT_EQ(o, nullptr);
  EXPECT_EQ(fake_.CountLog("ThrowNew 6 Out of memory"), 1u);
  fake_.pending = false;
  PlainFrame(fake_.env(), u"java/lang/RuntimeException", [&](TJNIEnv&) { throw 42; });
  EXPECT_EQ(fake_.CountLog("ThrowNew 4 Internal error"), 1u);
}

TEST_F(EntryFramesTest, MissingExceptionClassLeavesJnisOwnError) {
  bool b = LockedFrame(fake_.env(), lock_, u"no/such/Class",
                       [&](TJNIEnv&) -> bool { throw Exception(u"x"); });
  EXPECT_FALSE(b);
  EXPECT_EQ(fake_.CountLog("ThrowNew"), 0u);
  EXPECT_TRUE(fake_.pending);
  EXPECT_TRUE(FreeForOthers(lock_));
}

// Start and stop from many Java threads at once: the bodies never overlap,
// the lock is recursive within a body, and a failing body does not keep it.
TEST_F(EntryFramesTest, ConvertingFramesSerialiseAcrossThreads) {
  platform::CriticalSection lock;
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  int counter = 0;  // guarded by the frame's lock alone
  std::atomic<size_t> reported{0};
  std::vector<std::unique_ptr<platform::Thread>> threads;
  for (int t = 0; t < 4; ++t) {
    threads.push_back(platform::Env::Default().NewThread([&] {
      FakeJni fake;  // each Java thread has its own environment
      fake.classes["br/com/tessiva/scanners/ScanManException"] = 3;
      for (int i = 0; i < 200; ++i) {
        ConvertingFrame(fake.env(), lock, kScanManException, [&](TJNIEnv&) {
          if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
          ++counter;
          std::lock_guard<platform::CriticalSection> again(lock);
          inside.fetch_sub(1);
          if (i % 3 == 0) throw Exception(u"stop");
        });
        fake.pending = false;
      }
      reported += fake.CountLog("ThrowNew 3 stop");
    }));
  }
  for (auto& t : threads) ASSERT_TRUE(t->Start());
  for (auto& t : threads) t->Join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(counter, 800);
  EXPECT_EQ(reported.load(), 4u * 67u);
  EXPECT_TRUE(FreeForOthers(lock));
}

}  // namespace
}  // namespace dactyra
