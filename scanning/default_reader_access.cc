// The library's reader access: the process-wide reader manager and the
// DigitalPersona binding, as the scanner component sees them.
#include "capture/digitalpersona/scan_man.h"
#include "capture/reader_manager.h"
#include "scanning/reader_access.h"
#include "scanning/velmora_fp.h"

namespace dactyra {

namespace {

namespace dp = capture::digitalpersona;

class TAcessoPadrao final : public TAcessoGestor {
 public:
  bool SMLoad() override { return dp::SMLoad(); }
  int32_t SMDeviceCount() override { return dp::SMDeviceCount(); }
  platform::Text SMGetScannerId(int32_t index) override { return dp::SMGetScannerId(index); }
  int32_t SMStartCapture(const platform::Text& name, TSMImageProc imageProc, int32_t /*reserved*/,
                         void* param) override {
    return dp::SMStartCapture(name, imageProc, nullptr, param);
  }
  int32_t SMStopCapture(const platform::Text& name) override { return dp::SMStopCapture(name); }

 private:
  // Created at first use, not at load.
  TVxGestorLeitores& Gestor() override { return GarantirGestor(true); }
};

}  // namespace

TAcessoLeitores& AcessoLeitoresPadrao() {
  static TAcessoPadrao acesso;
  return acesso;
}

}  // namespace dactyra
