// The native methods of br.com.tessiva.images.NImage: an 8-bit gray picture
// loaded from and saved as the bytes of a BMP file. Neither keeps state nor
// takes a lock; each works on its own object and on buffers of the call.
//
// The bytes are reached through JNI's critical array access, so that a load
// or a save costs one pass over the pixels and no native buffer: copying the
// arrays in and out (and the allocations that go with it) would cost several
// times the work itself. No JNI function is called while an array is held.
#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "bridge/entry_frames.h"
#include "bridge/java_object_access.h"
#include "bridge/jni_env.h"
#include "bridge/jni_error.h"
#include "bridge/local_ref.h"
#include "imaging/bmp_decoder.h"
#include "imaging/bmp_encoder.h"
#include "support/exception.h"

namespace dactyra {
namespace {

constexpr char16_t kWrongFileFormat[] = u"Wrong file format";

// The elements of a byte[] held for a scope that makes no JNI call. A
// read-only hold is released without copying back, so a change made to the
// array by another Java thread meanwhile is never overwritten.
class TCriticalBytes {
 public:
  enum class Access { kRead, kWrite };

  TCriticalBytes(TJNIEnv& env, jbyteArray array, jsize length, Access access)
      : env_(env.raw()), array_(array), length_(length), access_(access) {
    data_ = static_cast<std::uint8_t*>(env_->GetPrimitiveArrayCritical(array_, nullptr));
    if (data_ == nullptr) throw EJNIError(u"Could not reach the bytes of a Java array");
  }
  ~TCriticalBytes() {
    env_->ReleasePrimitiveArrayCritical(array_, data_, access_ == Access::kRead ? JNI_ABORT : 0);
  }
  TCriticalBytes(const TCriticalBytes&) = delete;
  TCriticalBytes& operator=(const TCriticalBytes&) = delete;

  std::span<const std::uint8_t> bytes() const { return {data_, static_cast<std::size_t>(length_)}; }
  std::span<std::uint8_t> writable() { return {data_, static_cast<std::size_t>(length_)}; }

 private:
  JNIEnv* env_;
  jbyteArray array_;
  jsize length_;
  Access access_;
  std::uint8_t* data_ = nullptr;
};

void LoadBmp(TJNIEnv& env, jobject self, jbyteArray bmp) {
  if (bmp == nullptr) throw Exception(kWrongFileFormat);
  const jsize length = env.GetArrayLength(bmp);

  GrayBmpLayout layout;
  {
    const TCriticalBytes file(env, bmp, length, TCriticalBytes::Access::kRead);
    if (ParseGrayBmp(file.bytes(), layout) != BmpFault::kNone) throw Exception(kWrongFileFormat);
  }
  // Never more pixels than file bytes, but a Java array has its own limit.
  const std::size_t count = layout.PixelCount();
  if (count > static_cast<std::size_t>(std::numeric_limits<jsize>::max())) {
    throw Exception(kWrongFileFormat);
  }

  // The array is filled before any field changes, so that running out of
  // memory leaves the object as it was rather than half loaded.
  TLocalRef<jbyteArray> pixels(env, env.NewByteArray(static_cast<jsize>(count)));
  if (!pixels) throw Exception(kWrongFileFormat);
  {
    // The layout stays valid even if Java rewrote the bytes meanwhile: it
    // depends on the array's length, which cannot change.
    const TCriticalBytes file(env, bmp, length, TCriticalBytes::Access::kRead);
    TCriticalBytes target(env, pixels.get(), static_cast<jsize>(count),
                          TCriticalBytes::Access::kWrite);
    CopyGrayRows(file.bytes(), layout, target.writable());
  }

  TAcessoJNI image(env, self);
  image.SetCampoInt(u"width", layout.width);
  image.SetCampoInt(u"height", layout.height);
  image.DefCampoObjeto(u"buffer", pixels.get());
}

jbyteArray SaveBmp(TJNIEnv& env, jobject self) {
  TAcessoJNI image(env, self);
  TLocalRef<jbyteArray> buffer(env,
                               static_cast<jbyteArray>(image.PegCampoObjeto(u"buffer", u"[B")));
  const jint height = image.GetCampoInt(u"height");
  const jint width = image.GetCampoInt(u"width");

  // Checks the sizes and gives 0 for an empty picture, which has no bitmap.
  const std::size_t file_size = GrayBitmapFileSize(width, height);
  if (file_size == 0) return NovoArrayBytes(env, nullptr, 0);
  if (!buffer) throw Exception(u"NImage has no buffer");
  const jsize available = env.GetArrayLength(buffer.get());
  if (static_cast<std::size_t>(available) / static_cast<std::size_t>(width) <
      static_cast<std::size_t>(height)) {
    throw Exception(u"NImage buffer shorter than width × height");
  }

  TLocalRef<jbyteArray> bmp(env, env.NewByteArray(static_cast<jsize>(file_size)));
  if (!bmp) throw EJNIError(u"Java array not created");
  {
    const TCriticalBytes pixels(env, buffer.get(), available, TCriticalBytes::Access::kRead);
    TCriticalBytes file(env, bmp.get(), static_cast<jsize>(file_size),
                        TCriticalBytes::Access::kWrite);
    WriteGrayBitmap(width, height, pixels.bytes(), file.writable());
  }
  return bmp.release();
}

}  // namespace
}  // namespace dactyra

extern "C" {

JNIEXPORT void JNICALL Java_br_com_tessiva_images_NImage_loadBMP(JNIEnv* raw, jobject self,
                                                                 jbyteArray bmp) {
  using namespace dactyra;
  PlainFrame(raw, kJavaException, [&](TJNIEnv& env) {
    try {
      LoadBmp(env, self, bmp);
    } catch (...) {
      // Every failure, a pending JNI error included, reaches Java as the
      // one documented exception.
      ReportToJava(env, kJavaException, kWrongFileFormat);
    }
  });
}

// A failure (negative sizes, a missing or short buffer, a missing field)
// reaches Java as java.lang.Exception with its message, or as the JNI error
// a failed lookup left pending; the result is then null.
JNIEXPORT jbyteArray JNICALL Java_br_com_tessiva_images_NImage_saveBMP(JNIEnv* raw, jobject self) {
  using namespace dactyra;
  return PlainFrame(raw, kJavaException, [&](TJNIEnv& env) { return SaveBmp(env, self); });
}

}  // extern "C"
