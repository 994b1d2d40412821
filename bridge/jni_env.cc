#include "bridge/jni_env.h"

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace dactyra {

namespace {

std::string Mutf8(platform::TextView text) { return platform::ToModifiedUtf8(text); }

}  // namespace

// Java strings made for text arguments: local references of this call that
// nothing else frees, so they go when the call is over (a library thread that
// calls Java in a loop would otherwise pile them up).
class TJNIEnv::ConvertedArgs {
 public:
  explicit ConvertedArgs(JNIEnv* env) : env_(env) {}
  ~ConvertedArgs() {
    for (jobject ref : refs_) env_->DeleteLocalRef(ref);
  }
  ConvertedArgs(const ConvertedArgs&) = delete;
  ConvertedArgs& operator=(const ConvertedArgs&) = delete;
  void Add(jobject ref) { refs_.push_back(ref); }

 private:
  JNIEnv* env_;
  std::vector<jobject> refs_;
};

void TJNIEnv::ThrowIfPending() {
  if (FEnv->ExceptionCheck()) throw EJavaException();
}

const jvalue* TJNIEnv::Convert(TJNIArgs args, ConvertedArgs& created) {
  // Every kind is checked first, so an unsupported one stops the call before
  // anything is made in the VM.
  for (size_t i = 0; i < args.size(); ++i) {
    switch (args[i].kind()) {
      case TJNIArg::Kind::kCardinal:
      case TJNIArg::Kind::kCodePoint:
      case TJNIArg::Kind::kSingle:
        throw EJNIError(u"Unsupported variant argument");
      default:
        break;
    }
  }
  if (args.size() != FConvertedCount) {
    FConvertedArgs = args.empty() ? nullptr : std::make_unique<jvalue[]>(args.size());
    FConvertedCount = args.size();
  }
  if (args.empty()) return nullptr;
  jvalue* out = FConvertedArgs.get();
  for (size_t i = 0; i < args.size(); ++i) {
    const TJNIArg& arg = args[i];
    jvalue& slot = out[i];
    slot.j = 0;
    switch (arg.kind()) {
      case TJNIArg::Kind::kInteger:
        slot.i = arg.integer();
        break;
      case TJNIArg::Kind::kPointer:
      case TJNIArg::Kind::kObject:
        slot.l = arg.object();
        break;
      case TJNIArg::Kind::kBoolean:
        slot.z = arg.boolean() ? JNI_TRUE : JNI_FALSE;
        break;
      case TJNIArg::Kind::kExtended:
        slot.d = static_cast<jdouble>(arg.extended());
        break;
      case TJNIArg::Kind::kChar:
        slot.c = static_cast<jchar>(arg.character());
        break;
      case TJNIArg::Kind::kInt64:
        slot.j = arg.int64();
        break;
      case TJNIArg::Kind::kText8: {
        const std::string bytes = Mutf8(platform::FromAnsi(arg.text8()));
        jstring s = FEnv->NewStringUTF(bytes.c_str());
        ThrowIfPending();
        created.Add(s);
        slot.l = s;
        break;
      }
      case TJNIArg::Kind::kText16: {
        const platform::Text& text = arg.text16();
        jstring s = FEnv->NewString(reinterpret_cast<const jchar*>(text.data()),
                                    static_cast<jsize>(text.size()));
        ThrowIfPending();
        created.Add(s);
        slot.l = s;
        break;
      }
      default:
        throw EJNIError(u"Unsupported variant argument");
    }
  }
  return out;
}

jclass TJNIEnv::FindClass(platform::TextView classPath) {
  return FEnv->FindClass(Mutf8(classPath).c_str());
}

jclass TJNIEnv::GetObjectClass(jobject object) { return FEnv->GetObjectClass(object); }

jmethodID TJNIEnv::GetMethodID(jclass cls, platform::TextView name, platform::TextView signature) {
  return FEnv->GetMethodID(cls, Mutf8(name).c_str(), Mutf8(signature).c_str());
}

jmethodID TJNIEnv::GetStaticMethodID(jclass cls, platform::TextView name,
                                     platform::TextView signature) {
  return FEnv->GetStaticMethodID(cls, Mutf8(name).c_str(), Mutf8(signature).c_str());
}

jfieldID TJNIEnv::GetFieldID(jclass cls, platform::TextView name, platform::TextView signature) {
  return FEnv->GetFieldID(cls, Mutf8(name).c_str(), Mutf8(signature).c_str());
}

jfieldID TJNIEnv::GetStaticFieldID(jclass cls, platform::TextView name,
                                   platform::TextView signature) {
  return FEnv->GetStaticFieldID(cls, Mutf8(name).c_str(), Mutf8(signature).c_str());
}

jint TJNIEnv::GetIntField(jobject object, jfieldID field) {
  return FEnv->GetIntField(object, field);
}

jlong TJNIEnv::GetLongField(jobject object, jfieldID field) {
  return FEnv->GetLongField(object, field);
}

jobject TJNIEnv::GetObjectField(jobject object, jfieldID field) {
  return FEnv->GetObjectField(object, field);
}

jobject TJNIEnv::GetStaticObjectField(jclass cls, jfieldID field) {
  return FEnv->GetStaticObjectField(cls, field);
}

void TJNIEnv::SetIntField(jobject object, jfieldID field, jint value) {
  FEnv->SetIntField(object, field, value);
}

void TJNIEnv::SetObjectField(jobject object, jfieldID field, jobject value) {
  FEnv->SetObjectField(object, field, value);
}

template <typename Call>
auto TJNIEnv::CallWithArgs(TJNIArgs args, Call call) {
  ConvertedArgs created(FEnv);
  const jvalue* values = Convert(args, created);
  if constexpr (std::is_void_v<std::invoke_result_t<Call&, const jvalue*>>) {
    call(values);
    ThrowIfPending();
  } else {
    auto result = call(values);
    ThrowIfPending();
    return result;
  }
}

void TJNIEnv::CallVoidMethod(jobject object, jmethodID method, TJNIArgs args) {
  CallWithArgs(args, [&](const jvalue* v) { FEnv->CallVoidMethodA(object, method, v); });
}

jint TJNIEnv::CallIntMethod(jobject object, jmethodID method, TJNIArgs args) {
  return CallWithArgs(args,
                      [&](const jvalue* v) { return FEnv->CallIntMethodA(object, method, v); });
}

jobject TJNIEnv::CallObjectMethod(jobject object, jmethodID method, TJNIArgs args) {
  return CallWithArgs(args,
                      [&](const jvalue* v) { return FEnv->CallObjectMethodA(object, method, v); });
}

jobject TJNIEnv::CallStaticObjectMethod(jclass cls, jmethodID method, TJNIArgs args) {
  return CallWithArgs(
      args, [&](const jvalue* v) { return FEnv->CallStaticObjectMethodA(cls, method, v); });
}

jobject TJNIEnv::NewObject(jclass cls, jmethodID constructor, TJNIArgs args) {
  return CallWithArgs(args, [&](const jvalue* v) { return FEnv->NewObjectA(cls, constructor, v); });
}

jbyteArray TJNIEnv::NewByteArray(jsize length) {
  jbyteArray result = FEnv->NewByteArray(length);
  ThrowIfPending();
  return result;
}

void TJNIEnv::GetByteArrayRegion(jbyteArray array, jsize start, jsize length, void* buffer) {
  FEnv->GetByteArrayRegion(array, start, length, static_cast<jbyte*>(buffer));
  ThrowIfPending();
}

jintArray TJNIEnv::NewIntArray(jsize length) {
  jintArray result = FEnv->NewIntArray(length);
  ThrowIfPending();
  return result;
}

void TJNIEnv::SetIntArrayRegion(jintArray array, jsize start, jsize length, const jint* values) {
  FEnv->SetIntArrayRegion(array, start, length, values);
  ThrowIfPending();
}

void TJNIEnv::SetByteArrayRegion(jbyteArray array, jsize start, const void* buffer, jsize length) {
  FEnv->SetByteArrayRegion(array, start, length, static_cast<const jbyte*>(buffer));
  ThrowIfPending();
}

jbyte* TJNIEnv::GetByteArrayElements(jbyteArray array, jboolean* isCopy) {
  jbyte* result = FEnv->GetByteArrayElements(array, isCopy);
  ThrowIfPending();
  return result;
}

void TJNIEnv::ReleaseByteArrayElements(jbyteArray array, jbyte* elements, jint mode) {
  FEnv->ReleaseByteArrayElements(array, elements, mode);
}

jsize TJNIEnv::GetArrayLength(jarray array) { return FEnv->GetArrayLength(array); }

jobject TJNIEnv::GetObjectArrayElement(jobjectArray array, jsize index) {
  jobject result = FEnv->GetObjectArrayElement(array, index);
  ThrowIfPending();
  return result;
}

jobject TJNIEnv::NewGlobalRef(jobject object) { return FEnv->NewGlobalRef(object); }

void TJNIEnv::DeleteGlobalRef(jobject object) { FEnv->DeleteGlobalRef(object); }

void TJNIEnv::DeleteLocalRef(jobject object) { FEnv->DeleteLocalRef(object); }

jint TJNIEnv::MonitorEnter(jobject object) { return FEnv->MonitorEnter(object); }

jint TJNIEnv::MonitorExit(jobject object) { return FEnv->MonitorExit(object); }

jint TJNIEnv::ThrowNew(jclass cls, platform::TextView message) {
  return FEnv->ThrowNew(cls, Mutf8(message).c_str());
}

void TJNIEnv::ExceptionDescribe() { FEnv->ExceptionDescribe(); }

bool TJNIEnv::ExceptionCheck() { return FEnv->ExceptionCheck() == JNI_TRUE; }

void TJNIEnv::ExceptionClear() { FEnv->ExceptionClear(); }

jstring TJNIEnv::StringToJString(platform::TextView text) {
  jstring result = FEnv->NewStringUTF(Mutf8(text).c_str());
  ThrowIfPending();
  return result;
}

platform::Text TJNIEnv::JStringToString(jstring string) {
  if (string == nullptr) return {};
  const char* chars = FEnv->GetStringUTFChars(string, nullptr);
  if (chars == nullptr) {
    // Out of memory in the VM: the characters are not there, and neither
    // may any further JNI call be made until the error reaches Java.
    ThrowIfPending();
    return {};
  }
  struct Release {
    JNIEnv* env;
    jstring string;
    const char* chars;
    ~Release() { env->ReleaseStringUTFChars(string, chars); }
  } release{FEnv, string, chars};
  return platform::FromModifiedUtf8(std::string_view(chars, std::strlen(chars)));
}

}  // namespace dactyra
