// libdactyra: the library a Java VM loads with System.loadLibrary("dactyra").
// Its exports are the JNI entry points of the subsystems linked into it; it
// has no load hook and registers nothing.
#include "bridge/library_locks.h"

namespace {

// Library-load initialisation: the scanner lock is made before any Java
// thread can enter (the extractor's lock is made by its own unit).
[[maybe_unused]] const bool kLoaded = (dactyra::ScannersLock(), true);

}  // namespace
