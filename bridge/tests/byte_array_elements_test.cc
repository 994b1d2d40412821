#include "bridge/byte_array_elements.h"

#include <gtest/gtest.h>

#include "bridge/local_ref.h"
#include "bridge/tests/fake_jni.h"

namespace dactyra {
namespace {

using testing::FakeJni;

TEST(ByteArrayElementsTest, ReadOnlyAccessNeverWritesBack) {
  FakeJni fake;
  TJNIEnv env(fake.env());
  fake.byteArrays[5] = {1, 2, 3};
  auto array = reinterpret_cast<jbyteArray>(FakeJni::Handle(5));
  {
    TByteArrayElements bytes(env, array);
    ASSERT_EQ(bytes.bytes().size(), 3u);
    EXPECT_EQ(bytes.bytes()[2], 3);
  }
  EXPECT_EQ(fake.log.back(), "ReleaseByteArrayElements 5 abort");
  {
    TByteArrayElements bytes(env, array, TByteArrayElements::Access::kReadWrite);
    bytes.writable()[0] = 9;
  }
  EXPECT_EQ(fake.log.back(), "ReleaseByteArrayElements 5 0");
  EXPECT_EQ(fake.byteArrays[5][0], 9);
  // Released when the scope is left by a failure, too.
  try {
    TByteArrayElements bytes(env, array);
    throw Exception(u"x");
  } catch (const Exception&) {
  }
  EXPECT_EQ(fake.CountLog("ReleaseByteArrayElements"), 3u);
}

TEST(LocalRefTest, DeletesOnceUnlessReleased) {
  FakeJni fake;
  TJNIEnv env(fake.env());
  {
    TLocalRef<> a(env, FakeJni::Handle(1));
    TLocalRef<> b(std::move(a));
    TLocalRef<> c(env, FakeJni::Handle(2));
    c = std::move(b);  // 2 goes now, 1 at the end
    TLocalRef<> kept(env, FakeJni::Handle(3));
    EXPECT_EQ(kept.release(), FakeJni::Handle(3));
    TLocalRef<> none(env, nullptr);
  }
  EXPECT_EQ(fake.deletedLocal, (std::vector<uintptr_t>{2, 1}));
}

}  // namespace
}  // namespace dactyra
