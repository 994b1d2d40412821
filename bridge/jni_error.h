// Failures raised by the JNI bridge itself.
#pragma once

#include "support/exception.h"

namespace dactyra {

// A failure of the bridge: a lookup that found nothing, an argument that
// cannot cross, an object that is not there.
class EJNIError : public Exception {
 public:
  using Exception::Exception;
};

// Java raised an exception during a JNI call (a called method threw, an
// allocation failed, an index was out of range). The Java exception is still
// pending: it is the report, so the entry point returns and lets it reach the
// caller instead of replacing it.
class EJavaException : public EJNIError {
 public:
  EJavaException() : EJNIError(u"A Java exception is pending") {}
};

}  // namespace dactyra
