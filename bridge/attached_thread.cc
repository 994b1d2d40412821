#include "bridge/attached_thread.h"

#include <memory>

#if defined(_WIN32)
#include "platform/module.h"
#endif

// Exported by the Java VM's library. On ELF the Java launcher loads it with
// its symbols visible to the libraries the VM loads, and the reference is
// weak, so a program that has no VM (a test, a tool) links and simply finds
// none. A DLL cannot leave it unresolved, and importing it would tie
// dactyra.dll to jvm.dll's place on the search path: it is looked up in the
// VM's library the process has loaded already (or in the program itself,
// for a test that stands in for the VM).
#if defined(__ELF__)
extern "C" JNIIMPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM**, jsize, jsize*)
    __attribute__((weak));
#endif

namespace dactyra {
namespace {

using GetCreatedJavaVMs = jint(JNICALL*)(JavaVM**, jsize, jsize*);

GetCreatedJavaVMs FindGetCreatedJavaVMs() {
#if defined(__ELF__)
  return JNI_GetCreatedJavaVMs;
#elif defined(_WIN32)
  static const auto found = reinterpret_cast<GetCreatedJavaVMs>(
      platform::LoadedSymbol(u"jvm.dll", "JNI_GetCreatedJavaVMs"));
  return found;
#else
  return JNI_GetCreatedJavaVMs;
#endif
}

}  // namespace

bool RunAttached(std::span<const jobject> handedOver,
                 const std::function<void(TJNIEnv&)>& work) noexcept {
  const GetCreatedJavaVMs get_vms = FindGetCreatedJavaVMs();
  if (get_vms == nullptr) return false;
  JavaVM* vm = nullptr;
  jsize count = 0;
  if (get_vms(&vm, 1, &count) != JNI_OK || count < 1 || vm == nullptr) {
    return false;
  }
  JNIEnv* raw = nullptr;
  bool attachedHere = false;
  if (vm->GetEnv(reinterpret_cast<void**>(&raw), JNI_VERSION_1_6) != JNI_OK) {
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&raw), nullptr) != JNI_OK ||
        raw == nullptr) {
      return false;
    }
    attachedHere = true;
  }
  bool completed = false;
  {
    std::unique_ptr<TJNIEnv> env;
    try {
      env = std::make_unique<TJNIEnv>(raw);
      work(*env);
      completed = true;
    } catch (...) {
      // Dropped: nobody on this thread could receive it.
    }
    if (raw->ExceptionCheck()) raw->ExceptionClear();
    for (jobject ref : handedOver) {
      if (ref != nullptr) raw->DeleteGlobalRef(ref);
    }
  }
  if (attachedHere) vm->DetachCurrentThread();
  return completed;
}

}  // namespace dactyra
