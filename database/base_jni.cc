// Native methods of br.com.tessiva.base.FingerprintBase: a fingerprint
// database opened on a file, enrolling, identifying and verifying NImage
// pictures. They take no library lock: the database serialises itself, and
// each call holds its own reference to it, so a close on another thread
// never pulls it from under a running call.
//
// What Java sees: failures of the database (a refused file, images that
// give no template or do not agree, a bad code or finger) as
// FingerprintBaseException with the database's message; a handle that was
// closed as IllegalStateException; a missing field or class as JNI's own
// error.
#include <jni.h>

#include <cstring>
#include <limits>
#include <vector>

#include "bridge/byte_array_elements.h"
#include "bridge/entry_frames.h"
#include "bridge/java_object_access.h"
#include "bridge/jni_error.h"
#include "bridge/local_ref.h"
#include "database/open_bases.h"
#include "templates/vx_extract_dll.h"

namespace dactyra::database {
namespace {

using platform::Text;

constexpr char16_t kBaseException[] = u"br/com/tessiva/base/FingerprintBaseException";
constexpr char16_t kIllegalState[] = u"java/lang/IllegalStateException";
constexpr char16_t kMatchClass[] = u"br/com/tessiva/base/FingerprintBase$Match";
constexpr char16_t kEntryClass[] = u"br/com/tessiva/base/FingerprintBase$Entry";
constexpr char16_t kThresholdsClass[] = u"br/com/tessiva/base/FingerprintBase$Thresholds";

// The body in the plain frame, with a closed handle and an engine that
// cannot be loaded told apart from the database's own failures.
template <typename Body>
auto BaseFrame(JNIEnv* raw, Body&& body) {
  return PlainFrame(raw, kBaseException, [&](TJNIEnv& env) -> frame_detail::Result<Body> {
    try {
      return body(env);
    } catch (const EBaseClosed& e) {
      ReportToJava(env, kIllegalState, e.message());
    } catch (const templates::EVxExtractLoad& e) {
      ReportToJava(env, kBaseException,
                   u"Could not load VxExtractor library - " +
                       templates::TVxExtractor::Instance().EnginePath() + u": " + e.message());
    }
    return frame_detail::Neutral<frame_detail::Result<Body>>();
  });
}

Text TextOf(TJNIEnv& env, jstring s) {
  if (s == nullptr) throw EDatabase(u"No code");
  return env.JStringToString(s);
}

// The picture of an NImage as a gray image.
GrayImagePtr ImageOf(TJNIEnv& env, jobject image) {
  if (image == nullptr) throw EDatabase(u"No image");
  TAcessoJNI picture(env, image);
  const jint width = picture.GetCampoInt(u"width");
  const jint height = picture.GetCampoInt(u"height");
  TLocalRef<jbyteArray> buffer(env,
                               static_cast<jbyteArray>(picture.PegCampoObjeto(u"buffer", u"[B")));
  if (width <= 0 || height <= 0 || !buffer) {
    throw EDatabase(u"An image of " + platform::FromUtf8(std::to_string(width)) + u" × " +
                    platform::FromUtf8(std::to_string(height)) + u" pixels has no fingerprint");
  }
  const TByteArrayElements pixels(env, buffer.get());
  const uint64_t needed = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (pixels.bytes().size() < needed) throw EDatabase(u"Image buffer shorter than width × height");
  GrayImagePtr gray = CreateGrayImage(width, height, 500);
  std::memcpy(gray->Bits.Pixels().data(), pixels.bytes().data(), static_cast<size_t>(needed));
  return gray;
}

jobject NewOf(TJNIEnv& env, platform::TextView classPath, platform::TextView signature,
              TJNIArgs args) {
  TLocalRef<jclass> cls(env, env.FindClass(classPath));
  if (!cls) throw EJNIError(Text(u"Class '") + Text(classPath) + u"' not found");
  jmethodID constructor = env.GetMethodID(cls.get(), u"<init>", signature);
  if (constructor == nullptr)
    throw EJNIError(Text(u"Constructor of '") + Text(classPath) + u"' not found");
  jobject made = env.NewObject(cls.get(), constructor, args);
  if (made == nullptr) throw EJNIError(u"Java object not created");
  return made;
}

// Calls `consumer.accept(value)`.
class TConsumer {
 public:
  TConsumer(TJNIEnv& env, jobject consumer) : env_(env), consumer_(consumer) {
    if (consumer == nullptr) throw EDatabase(u"No consumer");
    TLocalRef<jclass> cls(env, env.GetObjectClass(consumer));
    accept_ = env.GetMethodID(cls.get(), u"accept", u"(Ljava/lang/Object;)V");
    if (accept_ == nullptr) throw EJNIError(u"Method 'accept' not found");
  }
  void Accept(TJNIArg value) { env_.CallVoidMethod(consumer_, accept_, {value}); }

 private:
  TJNIEnv& env_;
  jobject consumer_;
  jmethodID accept_ = nullptr;
};

}  // namespace
}  // namespace dactyra::database

using namespace dactyra;
using namespace dactyra::database;

