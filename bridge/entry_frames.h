// The frames every exported native method runs its body in. A frame makes
// the call's TJNIEnv, takes the Java monitor and the library lock where the
// entry point needs them, and turns every failure into a Java exception and
// the neutral result (0, null, false, nothing): no C++ exception ever leaves
// an entry point.
//
// Bodies are callables taking TJNIEnv& and returning the entry point's
// result. A lock is anything with lock() and unlock(); a lock() that throws
// refuses the call, which is then reported as a failure of the body. How a failure of the body is
// reported:
//   - EJavaException (Java itself raised the exception, e.g. a called method
//     threw): the pending Java exception is the report;
//   - any other failure, in a converting frame: a pending JNI error is
//     cleared and `exceptionClass` is thrown with the failure's message;
//   - any other failure, in the other frames: a pending JNI error (such as
//     the NoSuchFieldError of a failed field lookup) stays as the report;
//     without one, `failureClass` is thrown with the failure's message
//     (java/lang/OutOfMemoryError for an allocation failure).
#pragma once

#include <jni.h>

#include <mutex>
#include <type_traits>
#include <utility>

#include "bridge/jni_env.h"
#include "platform/text.h"
#include "platform/threads.h"

namespace dactyra {

inline constexpr char16_t kJavaException[] = u"java/lang/Exception";

// Raises `classPath` with `message` in the calling Java thread, clearing an
// exception already pending. When the class itself cannot be found, JNI's
// NoClassDefFoundError is what reaches Java.
void ReportToJava(TJNIEnv& env, platform::TextView classPath, platform::TextView message) noexcept;

// The message of the failure being handled (call only inside a catch block).
platform::Text CurrentFailureMessage() noexcept;

namespace frame_detail {

enum class Conversion { kKeepPending, kAlways };

// Reports the failure being handled (call only inside a catch block).
void ReportCurrentFailure(TJNIEnv& env, platform::TextView classPath,
                          Conversion conversion) noexcept;

template <typename Body>
using Result = std::invoke_result_t<Body&, TJNIEnv&>;

template <typename R>
R Neutral() {
  if constexpr (!std::is_void_v<R>) return R{};
}

template <typename Body>
Result<Body> Run(TJNIEnv& env, platform::TextView classPath, Conversion conversion,
                 Body& body) noexcept {
  try {
    return body(env);
  } catch (...) {
    ReportCurrentFailure(env, classPath, conversion);
  }
  return Neutral<Result<Body>>();
}

}  // namespace frame_detail

// No lock (image and template entry points).
template <typename Body>
frame_detail::Result<Body> PlainFrame(JNIEnv* raw, platform::TextView failureClass,
                                      Body&& body) noexcept {
  TJNIEnv env(raw);
  return frame_detail::Run(env, failureClass, frame_detail::Conversion::kKeepPending, body);
}

// The lock for the body, no conversion (uninitialize, innerGetID, the
// extractor family).
template <typename Lock, typename Body>
frame_detail::Result<Body> LockedFrame(JNIEnv* raw, Lock& lock, platform::TextView failureClass,
                                       Body&& body) noexcept {
  TJNIEnv env(raw);
  try {
    std::lock_guard<Lock> held(lock);
    return frame_detail::Run(env, failureClass, frame_detail::Conversion::kKeepPending, body);
  } catch (...) {
    frame_detail::ReportCurrentFailure(env, failureClass, frame_detail::Conversion::kKeepPending);
  }
  return frame_detail::Neutral<frame_detail::Result<Body>>();
}

// The lock for the body and every failure turned into `exceptionClass` with
// the failure's message (innerStartCapturing, innerStopCapturing).
template <typename Lock, typename Body>
frame_detail::Result<Body> ConvertingFrame(JNIEnv* raw, Lock& lock,
                                           platform::TextView exceptionClass,
                                           Body&& body) noexcept {
  TJNIEnv env(raw);
  try {
    std::lock_guard<Lock> held(lock);
    return frame_detail::Run(env, exceptionClass, frame_detail::Conversion::kAlways, body);
  } catch (...) {
    frame_detail::ReportCurrentFailure(env, exceptionClass, frame_detail::Conversion::kAlways);
  }
  return frame_detail::Neutral<frame_detail::Result<Body>>();
}

// The Java monitor of `monitor`, then the lock (innerGetScannerCount,
// innerGetScanner). When the monitor cannot be entered: `exceptionClass`
// "Threading error", the neutral result, no lock taken. Released in the
// reverse order, on failure too; a failure of the body (or a lock() that
// refuses) is reported as in LockedFrame with `exceptionClass`.
//
// The lock is never waited for while the monitor is held: the holder of the
// lock may be waiting for a thread that needs the monitor (a stop waiting
// for the event thread whose listener calls a getter). When the lock is
// busy, the monitor is let go, the lock waited for and let go, and both are
// tried again; so both are held in the order monitor, then lock, and a
// thread waiting here holds neither. `Lock` needs try_lock() as well.
template <typename Lock, typename Body>
frame_detail::Result<Body> MonitorFrame(JNIEnv* raw, jobject monitor, Lock& lock,
                                        platform::TextView exceptionClass, Body&& body) noexcept {
  using R = frame_detail::Result<Body>;
  TJNIEnv env(raw);
  for (;;) {
    if (env.MonitorEnter(monitor) != 0) {
      ReportToJava(env, exceptionClass, u"Threading error");
      return frame_detail::Neutral<R>();
    }
    bool locked = false;
    try {
      locked = lock.try_lock();
    } catch (...) {
      env.MonitorExit(monitor);
      frame_detail::ReportCurrentFailure(env, exceptionClass,
                                         frame_detail::Conversion::kKeepPending);
      return frame_detail::Neutral<R>();
    }
    if (locked) break;
    env.MonitorExit(monitor);
    try {
      std::lock_guard<Lock> turn(lock);
    } catch (...) {
      frame_detail::ReportCurrentFailure(env, exceptionClass,
                                         frame_detail::Conversion::kKeepPending);
      return frame_detail::Neutral<R>();
    }
  }
  struct MonitorHeld {
    TJNIEnv& env;
    jobject monitor;
    ~MonitorHeld() { env.MonitorExit(monitor); }
  } monitorHeld{env, monitor};
  std::lock_guard<Lock> held(lock, std::adopt_lock);
  return frame_detail::Run(env, exceptionClass, frame_detail::Conversion::kKeepPending, body);
}

}  // namespace dactyra
