// The bytes of a Java byte[] for the length of a scope.
#pragma once

#include <jni.h>

#include <cstdint>
#include <span>

#include "bridge/jni_env.h"

namespace dactyra {

// Gets the elements on construction and releases them on destruction, on the
// failure path too. Read-only access releases without copying back, so a
// concurrent change made by Java to the array is never overwritten with the
// bytes read here.
class TByteArrayElements {
 public:
  enum class Access { kReadOnly, kReadWrite };

  TByteArrayElements(TJNIEnv& env, jbyteArray array, Access access = Access::kReadOnly)
      : env_(env), array_(array), access_(access) {
    length_ = env_.GetArrayLength(array_);
    elements_ = env_.GetByteArrayElements(array_);
    if (elements_ == nullptr) throw EJNIError(u"Could not get the bytes of a Java array");
  }
  ~TByteArrayElements() {
    env_.ReleaseByteArrayElements(array_, elements_, access_ == Access::kReadOnly ? JNI_ABORT : 0);
  }
  TByteArrayElements(const TByteArrayElements&) = delete;
  TByteArrayElements& operator=(const TByteArrayElements&) = delete;

  std::span<const uint8_t> bytes() const {
    return {reinterpret_cast<const uint8_t*>(elements_), static_cast<size_t>(length_)};
  }
  std::span<uint8_t> writable() {
    return {reinterpret_cast<uint8_t*>(elements_), static_cast<size_t>(length_)};
  }

 private:
  TJNIEnv& env_;
  jbyteArray array_;
  Access access_;
  jsize length_ = 0;
  jbyte* elements_ = nullptr;
};

}  // namespace dactyra
