// TJNIEnv: the JNI environment of one call (or of one attached library
// thread), with every text that crosses in modified UTF-8 and arguments given
// as tagged values.
//
// Lookups (FindClass, Get*ID) return what JNI returns: null when not found,
// with JNI's error left pending, so that the caller decides. Every operation
// that can make Java raise an exception (calls, allocations, array access,
// ThrowNew) checks for one afterwards and throws EJavaException, so no JNI
// function is ever called with an exception pending.
#pragma once

#include <jni.h>

#include <cstddef>
#include <memory>

#include "bridge/jni_arg.h"
#include "bridge/jni_error.h"
#include "platform/text.h"

namespace dactyra {

class TJNIEnv {
 public:
  explicit TJNIEnv(JNIEnv* env) : FEnv(env) {}
  TJNIEnv(const TJNIEnv&) = delete;
  TJNIEnv& operator=(const TJNIEnv&) = delete;

  JNIEnv* raw() const { return FEnv; }

  jclass FindClass(platform::TextView classPath);
  jclass GetObjectClass(jobject object);
  jmethodID GetMethodID(jclass cls, platform::TextView name, platform::TextView signature);
  jmethodID GetStaticMethodID(jclass cls, platform::TextView name, platform::TextView signature);
  jfieldID GetFieldID(jclass cls, platform::TextView name, platform::TextView signature);
  jfieldID GetStaticFieldID(jclass cls, platform::TextView name, platform::TextView signature);

  jint GetIntField(jobject object, jfieldID field);
  jlong GetLongField(jobject object, jfieldID field);
  jobject GetObjectField(jobject object, jfieldID field);
  jobject GetStaticObjectField(jclass cls, jfieldID field);
  void SetIntField(jobject object, jfieldID field, jint value);
  void SetObjectField(jobject object, jfieldID field, jobject value);

  void CallVoidMethod(jobject object, jmethodID method, TJNIArgs args = {});
  jint CallIntMethod(jobject object, jmethodID method, TJNIArgs args = {});
  jobject CallObjectMethod(jobject object, jmethodID method, TJNIArgs args = {});
  jobject CallStaticObjectMethod(jclass cls, jmethodID method, TJNIArgs args = {});
  jobject NewObject(jclass cls, jmethodID constructor, TJNIArgs args = {});

  jbyteArray NewByteArray(jsize length);
  void GetByteArrayRegion(jbyteArray array, jsize start, jsize length, void* buffer);
  jintArray NewIntArray(jsize length);
  void SetIntArrayRegion(jintArray array, jsize start, jsize length, const jint* values);
  void SetByteArrayRegion(jbyteArray array, jsize start, const void* buffer, jsize length);
  jbyte* GetByteArrayElements(jbyteArray array, jboolean* isCopy = nullptr);
  void ReleaseByteArrayElements(jbyteArray array, jbyte* elements, jint mode);
  jsize GetArrayLength(jarray array);
  jobject GetObjectArrayElement(jobjectArray array, jsize index);

  jobject NewGlobalRef(jobject object);
  void DeleteGlobalRef(jobject object);
  void DeleteLocalRef(jobject object);

  // 0 means success, as in JNI.
  jint MonitorEnter(jobject object);
  jint MonitorExit(jobject object);

  // Raises `cls` with `message`; a Java exception is pending afterwards.
  jint ThrowNew(jclass cls, platform::TextView message);
  void ExceptionDescribe();
  bool ExceptionCheck();
  void ExceptionClear();

  jstring StringToJString(platform::TextView text);
  // Empty for a null reference or when the characters cannot be obtained.
  platform::Text JStringToString(jstring string);

  // The scratch array of converted arguments, for inspection.
  const jvalue* ScratchArgs() const { return FConvertedArgs.get(); }
  size_t ScratchSize() const { return FConvertedCount; }

 private:
  // Converts `args` into the scratch array (null for none). Strings created
  // for text arguments are recorded in `created` so they can be freed after
  // the call.
  class ConvertedArgs;
  const jvalue* Convert(TJNIArgs args, ConvertedArgs& created);
  // Runs `call` on the converted arguments, frees the strings made for
  // them, and raises a Java exception the call left pending.
  template <typename Call>
  auto CallWithArgs(TJNIArgs args, Call call);
  void ThrowIfPending();

  JNIEnv* FEnv;
  // Sized exactly to the argument count and reallocated only when the count
  // changes from one call to the next.
  std::unique_ptr<jvalue[]> FConvertedArgs;
  size_t FConvertedCount = 0;
};

}  // namespace dactyra
