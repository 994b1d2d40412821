// Native methods of br.com.tessiva.fingers.NFExtractor: a configuration
// record from the extraction engine, and a template record from an image.
// Both hold ExtractorLock for their whole body.
//
// What Java sees:
//   innerCreateExtractor: the handle; when the engine cannot be loaded,
//     java.lang.Exception "Could not load VxExtractor library - " + the
//     path tried last, and 0 (the next call tries again).
//   innerExtract: the template record; null when the engine finds no
//     template in the image. A null argument raises NullPointerException;
//     a handle this library never gave out, sizes that are not positive or
//     a buffer shorter than width × height raise IllegalArgumentException
//     and reach nothing of the engine; an engine without ExtractMinutiae,
//     or one that breaks its record contract, raises IllegalStateException.
//     A missing field leaves JNI's NoSuchFieldError pending.
#include <jni.h>

#include "bridge/byte_array_elements.h"
#include "bridge/entry_frames.h"
#include "bridge/java_object_access.h"
#include "bridge/local_ref.h"
#include "templates/extractor.h"
#include "templates/extractor_lock.h"

namespace dactyra::templates {
namespace {

constexpr char16_t kNullPointer[] = u"java/lang/NullPointerException";
constexpr char16_t kIllegalArgument[] = u"java/lang/IllegalArgumentException";
constexpr char16_t kIllegalState[] = u"java/lang/IllegalStateException";
constexpr char16_t kCouldNotLoad[] = u"Could not load VxExtractor library - ";

jlong CreateExtractor(TJNIEnv& env) {
  TVxExtractor& extractor = TVxExtractor::Instance();
  try {
    return static_cast<jlong>(extractor.CreateExtractor());
  } catch (const EVxExtractLoad&) {
    ReportToJava(env, kJavaException, kCouldNotLoad + extractor.EnginePath());
    return 0;
  }
}

jbyteArray Extract(TJNIEnv& env, jobject self, jobject image, jobject position,
                   jobject impression) {
  const jint position_ordinal = OrdinalEnum(env, position);
  const jint impression_ordinal = OrdinalEnum(env, impression);
  const auto handle = static_cast<uint64_t>(TAcessoJNI(env, self).GetCampoLong(u"handle"));

  TAcessoJNI picture(env, image);
  const jint width = picture.GetCampoInt(u"width");
  const jint height = picture.GetCampoInt(u"height");
  TLocalRef<jbyteArray> buffer(env,
                               static_cast<jbyteArray>(picture.PegCampoObjeto(u"buffer", u"[B")));
  if (!buffer) throw EBadExtractorArgument(u"The image has no buffer");

  TVxExtractor& extractor = TVxExtractor::Instance();
  // Before the pixels are taken: a bad call reaches neither the log nor
  // the engine.
  extractor.CheckExtractArguments(handle, static_cast<size_t>(env.GetArrayLength(buffer.get())),
                                  width, height);

  std::optional<std::vector<uint8_t>> record;
  {
    // Released without copying back, on every path.
    const TByteArrayElements pixels(env, buffer.get());
    record = extractor.Extract(handle, pixels.bytes(), width, height, position_ordinal,
                               impression_ordinal);
  }
  if (!record) return nullptr;
  return NovoArrayBytes(env, record->data(), static_cast<jsize>(record->size()));
}

}  // namespace
}  // namespace dactyra::templates

using namespace dactyra;
using namespace dactyra::templates;

extern "C" JNIEXPORT jlong JNICALL
Java_br_com_tessiva_fingers_NFExtractor_innerCreateExtractor(JNIEnv* raw, jobject) {
  return LockedFrame(raw, ExtractorLock(), kJavaException,
                     [&](TJNIEnv& env) { return CreateExtractor(env); });
}

extern "C" JNIEXPORT jbyteArray JNICALL Java_br_com_tessiva_fingers_NFExtractor_innerExtract(
    JNIEnv* raw, jobject self, jobject image, jobject position, jobject impression) {
  return LockedFrame(raw, ExtractorLock(), kJavaException, [&](TJNIEnv& env) -> jbyteArray {
    const char16_t* missing = image == nullptr        ? u"image"
                              : position == nullptr   ? u"position"
                              : impression == nullptr ? u"impression type"
                                                      : nullptr;
    if (missing != nullptr) {
      ReportToJava(env, kNullPointer, platform::Text(missing) + u" is null");
      return nullptr;
    }
    try {
      return Extract(env, self, image, position, impression);
    } catch (const EBadExtractorArgument& e) {
      ReportToJava(env, kIllegalArgument, e.message());
    } catch (const ENoExtractMinutiae& e) {
      ReportToJava(env, kIllegalState, e.message());
    } catch (const EEngineContract& e) {
      ReportToJava(env, kIllegalState, e.message());
    }
    // Anything else (a JNI failure, memory) is reported by the frame.
    return nullptr;
  });
}
