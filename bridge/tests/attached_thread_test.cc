#include "bridge/attached_thread.h"

#include <gtest/gtest.h>

#include <vector>

#include "bridge/tests/fake_jni.h"
#include "platform/env.h"
#include "platform/threads.h"

namespace {

// The process's VMs as this test arranges them; JNI_GetCreatedJavaVMs below
// stands in for the VM library's.
JavaVM* g_vm = nullptr;

}  // namespace

#if defined(_WIN32)
// Exported from the test program, where the library looks when no jvm.dll
// is loaded. jni.h declares it imported; this definition is the point.
#pragma GCC diagnostic ignored "-Wattributes"
extern "C" __declspec(dllexport) jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize size,
                                                                   jsize* count) {
#else
extern "C" jint JNI_GetCreatedJavaVMs(JavaVM** vms, jsize size, jsize* count) {
#endif
  if (g_vm != nullptr && size >= 1) vms[0] = g_vm;
  *count = g_vm != nullptr ? 1 : 0;
  return JNI_OK;
}

namespace dactyra {
namespace {

using testing::FakeJni;

// A VM whose attach and detach are logged into the thread's FakeJni.
class FakeVm {
 public:
  FakeVm() {
    table_.GetEnv = GetEnv;
    table_.AttachCurrentThread = AttachCurrentThread;
    table_.DetachCurrentThread = DetachCurrentThread;
    vm_.functions = &table_;
    self = this;
    g_vm = &vm_;
  }
  ~FakeVm() {
    g_vm = nullptr;
    self = nullptr;
  }
  bool alreadyAttached = false;
  static FakeVm* self;

 private:
  // The VM's functions, with its calling convention (stdcall on 32-bit
  // Windows, which a lambda cannot take).
  static jint JNICALL GetEnv(JavaVM*, void** env, jint) {
    FakeJni& f = *FakeJni::current;
    f.log.push_back("GetEnv");
    if (!self->alreadyAttached) return JNI_EDETACHED;
    *env = f.env();
    return JNI_OK;
  }
  static jint JNICALL AttachCurrentThread(JavaVM*, void** env, void* args) {
    FakeJni& f = *FakeJni::current;
    f.log.push_back(args == nullptr ? "AttachCurrentThread" : "AttachCurrentThread args");
    *env = f.env();
    return JNI_OK;
  }
  static jint JNICALL DetachCurrentThread(JavaVM*) {
    FakeJni::current->log.push_back(FakeJni::current->pending ? "DetachCurrentThread pending"
                                                              : "DetachCurrentThread");
    return JNI_OK;
  }

  JNIInvokeInterface_ table_{};
  JavaVM vm_{};
};
FakeVm* FakeVm::self = nullptr;

// Runs RunAttached on a new thread, as the library's event threads do.
template <typename Check>
void OnLibraryThread(Check check) {
  auto thread = platform::Env::Default().NewThread([&] {
    FakeJni fake;
    check(fake);
  });
  ASSERT_TRUE(thread->Start());
  thread->Join();
}

TEST(AttachedThreadTest, WithoutAVmNothingRuns) {
  OnLibraryThread([](FakeJni& fake) {
    bool ran = false;
    EXPECT_FALSE(RunAttached({}, [&](TJNIEnv&) { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_TRUE(fake.log.empty());
  });
}

TEST(AttachedThreadTest, AttachesWorksDeletesHandedOverReferencesAndDetaches) {
  FakeVm vm;
  OnLibraryThread([](FakeJni& fake) {
    const std::vector<jobject> handed{FakeJni::Handle(61), FakeJni::Handle(62)};
    bool worked = RunAttached(handed, [&](TJNIEnv& env) {
      EXPECT_EQ(env.raw(), fake.env());
      fake.log.push_back("work");
    });
    EXPECT_TRUE(worked);
    EXPECT_EQ(fake.log, (std::vector<std::string>{"GetEnv", "AttachCurrentThread", "work",
                                                  "ExceptionCheck", "DeleteGlobalRef 61",
                                                  "DeleteGlobalRef 62", "DetachCurrentThread"}));
  });
}

TEST(AttachedThreadTest, FailureIsDroppedAndTheThreadStillDetaches) {
  FakeVm vm;
  OnLibraryThread([](FakeJni& fake) {
    fake.methods["fireEvent ()V"] = 5;
    fake.objectClass[61] = 70;
    fake.callThrows = true;  // the Java listener throws
    const std::vector<jobject> handed{FakeJni::Handle(61)};
    bool worked = RunAttached(handed, [&](TJNIEnv& env) {
      env.CallVoidMethod(FakeJni::Handle(61), reinterpret_cast<jmethodID>(5));
      ADD_FAILURE() << "the Java exception stops the work";
    });
    EXPECT_FALSE(worked);
    EXPECT_EQ(fake.CountLog("ExceptionClear"), 1u);
    EXPECT_EQ(fake.CountLog("DeleteGlobalRef 61"), 1u);
    EXPECT_EQ(fake.log.back(), "DetachCurrentThread") << "detached with nothing pending";
    EXPECT_EQ(fake.violations, 0);

    fake.log.clear();
    EXPECT_FALSE(RunAttached({}, [](TJNIEnv&) { throw Exception(u"x"); }));
    EXPECT_EQ(fake.log.back(), "DetachCurrentThread");
  });
}

TEST(AttachedThreadTest, AnAttachedThreadIsNotDetached) {
  FakeVm vm;
  vm.alreadyAttached = true;
  OnLibraryThread([](FakeJni& fake) {
    EXPECT_TRUE(RunAttached({}, [](TJNIEnv&) {}));
    EXPECT_EQ(fake.CountLog("AttachCurrentThread"), 0u);
    EXPECT_EQ(fake.CountLog("DetachCurrentThread"), 0u);
  });
}

}  // namespace
}  // namespace dactyra