extern "C" {

JNIEXPORT jlong JNICALL Java_br_com_tessiva_base_FingerprintBase_innerOpen(JNIEnv* raw, jclass,
                                                                           jstring path,
                                                                           jboolean create) {
  return BaseFrame(raw, [&](TJNIEnv& env) -> jlong {
    if (path == nullptr) throw EDatabase(u"No file");
    auto base = std::make_shared<TFingerprintDatabase>(
        platform::Env::Default(), ProcessTemplateMaker(), env.JStringToString(path), create != 0);
    return TOpenBases::Instance().Add(std::move(base));
  });
}

JNIEXPORT void JNICALL Java_br_com_tessiva_base_FingerprintBase_innerClose(JNIEnv* raw, jclass,
                                                                           jlong handle) {
  BaseFrame(raw, [&](TJNIEnv&) { TOpenBases::Instance().Close(handle); });
}

JNIEXPORT jint JNICALL Java_br_com_tessiva_base_FingerprintBase_innerEnroll(
    JNIEnv* raw, jclass, jlong handle, jstring code, jint finger, jobjectArray images) {
  return BaseFrame(raw, [&](TJNIEnv& env) -> jint {
    const auto base = TOpenBases::Instance().Get(handle);
    if (images == nullptr) throw EDatabase(u"No images");
    const jsize count = env.GetArrayLength(images);
    if (count < 1 || static_cast<size_t>(count) > TFingerprintDatabase::kMaxEnrollmentImages) {
      throw EDatabase(u"An enrollment takes 1 to 10 images, not " +
                      platform::FromUtf8(std::to_string(count)));
    }
    std::vector<GrayImagePtr> owned;
    std::vector<const TGrayImage*> pictures;
    for (jsize i = 0; i < count; ++i) {
      TLocalRef<> image(env, env.GetObjectArrayElement(images, i));
      owned.push_back(ImageOf(env, image.get()));
      pictures.push_back(owned.back().get());
    }
    return base->Enroll(TextOf(env, code), finger, pictures);
  });
}

JNIEXPORT jobject JNICALL Java_br_com_tessiva_base_FingerprintBase_innerIdentify(JNIEnv* raw,
                                                                                 jclass,
                                                                                 jlong handle,
                                                                                 jobject image) {
  return BaseFrame(raw, [&](TJNIEnv& env) -> jobject {
    const auto base = TOpenBases::Instance().Get(handle);
    const GrayImagePtr picture = ImageOf(env, image);
    const std::optional<Match> found = base->Identify(*picture);
    if (!found) return nullptr;
    return NewOf(env, kMatchClass, u"(ILjava/lang/String;II)V",
                 {found->id, found->codigo, found->indDedo, found->score});
  });
}

JNIEXPORT jint JNICALL Java_br_com_tessiva_base_FingerprintBase_innerVerify(JNIEnv* raw, jclass,
                                                                            jlong handle,
                                                                            jstring code,
                                                                            jobject image) {
  return BaseFrame(raw, [&](TJNIEnv& env) -> jint {
    const auto base = TOpenBases::Instance().Get(handle);
    const Text codigo = TextOf(env, code);
    const GrayImagePtr picture = ImageOf(env, image);
    return base->Verify(*picture, codigo).score;
  });
}

JNIEXPORT jint JNICALL Java_br_com_tessiva_base_FingerprintBase_innerRemove(JNIEnv* raw, jclass,
                                                                            jlong handle,
                                                                            jstring code) {
  return BaseFrame(raw, [&](TJNIEnv& env) -> jint {
    const auto base = TOpenBases::Instance().Get(handle);
    return base->ExcluirImpressoesCodigo(TextOf(env, code));
  });
}

JNIEXPORT void JNICALL Java_br_com_tessiva_base_FingerprintBase_innerCodes(JNIEnv* raw, jclass,
                                                                           jlong handle,
                                                                           jobject out) {
  BaseFrame(raw, [&](TJNIEnv& env) {
    const auto base = TOpenBases::Instance().Get(handle);
    TConsumer consumer(env, out);
    for (const Text& code : base->Codes()) consumer.Accept(code);
  });
}

JNIEXPORT void JNICALL Java_br_com_tessiva_base_FingerprintBase_innerEntries(JNIEnv* raw, jclass,
                                                                             jlong handle,
                                                                             jobject out) {
  BaseFrame(raw, [&](TJNIEnv& env) {
    const auto base = TOpenBases::Instance().Get(handle);
    TConsumer consumer(env, out);
    for (const EntryInfo& e : base->Entries()) {
      TLocalRef<> entry(env, NewOf(env, kEntryClass, u"(ILjava/lang/String;IDDI)V",
                                   {e.id, e.codigo, e.indDedo, e.dataCadastro,
                                    e.dataUltimoReconhecimento, e.numReconhecimentos}));
      consumer.Accept(entry.get());
    }
  });
}

JNIEXPORT jobject JNICALL Java_br_com_tessiva_base_FingerprintBase_innerThresholds(JNIEnv* raw,
                                                                                   jclass,
                                                                                   jlong handle) {
  return BaseFrame(raw, [&](TJNIEnv& env) -> jobject {
    const Thresholds t = TOpenBases::Instance().Get(handle)->thresholds();
    return NewOf(env, kThresholdsClass, u"(III)V", {t.limiar1paraN, t.limiar1para1, t.limiarUniao});
  });
}

JNIEXPORT void JNICALL Java_br_com_tessiva_base_FingerprintBase_innerCompact(JNIEnv* raw, jclass,
                                                                             jlong handle) {
  BaseFrame(raw, [&](TJNIEnv&) { TOpenBases::Instance().Get(handle)->CompactarBase(); });
}

}  // extern "C"
