#include "bridge/attached_thread.h"

#include <memory>

// Exported by the Java VM's library, which the Java launcher loads with its
// symbols visible to the libraries the VM loads. Weak on ELF, so a program
// that has no VM (a test, a tool) links and simply finds none; a PE build
// imports it from jvm.dll instead.
#if defined(__ELF__)
extern "C" JNIIMPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM**, jsize, jsize*)
    __attribute__((weak));
#define DACTYRA_VM_MAY_BE_ABSENT 1
#endif

namespace dactyra {

bool RunAttached(std::span<const jobject> handedOver,
                 const std::function<void(TJNIEnv&)>& work) noexcept {
#if defined(DACTYRA_VM_MAY_BE_ABSENT)
  if (JNI_GetCreatedJavaVMs == nullptr) return false;
#endif
  JavaVM* vm = nullptr;
  jsize count = 0;
  if (JNI_GetCreatedJavaVMs(&vm, 1, &count) != JNI_OK || count < 1 || vm == nullptr) {
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
