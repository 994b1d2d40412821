// The DigitalPersona binding's operations (first cut: no library found yet).
#include "capture/digitalpersona/scan_man.h"

#include "support/exception.h"

namespace dactyra::capture::digitalpersona {

bool SMLoad(platform::Env& /*env*/) { return false; }

void SMUnload() {}

int SMDeviceCount() { return 0; }

platform::Text SMGetScannerId(int /*index*/) { throw Exception(u"Can not retrieve scanner id"); }

int SMStartCapture(const platform::Text& /*name*/, TSMImageProc /*image_proc*/, void* /*reserved*/,
                   void* /*param*/) {
  return kSMNotInitialised;
}

int SMStopCapture(const platform::Text& /*name*/) { return kSMNotInitialised; }

}  // namespace dactyra::capture::digitalpersona
