// The reader access over one reader manager: each call passes to it.
#include "platform/text.h"
#include "scanning/reader_access.h"
#include "scanning/velmora_fp.h"
#include "support/exception.h"

namespace dactyra {

void TAcessoGestor::Adicionar(TVelmoraFP& velmoraFP) { Gestor().Adicionar(&velmoraFP); }
void TAcessoGestor::Remover(TVelmoraFP& velmoraFP) { Gestor().Remover(&velmoraFP); }
void TAcessoGestor::IniciouConexao(TVelmoraFP& velmoraFP) { Gestor().IniciouConexao(velmoraFP); }

int32_t TAcessoGestor::PegNumerosSerie(std::vector<platform::Text>& lista) {
  return Gestor().PegNumerosSerie(lista);
}

std::unique_ptr<TVxCaptureDevice> TAcessoGestor::AbrirDispositivo(const platform::Text& numSerie) {
  return Gestor().AbrirDispositivo(numSerie);
}

void TAcessoGestor::FecharDispositivo(TVxCaptureDevice& disp) { Gestor().FecharDispositivo(disp); }

platform::Text TAcessoGestor::SMGetScannerId(int32_t) {
  throw Exception(u"Can not retrieve scanner id");
}

}  // namespace dactyra
