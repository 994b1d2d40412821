// Ownership of one JNI local reference within a scope.
#pragma once

#include <jni.h>

#include <utility>

#include "bridge/jni_env.h"

namespace dactyra {

// Deletes the reference when the scope ends, so a loop that makes
// references does not exhaust the call's local reference table.
template <typename T = jobject>
class TLocalRef {
 public:
  TLocalRef(TJNIEnv& env, T ref) : env_(&env), ref_(ref) {}
  ~TLocalRef() { Reset(); }
  TLocalRef(TLocalRef&& other) noexcept
      : env_(other.env_), ref_(std::exchange(other.ref_, nullptr)) {}
  TLocalRef& operator=(TLocalRef&& other) noexcept {
    if (this != &other) {
      Reset();
      env_ = other.env_;
      ref_ = std::exchange(other.ref_, nullptr);
    }
    return *this;
  }
  TLocalRef(const TLocalRef&) = delete;
  TLocalRef& operator=(const TLocalRef&) = delete;

  T get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }
  // Hands the reference on; this guard no longer deletes it.
  T release() { return std::exchange(ref_, nullptr); }

 private:
  void Reset() {
    if (ref_ != nullptr) env_->DeleteLocalRef(std::exchange(ref_, nullptr));
  }

  TJNIEnv* env_;
  T ref_;
};

}  // namespace dactyra
