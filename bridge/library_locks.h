// The library-wide lock of the scanner entry points: recursive, exists from
// the moment the library is loaded and is kept until it is unloaded. (The
// extractor's lock, ExtractorLock, lives with the extractor in templates/.)
#pragma once

#include "platform/threads.h"

namespace dactyra {

// Serialises the ScannerMan and Scanner entry points and the scanner list.
platform::CriticalSection& ScannersLock();

}  // namespace dactyra
