// The library-wide lock of the extractor entry points: recursive, exists
// from the moment the library is loaded and is kept until it is unloaded.
// (The scanner family's lock lives with the scanners.)
#pragma once

#include "platform/threads.h"

namespace dactyra {

// Serialises the NFExtractor entry points and the extraction engine binding.
platform::CriticalSection& ExtractorLock();

}  // namespace dactyra
