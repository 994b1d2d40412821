// libdactyra: the library a Java VM loads with System.loadLibrary("dactyra").
// Its exports are the JNI entry points of the subsystems linked into it; it
// has no load hook and registers nothing.
#include "bridge/library_locks.h"

namespace {

// Library-load initialisation: the locks of the entry points are made
// before any Java thread can enter (each subsystem makes its own the same
// way).
[[maybe_unused]] const bool kLoaded = (dactyra::ExtractorLock(), true);

}  // namespace
