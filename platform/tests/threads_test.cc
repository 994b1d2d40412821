#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "platform/backend.h"
#include "platform/env.h"
#include "platform/testing/wait.h"

namespace dactyra::platform {
namespace {

using Clock = std::chrono::steady_clock;
using testing::WaitUntil;

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(Thread, RunsItsBodyOnceOnAnotherThread) {
  std::atomic<int> runs{0};
  std::atomic<bool> was_current{false};
  uint64_t body_id = 0;
  Thread* self = nullptr;
  auto thread = Env::Default().NewThread([&] {
    ++runs;
    was_current = self->IsCurrent();
    body_id = CurrentThreadId();
  });
  self = thread.get();
  EXPECT_FALSE(thread->Joinable());
  EXPECT_FALSE(thread->IsCurrent());
  ASSERT_TRUE(thread->Start());
  EXPECT_FALSE(thread->Start());
  EXPECT_FALSE(thread->IsCurrent());
  thread->Join();
  EXPECT_FALSE(thread->Joinable());
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(was_current);
  EXPECT_NE(body_id, CurrentThreadId());
  EXPECT_EQ(CurrentThreadId(), CurrentThreadId());
  thread->Join();  // a second join is harmless
}

TEST(Thread, DestructorJoinsAForgottenThread) {
  std::atomic<bool> finished{false};
  {
    auto thread = Env::Default().NewThread([&] {
      Sleep(50);
      finished = true;
    });
    ASSERT_TRUE(thread->Start());
  }
  EXPECT_TRUE(finished);
}

TEST(Thread, DetachedThreadOutlivesItsObject) {
  Event done(true, false);
  std::atomic<int> value{0};
  {
    auto thread = Env::Default().NewThread([&] {
      Sleep(20);
      value = 5;
      done.Set();
    });
    ASSERT_TRUE(thread->Start());
    thread->Detach();
    EXPECT_FALSE(thread->Joinable());
  }
  ASSERT_TRUE(done.Wait(10000));
  EXPECT_EQ(value, 5);
}

TEST(Thread, BodyMayDestroyItsOwnThreadAndJoinItselfHarmlessly) {
  for (int round = 0; round < 20; ++round) {
    Event done(true, false);
    std::unique_ptr<Thread> thread;
    std::atomic<bool> was_current{false};
    // The body touches its Thread at once, while Start may still be
    // returning.
    thread = Env::Default().NewThread([&] {
      was_current = thread->IsCurrent();
      thread->Join();
      EXPECT_TRUE(thread->Joinable());
      thread.reset();
      done.Set();
    });
    Thread* raw = thread.get();
    ASSERT_TRUE(raw->Start());
    ASSERT_TRUE(done.Wait(10000));
    EXPECT_TRUE(was_current);
    EXPECT_EQ(thread, nullptr);
  }
  Sleep(20);  // lets the detached threads return before the test ends
}

TEST(Thread, WithoutBodyDoesNotStart) {
  auto thread = Env::Default().NewThread(nullptr);
  EXPECT_FALSE(thread->Start());
}

TEST(Thread, ManyShortThreadsStartAndJoin) {
  std::atomic<int> runs{0};
  for (int round = 0; round < 20; ++round) {
    std::vector<std::unique_ptr<Thread>> threads;
    for (int i = 0; i < 8; ++i) {
      threads.push_back(Env::Default().NewThread([&] { ++runs; }));
      ASSERT_TRUE(threads.back()->Start());
    }
    for (auto& t : threads) t->Join();
  }
  EXPECT_EQ(runs, 160);
}

TEST(Event, AutoResetReleasesOneWaitPerSet) {
  Event event(false, true);
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  event.Set();  // no count: still one
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
}

TEST(Event, AutoResetWakesOneOfSeveralWaiters) {
  Event event(false, false);
  std::atomic<int> woken{0};
  std::vector<std::unique_ptr<Thread>> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.push_back(Env::Default().NewThread([&] {
      if (event.Wait()) ++woken;
    }));
    ASSERT_TRUE(waiters.back()->Start());
  }
  event.Set();
  ASSERT_TRUE(WaitUntil([&] { return woken == 1; }));
  Sleep(50);
  EXPECT_EQ(woken, 1);
  for (int i = 0; i < 3; ++i) {
    const int before = woken;
    event.Set();
    ASSERT_TRUE(WaitUntil([&] { return woken == before + 1; }));
  }
  for (auto& w : waiters) w->Join();
  EXPECT_EQ(woken, 4);
}

// Each Set releases a waiter that was already waiting, even when the Sets
// follow each other before any waiter has run.
TEST(Event, AutoResetSetsInQuickSuccessionReleaseAsManyWaiters) {
  for (int round = 0; round < 5; ++round) {
    Event event(false, false);
    std::atomic<int> waiting{0};
    std::atomic<int> woken{0};
    std::vector<std::unique_ptr<Thread>> waiters;
    for (int i = 0; i < 2; ++i) {
      waiters.push_back(Env::Default().NewThread([&] {
        ++waiting;
        if (event.Wait(3000)) ++woken;
      }));
      ASSERT_TRUE(waiters.back()->Start());
    }
    ASSERT_TRUE(WaitUntil([&] { return waiting == 2; }));
    Sleep(50);  // both are inside Wait by now
    event.Set();
    event.Set();
    for (auto& w : waiters) w->Join();
    EXPECT_EQ(woken, 2) << "round " << round;
    EXPECT_FALSE(event.Wait(0));  // both Sets went to the waiters
  }
}

// A manual-reset Set releases every thread waiting at that moment, even when
// a Reset follows at once.
TEST(Event, ManualResetSetThenResetStillReleasesTheWaiters) {
  for (int round = 0; round < 5; ++round) {
    Event event(true, false);
    std::atomic<int> waiting{0};
    std::atomic<int> woken{0};
    std::vector<std::unique_ptr<Thread>> waiters;
    for (int i = 0; i < 3; ++i) {
      waiters.push_back(Env::Default().NewThread([&] {
        ++waiting;
        if (event.Wait(3000)) ++woken;
      }));
      ASSERT_TRUE(waiters.back()->Start());
    }
    ASSERT_TRUE(WaitUntil([&] { return waiting == 3; }));
    Sleep(50);
    event.Set();
    event.Reset();
    for (auto& w : waiters) w->Join();
    EXPECT_EQ(woken, 3) << "round " << round;
    EXPECT_FALSE(event.Wait(0));
  }
}

TEST(Event, ManualResetReleasesEveryWaiterAndStaysSet) {
  Event event(true, false);
  std::atomic<int> woken{0};
  std::vector<std::unique_ptr<Thread>> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.push_back(Env::Default().NewThread([&] {
      if (event.Wait(20000)) ++woken;
    }));
    ASSERT_TRUE(waiters.back()->Start());
  }
  event.Set();
  for (auto& w : waiters) w->Join();
  EXPECT_EQ(woken, 4);
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0));
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
}

