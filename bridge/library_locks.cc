#include "bridge/library_locks.h"

namespace dactyra {

// Function-local statics, so a lock is there even for a static object of
// another file that uses it while the library is being loaded.
platform::CriticalSection& ScannersLock() {
  static platform::CriticalSection lock;
  return lock;
}

namespace {

// Made when the library is loaded rather than on first use, so that two
// Java threads entering at once never race to make it.
[[maybe_unused]] const bool kLocksCreated = (ScannersLock(), true);

}  // namespace

}  // namespace dactyra
