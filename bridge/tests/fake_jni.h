// A JNI environment without a VM, for testing the bridge: every function the
// bridge uses is a recorder with scripted results. It also checks the first
// rule of JNI on every call: no function but the exception and release ones
// may run while an exception is pending.
#pragma once

#include <jni.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace dactyra::testing {

class FakeJni {
 public:
  FakeJni();
  ~FakeJni();
  FakeJni(const FakeJni&) = delete;
  FakeJni& operator=(const FakeJni&) = delete;

  JNIEnv* env() { return &env_; }

  // Handles are small integers cast to references; 0 is null.
  static jobject Handle(uintptr_t n) { return reinterpret_cast<jobject>(n); }

  // Scripted lookups, keyed "name signature". A key that is absent fails
  // the lookup with a pending error.
  std::map<std::string, uintptr_t> classes;  // FindClass by path
  std::map<std::string, uintptr_t> methods;
  std::map<std::string, uintptr_t> fields;
  std::map<uintptr_t, uintptr_t> objectClass;  // GetObjectClass
  std::map<uintptr_t, jint> intFields;         // by field id
  std::map<uintptr_t, jobject> objectFields;   // by field id

  // Results of calls.
  jint monitorEnterResult = 0;
  bool callThrows = false;
  jobject callObjectResult = nullptr;
  jint callIntResult = 0;
  // Runs inside MonitorExit, to look at the state the frame left.
  std::function<void()> onMonitorExit;

  // What happened, one line per call: "FindClass br/x/Y", "ThrowNew 7 msg".
  std::vector<std::string> log;
  // Argument arrays as passed to the Call*A and NewObjectA functions.
  std::vector<const jvalue*> argPointers;
  std::vector<std::vector<jvalue>> argValues;
  // Strings made by NewStringUTF (modified UTF-8) and NewString (UTF-16).
  std::map<uintptr_t, std::string> utfStrings;
  std::map<uintptr_t, std::u16string> utf16Strings;
  std::vector<uintptr_t> deletedLocal;
  std::vector<uintptr_t> deletedGlobal;
  bool pending = false;
  int violations = 0;  // JNI calls made while an exception was pending

  // Contents of byte arrays for GetByteArrayElements, by handle.
  std::map<uintptr_t, std::vector<jbyte>> byteArrays;

  // Makes a string that GetStringUTFChars will return.
  jstring NewUtfString(const std::string& mutf8);
  size_t CountLog(const std::string& prefix) const;

  // The fake of the calling thread: each thread may have its own.
  static thread_local FakeJni* current;

 private:
  JNINativeInterface_ table_{};
  JNIEnv env_{};
  uintptr_t next_ = 1000;
  friend struct FakeJniFunctions;
};

}  // namespace dactyra::testing
