#include "bridge/tests/fake_jni.h"

#include <cstring>

namespace dactyra::testing {

thread_local FakeJni* FakeJni::current = nullptr;

namespace {

uintptr_t Id(const void* p) { return reinterpret_cast<uintptr_t>(p); }

}  // namespace

struct FakeJniFunctions {
  static FakeJni& F() { return *FakeJni::current; }
  // A JNI call that must not run with an exception pending.
  static FakeJni& Enter(const std::string& line) {
    FakeJni& f = F();
    if (f.pending) ++f.violations;
    f.log.push_back(line);
    return f;
  }
  static FakeJni& EnterSafe(const std::string& line) {
    F().log.push_back(line);
    return F();
  }
  static uintptr_t Lookup(FakeJni& f, const std::map<std::string, uintptr_t>& map,
                          const std::string& key) {
    auto it = map.find(key);
    if (it == map.end()) {
      f.pending = true;
      return 0;
    }
    return it->second;
  }
  static void RecordArgs(FakeJni& f, const jvalue* args, size_t count) {
    f.argPointers.push_back(args);
    f.argValues.emplace_back(args, args + (args ? count : 0));
  }
  // The argument count of a method signature "(...)R", enough for the
  // signatures the tests use (primitive letters and L...; forms).
  static size_t CountArgs(uintptr_t method, FakeJni& f) {
    for (const auto& [key, id] : f.methods) {
      if (id != method) continue;
      size_t open = key.find('('), close = key.find(')');
      size_t n = 0;
      for (size_t i = open + 1; i < close; ++i) {
        if (key[i] == '[') continue;
        if (key[i] == 'L') i = key.find(';', i);
        ++n;
      }
      return n;
    }
    return 0;
  }

