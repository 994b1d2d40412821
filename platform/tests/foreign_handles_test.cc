// The message queue and the shared event, driven through their handles with
// plain system calls, as another library would.
#include "platform/foreign_handles.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <thread>
#include <vector>

#include "platform/env.h"

namespace dactyra::platform {
namespace {

#ifdef _WIN32
bool RawPost(void* handle, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return PostMessageW(static_cast<HWND>(handle), message, wparam, lparam) != 0;
}

bool RawSignal(void* handle) { return SetEvent(handle) != 0; }

bool IsHandleOfItsKind(void* handle) { return handle != nullptr; }
bool IsQueueHandle(void* handle) { return IsWindow(static_cast<HWND>(handle)) != 0; }
#else
bool RawPost(void* handle, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  const DactyraPostedMessage record{message, 0, wparam, lparam};
  return write(DACTYRA_HANDLE_FD(handle), &record, sizeof record) ==
         static_cast<ssize_t>(sizeof record);
}

bool RawSignal(void* handle) {
  const uint64_t one = DACTYRA_EVENT_SIGNAL;
  return write(DACTYRA_HANDLE_FD(handle), &one, sizeof one) == static_cast<ssize_t>(sizeof one);
}

bool IsHandleOfItsKind(void* handle) { return DACTYRA_HANDLE_FD(handle) >= 3; }
bool IsQueueHandle(void* handle) { return IsHandleOfItsKind(handle); }
#endif

// Message numbers of the application's own range: Windows refuses posts of
// its system messages that carry pointers (WM_CREATE is 1).
constexpr uint32_t kApp = 0x8000;

TEST(MessageQueueTest, DispatchesPostedMessagesInOrderWithoutWaiting) {
  std::vector<QueuedMessage> seen;
  auto queue = Env::Default().CreateMessageQueue(
      [&](const QueuedMessage& message) { seen.push_back(message); });
  ASSERT_NE(queue, nullptr);
  ASSERT_TRUE(IsQueueHandle(queue->Handle()));

  EXPECT_EQ(queue->DispatchWaiting(), 0);
  EXPECT_FALSE(queue->WaitForMessage(0));
  ASSERT_TRUE(RawPost(queue->Handle(), 1288, 0, -5));
  ASSERT_TRUE(queue->Post({7, 1, 42}));
  ASSERT_TRUE(RawPost(queue->Handle(), 1288, 1, INTPTR_MAX));
  EXPECT_TRUE(queue->WaitForMessage(0));
  EXPECT_EQ(queue->DispatchWaiting(), 3);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].message, 1288u);
  EXPECT_EQ(seen[0].lparam, -5);
  EXPECT_EQ(seen[1].message, 7u);
  EXPECT_EQ(seen[1].wparam, 1u);
  EXPECT_EQ(seen[1].lparam, 42);
  EXPECT_EQ(seen[2].wparam, 1u);
  EXPECT_EQ(seen[2].lparam, INTPTR_MAX);
  EXPECT_EQ(queue->DispatchWaiting(), 0);
}

TEST(MessageQueueTest, WaitEndsWhenAnotherThreadPostsAndAFullQueueRefuses) {
  std::atomic<int> count{0};
  auto queue = Env::Default().CreateMessageQueue([&](const QueuedMessage&) { ++count; });
  ASSERT_NE(queue, nullptr);
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    RawPost(queue->Handle(), kApp + 1, 0, 0);
  });
  EXPECT_TRUE(queue->WaitForMessage(5000));
  poster.join();
  EXPECT_EQ(queue->DispatchWaiting(), 1);

  int posted = 0;
#ifdef _WIN32
  // Windows refuses posts beyond its limit (10000 by default); Wine has
  // none. Either way every message taken is dispatched once.
  while (posted < 20000 && RawPost(queue->Handle(), kApp + 2, 0, posted)) ++posted;
  EXPECT_TRUE(posted == 10000 || posted == 20000) << posted;
#else
  while (RawPost(queue->Handle(), kApp + 2, 0, posted) && posted < 1000000) ++posted;
  EXPECT_LT(posted, 1000000) << "a full queue refuses the next record";
  EXPECT_FALSE(queue->Post({kApp + 3, 0, 0}));
#endif
  EXPECT_EQ(queue->DispatchWaiting(), posted);
  EXPECT_EQ(count.load(), posted + 1);
  EXPECT_TRUE(queue->Post({kApp + 3, 0, 0})) << "room again once taken";
}

TEST(MessageQueueTest, MessagesPostedDuringADispatchWaitForTheNext) {
  MessageQueue* self = nullptr;
  int handled = 0;
  auto queue = Env::Default().CreateMessageQueue([&](const QueuedMessage& message) {
    ++handled;
    self->Post({message.message + 1, 0, 0});  // a poster that never stops
  });
  ASSERT_NE(queue, nullptr);
  self = queue.get();
  for (uint32_t i = 0; i < 3; ++i) ASSERT_TRUE(queue->Post({kApp + i * 10, 0, 0}));
  EXPECT_EQ(queue->DispatchWaiting(), 3);
  EXPECT_EQ(queue->DispatchWaiting(), 3);
  EXPECT_EQ(handled, 6);
  // A stop asked for after two messages leaves the third waiting.
  EXPECT_EQ(queue->DispatchWaiting([&] { return handled == 8; }), 2);
  EXPECT_EQ(queue->DispatchWaiting(), 3);
}

TEST(SharedEventTest, AutoResetsAndFoldsSignals) {
  auto event = Env::Default().CreateSharedEvent();
  ASSERT_NE(event, nullptr);
  ASSERT_TRUE(IsHandleOfItsKind(event->Handle()));
  EXPECT_FALSE(event->Wait(0));
  ASSERT_TRUE(RawSignal(event->Handle()));
  ASSERT_TRUE(RawSignal(event->Handle()));
  EXPECT_TRUE(event->Wait(0));
  EXPECT_FALSE(event->Wait(0)) << "two signals before a wait fold into one";
  event->Set();
  EXPECT_TRUE(event->Wait(kInfinite));
  EXPECT_FALSE(event->Wait(30));
}

TEST(SharedEventTest, OneSignalReleasesOneOfTwoWaiters) {
  auto event = Env::Default().CreateSharedEvent();
  ASSERT_NE(event, nullptr);
  std::atomic<int> released{0};
  auto waiter = [&] {
    if (event->Wait(300)) ++released;
  };
  std::thread a(waiter), b(waiter);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(RawSignal(event->Handle()));
  a.join();
  b.join();
  EXPECT_EQ(released.load(), 1);
}

}  // namespace
}  // namespace dactyra::platform
