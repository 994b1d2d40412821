#include "support/generic_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/testing/fault_env.h"
#include "platform/threads.h"
#include "support/exception.h"

namespace dactyra {
namespace {

// Generous: only a broken implementation waits this long.
constexpr uint32_t kPatience = 10000;

TEST(TThreadGenerica, OwnedThreadRunsOnceWithItsParameterAndStaysUntilReleased) {
  int parameter = 7;
  std::atomic<int> runs{0};
  TThreadGenerica* seen = nullptr;
  void* seen_parameter = nullptr;
  auto thread = std::make_unique<TThreadGenerica>(
      [&](TThreadGenerica& self) {
        seen = &self;
        seen_parameter = self.Parametro();
        runs.fetch_add(1);
      },
      false, &parameter);
  thread->WaitFor();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(seen, thread.get());
  EXPECT_EQ(seen_parameter, &parameter);
  EXPECT_EQ(thread->Parametro(), &parameter);
  EXPECT_FALSE(thread->Terminated());
  EXPECT_EQ(thread->FatalException(), nullptr);
  // Waiting again for a thread that has ended returns at once.
  thread->WaitFor();
  thread.reset();
  EXPECT_EQ(runs.load(), 1);
}

TEST(TThreadGenerica, ReleasingTellsALoopingRoutineToEndAndWaitsForIt) {
  platform::Event running(true, false);
  std::atomic<bool> ended{false};
  auto thread = std::make_unique<TThreadGenerica>(
      [&](TThreadGenerica& self) {
        running.Set();
        while (!self.Terminated()) platform::Env::Default().Sleep(1);
        ended.store(true);
      },
      false, nullptr);
  ASSERT_TRUE(running.Wait(kPatience));
  EXPECT_FALSE(ended.load());
  thread.reset();
  EXPECT_TRUE(ended.load());
}

TEST(TThreadGenerica, TerminateIsSeenByTheRoutine) {
  platform::Event told(true, false);
  std::atomic<bool> saw{false};
  TThreadGenerica thread(
      [&](TThreadGenerica& self) {
        told.Wait();
        saw.store(self.Terminated());
      },
      false, nullptr);
  thread.Terminate();
  EXPECT_TRUE(thread.Terminated());
  told.Set();
  thread.WaitFor();
  EXPECT_TRUE(saw.load());
}

TEST(TThreadGenerica, ReleasingWaitsForACallbackInProgress) {
  platform::Event in_callback(true, false);
  platform::Event let_go(true, false);
  std::atomic<bool> callback_done{false};
  auto thread = std::make_unique<TThreadGenerica>(
      [&](TThreadGenerica& self) {
        while (!self.Terminated()) {
          // A callback that blocks regardless of Terminated, as a handler
          // delivering an event would.
          in_callback.Set();
          let_go.Wait();
          callback_done.store(true);
        }
      },
      false, nullptr);
  ASSERT_TRUE(in_callback.Wait(kPatience));

  std::atomic<bool> released{false};
  bool done_when_released = false;
  auto releaser = platform::Env::Default().NewThread([&] {
    thread.reset();
    done_when_released = callback_done.load();
    released.store(true);
  });
  ASSERT_TRUE(releaser->Start());
  platform::Env::Default().Sleep(50);
  EXPECT_FALSE(released.load()) << "released while the callback was still running";
  let_go.Set();
  releaser->Join();
  EXPECT_TRUE(released.load());
  EXPECT_TRUE(done_when_released);
}

TEST(TThreadGenerica, StartAndReleaseRaces) {
  // Routines that return at once, released at once; routines released
  // before they had a chance to run. Nothing may hang or leak.
  std::atomic<int> runs{0};
  for (int i = 0; i < 200; ++i) {
    TThreadGenerica quick([&](TThreadGenerica&) { runs.fetch_add(1); }, false, nullptr);
  }
  EXPECT_EQ(runs.load(), 200);
  for (int i = 0; i < 100; ++i) {
    TThreadGenerica looping(
        [&](TThreadGenerica& self) {
          while (!self.Terminated()) platform::Env::Default().Sleep(0);
        },
        false, nullptr);
  }
}

TEST(TThreadGenerica, AnEscapingErrorEndsTheThreadQuietly) {
  TThreadGenerica failing([](TThreadGenerica&) { throw std::runtime_error("boom"); }, false,
                          nullptr);
  failing.WaitFor();
  ASSERT_NE(failing.FatalException(), nullptr);
  EXPECT_THROW(std::rethrow_exception(failing.FatalException()), std::runtime_error);
}

TEST(TThreadGenerica, WaitingForItselfFailsInsteadOfHanging) {
  std::atomic<bool> refused{false};
  TThreadGenerica thread(
      [&](TThreadGenerica& self) {
        try {
          self.WaitFor();
        } catch (const Exception&) {
          refused.store(true);
        }
      },
      false, nullptr);
  thread.WaitFor();
  EXPECT_TRUE(refused.load());
}

TEST(TThreadGenerica, MissingRoutineIsRefused) {
  EXPECT_THROW(TThreadGenerica(TMetodoThreadGenerica(), false, nullptr), Exception);
}

// The routine's captures live as long as the thread object; a token among
// them tells when the object has been freed.
TEST(TThreadGenerica, SelfFreeingThreadFreesItselfWhenTheRoutineReturns) {
  constexpr int kThreads = 32;
  platform::Event go(true, false);
  std::atomic<int> runs{0};
  std::vector<std::weak_ptr<int>> alive;
  int parameter = 0;
  for (int i = 0; i < kThreads; ++i) {
    auto token = std::make_shared<int>(i);
    alive.push_back(token);
    TThreadGenerica::CreateSelfFreeing(
        [&, token](TThreadGenerica& self) {
          // Some wait, so that creation and freeing overlap; some run at once.
          if (*token % 2 == 0) go.Wait();
          if (self.Parametro() == &parameter) runs.fetch_add(1);
        },
        &parameter);
  }
  go.Set();
  const uint32_t start = platform::Env::Default().TickCount();
  auto all_freed = [&] {
    for (const auto& w : alive)
      if (!w.expired()) return false;
    return true;
  };
  while (!all_freed() && platform::Env::Default().TickCount() - start < kPatience)
    platform::Env::Default().Sleep(1);
  EXPECT_TRUE(all_freed());
  EXPECT_EQ(runs.load(), kThreads);
}

TEST(TThreadGenerica, SelfFreeingThroughTheConstructor) {
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> alive = token;
  platform::Event ran(true, false);
  // Ownership goes to the thread at once; the pointer is not kept.
  static_cast<void>(std::make_unique<TThreadGenerica>(
                        [&ran, token](TThreadGenerica&) { ran.Set(); }, true, nullptr)
                        .release());
  token.reset();
  ASSERT_TRUE(ran.Wait(kPatience));
  const uint32_t start = platform::Env::Default().TickCount();
  while (!alive.expired() && platform::Env::Default().TickCount() - start < kPatience)
    platform::Env::Default().Sleep(1);
  EXPECT_TRUE(alive.expired());
}

TEST(TThreadGenerica, AThreadTheSystemCannotStartIsAnErrorAndNothingRuns) {
  platform::testing::FaultEnv env;
  env.threads_fail = true;
  std::atomic<int> runs{0};
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> alive = token;
  for (const bool liberar_auto : {false, true}) {
    SCOPED_TRACE(liberar_auto);
    try {
      TMetodoThreadGenerica routine = [&runs, token](TThreadGenerica&) { runs.fetch_add(1); };
      if (liberar_auto) {
        TThreadGenerica::CreateSelfFreeing(std::move(routine), nullptr, env);
      } else {
        TThreadGenerica thread(std::move(routine), false, nullptr, env);
      }
      ADD_FAILURE() << "created";
    } catch (const Exception& e) {
      EXPECT_EQ(e.message(), u"Não foi possível criar a thread.");
    }
  }
  EXPECT_EQ(env.threads_made, 2);
  EXPECT_EQ(runs.load(), 0);
  // Neither object kept the routine: the self-freeing one was not left
  // behind for a thread that never came.
  token.reset();
  EXPECT_TRUE(alive.expired());
  // The same Env gives working threads once the fault is off.
  env.threads_fail = false;
  TThreadGenerica thread([&runs](TThreadGenerica&) { runs.fetch_add(1); }, false, nullptr, env);
  thread.WaitFor();
  EXPECT_EQ(runs.load(), 1);
}

}  // namespace
}  // namespace dactyra
