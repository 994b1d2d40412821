// The registry of open transports: identity, removal, and threads of one
// process changing it together.
#include "plugins/lumidigm/v100/transport_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/testing/fault_env.h"
#include "platform/threads.h"
#include "plugins/lumidigm/tests/scripted_transport.h"

namespace dactyra::v100 {
namespace {

platform::Text UniqueName(const char* what) {
  std::string name = std::string("V100RegistryTest_") + what + "_" +
                     std::to_string(platform::CurrentThreadId()) + "_" +
                     std::to_string(platform::Env::Default().TickCount());
  return platform::Text(name.begin(), name.end());
}

TEST(TransportRegistry, EntersAndRemovesByIdentity) {
  TransportRegistry registry(platform::Env::Default(), UniqueName("identity"));
  testing::ScriptedTransport a, b;
  EXPECT_TRUE(registry.Add(&a));
  EXPECT_FALSE(registry.Add(&a));
  EXPECT_TRUE(registry.Add(&b));
  EXPECT_EQ(registry.Size(), 2u);
  EXPECT_TRUE(registry.Remove(&a));
  EXPECT_FALSE(registry.Remove(&a));
  EXPECT_FALSE(registry.Contains(&a));
  EXPECT_TRUE(registry.Contains(&b));
  EXPECT_EQ(registry.Size(), 1u);
}

TEST(TransportRegistry, ThreadsAddAndRemoveTogether) {
  TransportRegistry registry(platform::Env::Default(), UniqueName("threads"));
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::vector<std::unique_ptr<testing::ScriptedTransport>> transports;
  for (int i = 0; i < kThreads; ++i)
    transports.push_back(std::make_unique<testing::ScriptedTransport>());
  std::atomic<int> failures{0};
  std::vector<std::unique_ptr<platform::Thread>> threads;
  for (int i = 0; i < kThreads; ++i) {
    const ITransport* mine = transports[i].get();
    threads.push_back(platform::Env::Default().NewThread([&, mine] {
      for (int r = 0; r < kRounds; ++r) {
        if (!registry.Add(mine) || !registry.Contains(mine) || !registry.Remove(mine)) ++failures;
      }
    }));
  }
  for (auto& t : threads) ASSERT_TRUE(t->Start());
  for (auto& t : threads) t->Join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(registry.Size(), 0u);
}

TEST(TransportRegistry, AMutexHeldByAnotherProcessForEverDoesNotStopThisOne) {
  // The named mutex never comes free; its infinite wait fails instead of
  // hanging, and the registry goes on under its local lock alone.
  platform::testing::FaultEnv env;
  env.named_objects_held = true;
  TransportRegistry registry(env, UniqueName("held"));
  testing::ScriptedTransport t;
  EXPECT_TRUE(registry.Add(&t));
  EXPECT_TRUE(registry.Contains(&t));
  EXPECT_TRUE(registry.Remove(&t));
  EXPECT_EQ(registry.Size(), 0u);
}

}  // namespace
}  // namespace dactyra::v100
