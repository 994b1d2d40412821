// The library-wide locks of the entry points. Both are recursive, exist from
// the moment the library is loaded and are kept until it is unloaded.
#pragma once

#include "platform/threads.h"

namespace dactyra {

// Serialises the ScannerMan and Scanner entry points and the scanner list.
platform::CriticalSection& ScannersLock();
// Serialises the NFExtractor entry points and the extraction engine binding.
platform::CriticalSection& ExtractorLock();

}  // namespace dactyra
