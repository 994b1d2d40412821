// The error class of the scanner component and of the module loaders: a
// failure the reader manager or the component recognises as its own (for
// instance a refused module file, which the manager skips).
#pragma once

#include "support/exception.h"

namespace dactyra {

class EVelmoraFP : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace dactyra
