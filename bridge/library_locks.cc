#include "bridge/library_locks.h"

namespace dactyra {

// A function-local static, so the lock is there even for a static object of
// another file that uses it while the library is being loaded.
platform::CriticalSection& ExtractorLock() {
  static platform::CriticalSection lock;
  return lock;
}

namespace {

// Created when the library is loaded rather than on first use, so that two
// Java threads entering at once never race to create it.
[[maybe_unused]] const bool kLockCreated = (ExtractorLock(), true);

}  // namespace

}  // namespace dactyra
