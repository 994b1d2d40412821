// Calling Java from a thread the library started itself.
#pragma once

#include <jni.h>

#include <functional>
#include <span>

#include "bridge/jni_env.h"

namespace dactyra {

// Attaches the calling thread to the Java VM of the process, runs `work`
// with a TJNIEnv of its own, then deletes the global references in
// `handedOver` (objects of the starting call, which are not valid as local
// references here), frees the wrapper and detaches. A failure of the work,
// Java exceptions included, is dropped. A thread that is already attached
// (a Java thread) is used as it is and not detached.
//
// Returns true when the work ran to its end; false when it failed or when
// there is no VM to attach to (the references cannot be deleted then).
bool RunAttached(std::span<const jobject> handedOver,
                 const std::function<void(TJNIEnv&)>& work) noexcept;

}  // namespace dactyra