  static jclass JNICALL FindClass(JNIEnv*, const char* name) {
    FakeJni& f = Enter(std::string("FindClass ") + name);
    return reinterpret_cast<jclass>(Lookup(f, f.classes, name));
  }
  static jclass JNICALL GetObjectClass(JNIEnv*, jobject o) {
    FakeJni& f = Enter("GetObjectClass " + std::to_string(Id(o)));
    auto it = f.objectClass.find(Id(o));
    return reinterpret_cast<jclass>(it == f.objectClass.end() ? 0 : it->second);
  }
  static jmethodID JNICALL GetMethodID(JNIEnv*, jclass c, const char* name, const char* sig) {
    FakeJni& f = Enter("GetMethodID " + std::to_string(Id(c)) + " " + name + " " + sig);
    return reinterpret_cast<jmethodID>(Lookup(f, f.methods, std::string(name) + " " + sig));
  }
  static jfieldID JNICALL GetFieldID(JNIEnv*, jclass c, const char* name, const char* sig) {
    FakeJni& f = Enter("GetFieldID " + std::to_string(Id(c)) + " " + name + " " + sig);
    return reinterpret_cast<jfieldID>(Lookup(f, f.fields, std::string(name) + " " + sig));
  }
  static jfieldID JNICALL GetStaticFieldID(JNIEnv*, jclass c, const char* name, const char* sig) {
    FakeJni& f = Enter("GetStaticFieldID " + std::to_string(Id(c)) + " " + name + " " + sig);
    return reinterpret_cast<jfieldID>(Lookup(f, f.fields, std::string(name) + " " + sig));
  }
  static jint JNICALL GetIntField(JNIEnv*, jobject o, jfieldID id) {
    FakeJni& f = Enter("GetIntField " + std::to_string(Id(o)) + " " + std::to_string(Id(id)));
    return f.intFields[Id(id)];
  }
  static void JNICALL SetIntField(JNIEnv*, jobject o, jfieldID id, jint v) {
    FakeJni& f = Enter("SetIntField " + std::to_string(Id(o)) + " " + std::to_string(Id(id)) + " " +
                       std::to_string(v));
    f.intFields[Id(id)] = v;
  }
  static jobject JNICALL GetObjectField(JNIEnv*, jobject o, jfieldID id) {
    FakeJni& f = Enter("GetObjectField " + std::to_string(Id(o)) + " " + std::to_string(Id(id)));
    return f.objectFields[Id(id)];
  }
  static jobject JNICALL GetStaticObjectField(JNIEnv*, jclass c, jfieldID id) {
    FakeJni& f =
        Enter("GetStaticObjectField " + std::to_string(Id(c)) + " " + std::to_string(Id(id)));
    return f.objectFields[Id(id)];
  }
  static void JNICALL SetObjectField(JNIEnv*, jobject o, jfieldID id, jobject v) {
    FakeJni& f = Enter("SetObjectField " + std::to_string(Id(o)) + " " + std::to_string(Id(id)) +
                       " " + std::to_string(Id(v)));
    f.objectFields[Id(id)] = v;
  }
  static void Call(FakeJni& f, jmethodID m, const jvalue* args) {
    RecordArgs(f, args, CountArgs(Id(m), f));
    if (f.callThrows) f.pending = true;
  }
  static void JNICALL CallVoidMethodA(JNIEnv*, jobject o, jmethodID m, const jvalue* args) {
    FakeJni& f = Enter("CallVoidMethodA " + std::to_string(Id(o)) + " " + std::to_string(Id(m)));
    Call(f, m, args);
  }
  static jint JNICALL CallIntMethodA(JNIEnv*, jobject o, jmethodID m, const jvalue* args) {
    FakeJni& f = Enter("CallIntMethodA " + std::to_string(Id(o)) + " " + std::to_string(Id(m)));
    Call(f, m, args);
    return f.callIntResult;
  }
  static jobject JNICALL CallObjectMethodA(JNIEnv*, jobject o, jmethodID m, const jvalue* args) {
    FakeJni& f = Enter("CallObjectMethodA " + std::to_string(Id(o)) + " " + std::to_string(Id(m)));
    Call(f, m, args);
    return f.callObjectResult;
  }
  static jobject JNICALL NewObjectA(JNIEnv*, jclass c, jmethodID m, const jvalue* args) {
    FakeJni& f = Enter("NewObjectA " + std::to_string(Id(c)) + " " + std::to_string(Id(m)));
    Call(f, m, args);
    return f.callThrows ? nullptr : f.callObjectResult;
  }
  static jstring JNICALL NewStringUTF(JNIEnv*, const char* s) {
    FakeJni& f = Enter("NewStringUTF");
    uintptr_t id = f.next_++;
    f.utfStrings[id] = s;
    return reinterpret_cast<jstring>(id);
  }
  static jstring JNICALL NewString(JNIEnv*, const jchar* s, jsize n) {
    FakeJni& f = Enter("NewString");
    uintptr_t id = f.next_++;
    f.utf16Strings[id] = std::u16string(reinterpret_cast<const char16_t*>(s), n);
    return reinterpret_cast<jstring>(id);
  }
  static const char* JNICALL GetStringUTFChars(JNIEnv*, jstring s, jboolean*) {
    FakeJni& f = Enter("GetStringUTFChars");
    auto it = f.utfStrings.find(Id(s));
    return it == f.utfStrings.end() ? nullptr : it->second.c_str();
  }
  static void JNICALL ReleaseStringUTFChars(JNIEnv*, jstring, const char*) {
    EnterSafe("ReleaseStringUTFChars");
  }
  static void JNICALL DeleteLocalRef(JNIEnv*, jobject o) {
    FakeJni& f = EnterSafe("DeleteLocalRef " + std::to_string(Id(o)));
    f.deletedLocal.push_back(Id(o));
  }
  static void JNICALL DeleteGlobalRef(JNIEnv*, jobject o) {
    FakeJni& f = EnterSafe("DeleteGlobalRef " + std::to_string(Id(o)));
    f.deletedGlobal.push_back(Id(o));
  }
  static jint JNICALL MonitorEnter(JNIEnv*, jobject o) {
    return Enter("MonitorEnter " + std::to_string(Id(o))).monitorEnterResult;
  }
  static jint JNICALL MonitorExit(JNIEnv*, jobject o) {
    FakeJni& f = EnterSafe("MonitorExit " + std::to_string(Id(o)));
    if (f.onMonitorExit) f.onMonitorExit();
    return 0;
  }
  static jint JNICALL ThrowNew(JNIEnv*, jclass c, const char* msg) {
    FakeJni& f = Enter("ThrowNew " + std::to_string(Id(c)) + " " + msg);
    f.pending = true;
    return 0;
  }
  static jboolean JNICALL ExceptionCheck(JNIEnv*) {
    return EnterSafe("ExceptionCheck").pending ? JNI_TRUE : JNI_FALSE;
  }
  static void JNICALL ExceptionClear(JNIEnv*) { EnterSafe("ExceptionClear").pending = false; }
  static void JNICALL ExceptionDescribe(JNIEnv*) { EnterSafe("ExceptionDescribe").pending = false; }
  static jbyteArray JNICALL NewByteArray(JNIEnv*, jsize n) {
    FakeJni& f = Enter("NewByteArray " + std::to_string(n));
    return reinterpret_cast<jbyteArray>(f.next_++);
  }
  static jsize JNICALL GetArrayLength(JNIEnv*, jarray a) {
    FakeJni& f = Enter("GetArrayLength " + std::to_string(Id(a)));
    return static_cast<jsize>(f.byteArrays[Id(a)].size());
  }
  static jbyte* JNICALL GetByteArrayElements(JNIEnv*, jbyteArray a, jboolean* isCopy) {
    FakeJni& f = Enter("GetByteArrayElements " + std::to_string(Id(a)));
    if (isCopy) *isCopy = JNI_FALSE;
    return f.byteArrays[Id(a)].data();
  }
  static void JNICALL ReleaseByteArrayElements(JNIEnv*, jbyteArray a, jbyte*, jint mode) {
    EnterSafe("ReleaseByteArrayElements " + std::to_string(Id(a)) + " " +
              (mode == JNI_ABORT ? "abort" : std::to_string(mode)));
  }
  static void JNICALL SetByteArrayRegion(JNIEnv*, jbyteArray a, jsize start, jsize n, const jbyte*) {
    Enter("SetByteArrayRegion " + std::to_string(Id(a)) + " " + std::to_string(start) + " " +
          std::to_string(n));
  }
};

FakeJni::FakeJni() {
  using F = FakeJniFunctions;
  table_.FindClass = F::FindClass;
  table_.GetObjectClass = F::GetObjectClass;
  table_.GetMethodID = F::GetMethodID;
  table_.GetFieldID = F::GetFieldID;
  table_.GetStaticFieldID = F::GetStaticFieldID;
  table_.GetIntField = F::GetIntField;
  table_.SetIntField = F::SetIntField;
  table_.GetObjectField = F::GetObjectField;
  table_.GetStaticObjectField = F::GetStaticObjectField;
  table_.SetObjectField = F::SetObjectField;
  table_.CallVoidMethodA = F::CallVoidMethodA;
  table_.CallIntMethodA = F::CallIntMethodA;
  table_.CallObjectMethodA = F::CallObjectMethodA;
  table_.NewObjectA = F::NewObjectA;
  table_.NewStringUTF = F::NewStringUTF;
  table_.NewString = F::NewString;
  table_.GetStringUTFChars = F::GetStringUTFChars;
  table_.ReleaseStringUTFChars = F::ReleaseStringUTFChars;
  table_.DeleteLocalRef = F::DeleteLocalRef;
  table_.DeleteGlobalRef = F::DeleteGlobalRef;
  table_.MonitorEnter = F::MonitorEnter;
  table_.MonitorExit = F::MonitorExit;
  table_.ThrowNew = F::ThrowNew;
  table_.ExceptionCheck = F::ExceptionCheck;
  table_.ExceptionClear = F::ExceptionClear;
  table_.ExceptionDescribe = F::ExceptionDescribe;
  table_.NewByteArray = F::NewByteArray;
  table_.SetByteArrayRegion = F::SetByteArrayRegion;
  table_.GetArrayLength = F::GetArrayLength;
  table_.GetByteArrayElements = F::GetByteArrayElements;
  table_.ReleaseByteArrayElements = F::ReleaseByteArrayElements;
  env_.functions = &table_;
  current = this;
}

FakeJni::~FakeJni() { current = nullptr; }

jstring FakeJni::NewUtfString(const std::string& mutf8) {
  uintptr_t id = next_++;
  utfStrings[id] = mutf8;
  return reinterpret_cast<jstring>(id);
}

size_t FakeJni::CountLog(const std::string& prefix) const {
  size_t n = 0;
  for (const auto& line : log) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

}  // namespace dactyra::testing
