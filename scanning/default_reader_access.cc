// The library's reader access: the process-wide reader manager, created at
// first use, as the scanner component sees it.
#include "capture/reader_manager.h"
#include "scanning/reader_access.h"

namespace dactyra {

namespace {

class TAcessoPadrao final : public TAcessoGestor {
 private:
  TVxGestorLeitores& Gestor() override { return GarantirGestor(true); }
};

}  // namespace

TAcessoLeitores& AcessoLeitoresPadrao() {
  static TAcessoPadrao acesso;
  return acesso;
}

}  // namespace dactyra
