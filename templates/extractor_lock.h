// ExtractorLock: serialises the NFExtractor entry points and everything
// they reach (the engine binding, its work buffer, the extractor handles).
// Recursive; exists from the moment the library is loaded until it is
// unloaded.
#pragma once

#include "platform/threads.h"

namespace dactyra {

platform::CriticalSection& ExtractorLock();

}  // namespace dactyra
