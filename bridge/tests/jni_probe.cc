// Test-only JNI library for br.com.tessiva.bridge.JniProbe: drives the frames,
// the object access routines and the attached-thread path from a real VM.
#include <jni.h>

#include <atomic>
#include <cstddef>
#include <vector>

#include "bridge/attached_thread.h"
#include "bridge/entry_frames.h"
#include "bridge/java_object_access.h"
#include "bridge/local_ref.h"
#include "platform/env.h"
#include "platform/threads.h"

namespace {

using dactyra::TJNIEnv;

std::atomic<bool> g_bodyRan{false};

// The probe's frames share one lock and report with the scanner family's
// exception class, as the scanner entry points do.
dactyra::platform::CriticalSection g_probeLock;
constexpr char16_t kScanManException[] = u"br/com/tessiva/scanners/ScanManException";

// An environment whose MonitorEnter fails, as the VM's does when it runs out
// of resources. The functions the frame may call on the failure path forward
// to the real environment; the frame must call no other.
struct MonitorFailingEnv {
  JNIEnv env;
  JNIEnv* real;
  JNINativeInterface_ table;

  static JNIEnv* Real(JNIEnv* e) { return reinterpret_cast<MonitorFailingEnv*>(e)->real; }

  explicit MonitorFailingEnv(JNIEnv* realEnv) : env{}, real(realEnv), table(*realEnv->functions) {
    table.MonitorEnter = [](JNIEnv*, jobject) -> jint { return JNI_ERR; };
    table.MonitorExit = [](JNIEnv* e, jobject o) { return Real(e)->MonitorExit(o); };
    table.ExceptionCheck = [](JNIEnv* e) { return Real(e)->ExceptionCheck(); };
    table.ExceptionClear = [](JNIEnv* e) { Real(e)->ExceptionClear(); };
    table.FindClass = [](JNIEnv* e, const char* n) { return Real(e)->FindClass(n); };
    table.ThrowNew = [](JNIEnv* e, jclass c, const char* m) { return Real(e)->ThrowNew(c, m); };
    table.DeleteLocalRef = [](JNIEnv* e, jobject o) { Real(e)->DeleteLocalRef(o); };
    env.functions = &table;
  }
};
static_assert(offsetof(MonitorFailingEnv, env) == 0);

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_br_com_tessiva_bridge_JniProbe_failInConvertingFrame(JNIEnv* env,
                                                                                 jclass,
                                                                                 jstring message) {
  dactyra::ConvertingFrame(env, g_probeLock, kScanManException, [&](TJNIEnv& e) {
    throw dactyra::Exception(e.JStringToString(message));
  });
}

JNIEXPORT jint JNICALL Java_br_com_tessiva_bridge_JniProbe_monitorFrameWithFailingMonitor(
    JNIEnv* env, jclass, jobject monitor) {
  MonitorFailingEnv failing(env);
  g_bodyRan = false;
  return dactyra::MonitorFrame(&failing.env, monitor, g_probeLock, kScanManException, [](TJNIEnv&) {
    g_bodyRan = true;
    return jint{5};
  });
}

JNIEXPORT jint JNICALL Java_br_com_tessiva_bridge_JniProbe_monitorFrame(JNIEnv* env, jclass,
                                                                        jobject monitor) {
  g_bodyRan = false;
  return dactyra::MonitorFrame(env, monitor, g_probeLock, kScanManException, [](TJNIEnv&) {
    g_bodyRan = true;
    return jint{5};
  });
}

JNIEXPORT jboolean JNICALL Java_br_com_tessiva_bridge_JniProbe_lastBodyRan(JNIEnv*, jclass) {
  return g_bodyRan ? JNI_TRUE : JNI_FALSE;
}

// Whether a thread other than the caller can take the frames' lock now.
JNIEXPORT jboolean JNICALL Java_br_com_tessiva_bridge_JniProbe_scannersLockFree(JNIEnv*, jclass) {
  bool free = false;
  auto probe = dactyra::platform::Env::Default().NewThread([&] {
    free = g_probeLock.TryEnter();
    if (free) g_probeLock.Leave();
  });
  if (!probe->Start()) return JNI_FALSE;
  probe->Join();
  return free ? JNI_TRUE : JNI_FALSE;
}

// Starts a library thread that attaches, calls target.callback(text) and, when
// `fail` is set, fails afterwards; waits for it and tells whether the work
// completed.
JNIEXPORT jboolean JNICALL Java_br_com_tessiva_bridge_JniProbe_callFromLibraryThread(
    JNIEnv* env, jclass, jobject target, jstring text, jboolean fail) {
  return dactyra::PlainFrame(env, u"java/lang/RuntimeException", [&](TJNIEnv& e) -> jboolean {
    const dactyra::platform::Text value = e.JStringToString(text);
    const bool failAfter = fail == JNI_TRUE;
    std::vector<jobject> handed{e.NewGlobalRef(target)};
    bool completed = false;
    auto thread = dactyra::platform::Env::Default().NewThread([&] {
      completed = dactyra::RunAttached(handed, [&](TJNIEnv& attached) {
        dactyra::ChamarVoidObjeto(attached, handed[0], u"callback", {value}, u"Ljava/lang/String;");
        if (failAfter) throw dactyra::Exception(u"dropped");
      });
    });
    if (!thread->Start()) {
      e.DeleteGlobalRef(handed[0]);
      throw dactyra::Exception(u"thread not started");
    }
    thread->Join();
    return completed ? JNI_TRUE : JNI_FALSE;
  });
}

// The attached-thread path run on a Java thread: it must use the thread as
// it is and leave it attached.
JNIEXPORT jboolean JNICALL Java_br_com_tessiva_bridge_JniProbe_callOnThisThread(JNIEnv*, jclass,
                                                                                jobject target) {
  return dactyra::RunAttached({},
                              [&](TJNIEnv& e) {
                                dactyra::ChamarVoidObjeto(e, target, u"callback", {u"here"},
                                                          u"Ljava/lang/String;");
                              })
             ? JNI_TRUE
             : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_br_com_tessiva_bridge_JniProbe_setGuessed(JNIEnv* env, jclass,
                                                                      jobject target, jstring field,
                                                                      jobject value) {
  dactyra::PlainFrame(env, u"java/lang/RuntimeException", [&](TJNIEnv& e) {
    dactyra::TAcessoJNI(e, target).DefCampoObjeto(e.JStringToString(field), value);
  });
}

JNIEXPORT jobject JNICALL Java_br_com_tessiva_bridge_JniProbe_getObjectField(JNIEnv* env, jclass,
                                                                             jobject target,
                                                                             jstring field,
                                                                             jstring cls) {
  return dactyra::PlainFrame(env, u"java/lang/RuntimeException", [&](TJNIEnv& e) {
    return dactyra::TAcessoJNI(e, target).PegCampoObjeto(e.JStringToString(field),
                                                         e.JStringToString(cls));
  });
}

// "ordinal N" for a constant, "null" for a missing one, followed by
// " pending" when JNI's lookup error was left pending (cleared here so the
// test can see the answer).
JNIEXPORT jstring JNICALL Java_br_com_tessiva_bridge_JniProbe_enumConstant(JNIEnv* env, jclass,
                                                                           jclass enumClass,
                                                                           jstring name) {
  return dactyra::PlainFrame(env, u"java/lang/RuntimeException", [&](TJNIEnv& e) -> jstring {
    jobject value = dactyra::PegValorEnum(e, enumClass, e.JStringToString(name));
    dactyra::platform::Text answer;
    if (value != nullptr) {
      dactyra::TLocalRef<> guard(e, value);
      answer =
          u"ordinal " + dactyra::platform::FromUtf8(std::to_string(dactyra::OrdinalEnum(e, value)));
    } else {
      answer = u"null";
    }
    if (e.ExceptionCheck()) {
      e.ExceptionClear();
      answer += u" pending";
    }
    return e.StringToJString(answer);
  });
}

JNIEXPORT jstring JNICALL Java_br_com_tessiva_bridge_JniProbe_roundTrip(JNIEnv* env, jclass,
                                                                        jstring s) {
  return dactyra::PlainFrame(env, u"java/lang/RuntimeException",
                             [&](TJNIEnv& e) { return e.StringToJString(e.JStringToString(s)); });
}

// Calls target.texts(a, b) `times` times in one native call with an 8-bit and
// a UTF-16 text argument, then target.ping() with no arguments.
JNIEXPORT void JNICALL Java_br_com_tessiva_bridge_JniProbe_callTexts(JNIEnv* env, jclass,
                                                                     jobject target, jint times) {
  dactyra::PlainFrame(env, u"java/lang/RuntimeException", [&](TJNIEnv& e) {
    for (jint i = 0; i < times; ++i) {
      dactyra::ChamarVoidObjeto(
          e, target, u"texts", {"a\xc3\xa7\xc3\xa3o", dactyra::platform::Text(u"\u00e7\U0001F600")},
          u"Ljava/lang/String;Ljava/lang/String;");
    }
    dactyra::ChamarVoidObjeto(e, target, u"ping", {}, u"");
  });
}

}  // extern "C"