TEST(Event, TimedWaitHonoursItsTimeout) {
  Event event(false, false);
  const auto start = Clock::now();
  EXPECT_FALSE(event.Wait(100));
  const int64_t waited = MillisecondsSince(start);
  EXPECT_GE(waited, 99);
  EXPECT_LT(waited, 5000);
}

TEST(Event, SetFromAnotherThreadEndsAnInfiniteWait) {
  Event event(false, false);
  auto setter = Env::Default().NewThread([&] {
    Sleep(30);
    event.Set();
  });
  ASSERT_TRUE(setter->Start());
  EXPECT_TRUE(event.Wait(kInfinite));
  setter->Join();
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
  CriticalSection section;
  section.Enter();
  section.Enter();
  std::atomic<bool> other_got_it{true};
  auto other = Env::Default().NewThread([&] {
    other_got_it = section.TryEnter();
    if (other_got_it) section.Leave();
  });
  ASSERT_TRUE(other->Start());
  other->Join();
  EXPECT_FALSE(other_got_it);
  section.Leave();
  auto still = Env::Default().NewThread([&] {
    other_got_it = section.TryEnter();
    if (other_got_it) section.Leave();
  });
  ASSERT_TRUE(still->Start());
  still->Join();
  EXPECT_FALSE(other_got_it);
  section.Leave();
  auto free = Env::Default().NewThread([&] {
    other_got_it = section.TryEnter();
    if (other_got_it) section.Leave();
  });
  ASSERT_TRUE(free->Start());
  free->Join();
  EXPECT_TRUE(other_got_it);
}

TEST(CriticalSection, GuardsSharedDataAcrossThreads) {
  CriticalSection section;
  int64_t counter = 0;  // plain: the section alone protects it
  std::vector<std::unique_ptr<Thread>> threads;
  for (int i = 0; i < 4; ++i) {
    threads.push_back(Env::Default().NewThread([&] {
      for (int k = 0; k < 10000; ++k) {
        std::lock_guard lock(section);
        std::lock_guard again(section);
        ++counter;
      }
    }));
    ASSERT_TRUE(threads.back()->Start());
  }
  for (auto& t : threads) t->Join();
  EXPECT_EQ(counter, 40000);
}

// How coarse the tick count may be: Windows' GetTickCount advances with the
// system timer, in steps of up to about 16 ms.
#ifdef _WIN32
constexpr uint32_t kTickStep = 16;
#else
constexpr uint32_t kTickStep = 1;
#endif

TEST(Time, SleepAndTickCountAdvanceTogether) {
  const uint32_t before = TickCount();
  const auto start = Clock::now();
  Sleep(100);
  const uint32_t elapsed = TickCount() - before;  // unsigned: survives a wrap
  EXPECT_GE(MillisecondsSince(start), 100);
  EXPECT_GE(elapsed + kTickStep, 100u);
  EXPECT_LT(elapsed, 10000u);
  Sleep(0);
}

}  // namespace
}  // namespace dactyra::platform
