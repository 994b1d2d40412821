#include "bridge/entry_frames.h"

#include <exception>
#include <new>

#include "bridge/jni_error.h"

namespace dactyra {

void ReportToJava(TJNIEnv& env, platform::TextView classPath, platform::TextView message) noexcept {
  try {
    // No JNI function but the exception ones may run while one is pending.
    if (env.ExceptionCheck()) env.ExceptionClear();
    jclass cls = env.FindClass(classPath);
    if (cls == nullptr) return;
    env.ThrowNew(cls, message);
    env.DeleteLocalRef(cls);
  } catch (...) {
    // Converting the texts ran out of memory; nothing more can be said.
  }
}

platform::Text CurrentFailureMessage() noexcept {
  try {
    try {
      throw;
    } catch (const Exception& e) {
      return e.message();
    } catch (const std::bad_alloc&) {
      return u"Out of memory";
    } catch (const std::exception& e) {
      return platform::FromUtf8(e.what());
    } catch (...) {
      return u"Internal error";
    }
  } catch (...) {
    return {};
  }
}

namespace frame_detail {

void ReportCurrentFailure(TJNIEnv& env, platform::TextView classPath,
                          Conversion conversion) noexcept {
  try {
    throw;
  } catch (const EJavaException&) {
    if (env.ExceptionCheck()) return;
  } catch (const std::bad_alloc&) {
    if (conversion == Conversion::kKeepPending) {
      if (!env.ExceptionCheck()) ReportToJava(env, u"java/lang/OutOfMemoryError", u"Out of memory");
      return;
    }
  } catch (...) {
    if (conversion == Conversion::kKeepPending && env.ExceptionCheck()) return;
  }
  ReportToJava(env, classPath, CurrentFailureMessage());
}

}  // namespace frame_detail

}  // namespace dactyra
