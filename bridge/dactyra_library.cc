// libdactyra: the library a Java VM loads with System.loadLibrary("dactyra").
// Its exports are the JNI entry points of the subsystems linked into it; it
// has no load hook and registers nothing. Each subsystem makes the lock of
// its entry points when the library is loaded.
