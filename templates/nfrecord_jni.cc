// Native methods of br.com.tessiva.templates.NFRecord: the items of the
// record held in its byte[] field "data".
//
// Two roads. innerGetItemCount and innerFillItems set the fields of item
// objects the caller made, one field lookup per field set. innerPackItems,
// the road NFRecord's getters take, reads the record handed to it in one
// copy and answers every item's values in one int[] (the packed form of
// record_walk.h, written straight from the record's bytes): four JNI
// crossings per read whatever the count, where the filling road makes about
// a dozen per item. Both find the blocks with the same walk.
//
// Failures: a record or block that cannot be reached gives 0 and fills
// nothing. An item object without one of its fields stops the filling there
// (the items before it stay filled) with Java's NoSuchFieldError pending; an
// item array shorter than the items to fill, or a null item, raises
// IllegalArgumentException; an exception thrown by setType stops the filling
// and reaches the caller. An item without setType is reported on standard
// error by the VM and its other fields are still set.
#include <jni.h>

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <type_traits>
#include <vector>

#include "bridge/byte_array_elements.h"
#include "bridge/entry_frames.h"
#include "bridge/java_object_access.h"
#include "bridge/local_ref.h"
#include "templates/record_walk.h"

namespace dactyra::templates {
namespace {

constexpr char16_t kCallerError[] = u"java/lang/IllegalArgumentException";

// The record's bytes, or nothing when `data` is null or too short to hold
// any block.
std::optional<std::vector<uint8_t>> RecordBytes(TJNIEnv& env, jobject record) {
  TLocalRef<jbyteArray> data(
      env, static_cast<jbyteArray>(TAcessoJNI(env, record).PegCampoObjeto(u"data", u"[B")));
  if (!data || env.GetArrayLength(data.get()) <= 25) return std::nullopt;
  // A copy, so the array is released before any Java code runs.
  TByteArrayElements elements(env, data.get());
  const auto bytes = elements.bytes();
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void FillItem(TJNIEnv& env, jobject object, int32_t type, const RecordItem& item) {
  TAcessoJNI a(env, object);
  a.SetCampoInt(u"X", item.x);
  a.SetCampoInt(u"Y", item.y);
  switch (type) {
    case kMinutia:
      a.ChamarVoid(u"setType", u"I", {item.minutiaType});
      a.SetCampoInt(u"Angle", item.angle);
      a.SetCampoInt(u"Quality", item.quality);
      a.SetCampoInt(u"Curvature", item.curvature);
      a.SetCampoInt(u"G", item.g);
      break;
    case kCore:
      a.SetCampoInt(u"Angle", item.angle);
      break;
    case kDelta:
      a.SetCampoInt(u"Angle1", item.angle1);
      a.SetCampoInt(u"Angle2", item.angle2);
      a.SetCampoInt(u"Angle3", item.angle3);
      break;
    default:
      break;
  }
}

platform::Text Number(size_t n) { return platform::FromUtf8(std::to_string(n)); }

// jint is long on Windows: the same width as int32_t, another type, so the
// values are copied there and handed over as they are elsewhere.
template <typename Int>
void SetInts(TJNIEnv& e, jintArray out, const Int* values, jsize size) {
  if constexpr (std::is_same_v<Int, jint>) {
    e.SetIntArrayRegion(out, 0, size, values);
  } else {
    static_assert(sizeof(Int) == sizeof(jint));
    std::array<jint, kMostPacked> copy;
    std::copy_n(values, size, copy.begin());
    e.SetIntArrayRegion(out, 0, size, copy.data());
  }
}

}  // namespace
}  // namespace dactyra::templates

using namespace dactyra;
using namespace dactyra::templates;

extern "C" JNIEXPORT jint JNICALL
Java_br_com_tessiva_templates_NFRecord_innerGetItemCount(JNIEnv* env, jobject self, jint type) {
  return PlainFrame(env, kCallerError, [&](TJNIEnv& e) -> jint {
    const auto bytes = RecordBytes(e, self);
    return bytes ? ItemCount(*bytes, type) : 0;
  });
}

extern "C" JNIEXPORT void JNICALL Java_br_com_tessiva_templates_NFRecord_innerFillItems(
    JNIEnv* env, jobject self, jint type, jobjectArray items) {
  if (items == nullptr) return;
  PlainFrame(env, kCallerError, [&](TJNIEnv& e) {
    const auto bytes = RecordBytes(e, self);
    if (!bytes) return;
    const auto block = FindBlock(*bytes, type);
    if (!block) return;
    const std::vector<RecordItem> decoded = ReadItems(*bytes, *block);
    const auto available = static_cast<size_t>(e.GetArrayLength(items));
    if (available < decoded.size()) {
      throw Exception(u"The item array holds " + Number(available) + u" objects for " +
                      Number(decoded.size()) + u" items");
    }
    for (size_t i = 0; i < decoded.size(); ++i) {
      TLocalRef<> object(e, e.GetObjectArrayElement(items, static_cast<jsize>(i)));
      if (!object) throw Exception(u"Item object " + Number(i) + u" is null");
      FillItem(e, object.get(), type, decoded[i]);
    }
  });
}

extern "C" JNIEXPORT jintArray JNICALL Java_br_com_tessiva_templates_NFRecord_innerPackItems(
    JNIEnv* env, jclass, jbyteArray data, jint type) {
  return PlainFrame(env, kCallerError, [&](TJNIEnv& e) -> jintArray {
    // Records are a few hundred bytes: on the stack, with the heap only
    // for a larger one.
    std::array<uint8_t, 2048> small;
    std::vector<uint8_t> large;
    std::array<int32_t, kMostPacked> packed;
    size_t size = 0;
    const jsize length = data == nullptr ? 0 : e.GetArrayLength(data);
    if (length > 25) {
      uint8_t* bytes = small.data();
      if (static_cast<size_t>(length) > small.size()) {
        large.resize(static_cast<size_t>(length));
        bytes = large.data();
      }
      e.GetByteArrayRegion(data, 0, length, bytes);
      const std::span<const uint8_t> record(bytes, static_cast<size_t>(length));
      if (const auto block = FindBlock(record, type))
        size = PackBlock(record, *block, packed.data());
    }
    jintArray out = e.NewIntArray(static_cast<jsize>(size));
    SetInts(e, out, packed.data(), static_cast<jsize>(size));
    return out;
  });
}
