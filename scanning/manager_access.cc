// The reader access over one reader manager (each call passes to it), and
// the naming of a reader by position over any access.
#include <vector>

#include "platform/text.h"
#include "scanning/reader_access.h"
#include "scanning/velmora_fp.h"

namespace dactyra {

void TAcessoGestor::Adicionar(TVelmoraFP& velmoraFP) { Gestor().Adicionar(&velmoraFP); }
void TAcessoGestor::Remover(TVelmoraFP& velmoraFP) { Gestor().Remover(&velmoraFP); }
void TAcessoGestor::IniciouConexao(TVelmoraFP& velmoraFP) { Gestor().IniciouConexao(velmoraFP); }

int32_t TAcessoGestor::NumLeitores() { return Gestor().NumLeitores(); }

int32_t TAcessoGestor::PegNumerosSerie(std::vector<platform::Text>& lista) {
  return Gestor().PegNumerosSerie(lista);
}

std::unique_ptr<TVxCaptureDevice> TAcessoGestor::AbrirDispositivo(const platform::Text& numSerie) {
  return Gestor().AbrirDispositivo(numSerie);
}

void TAcessoGestor::FecharDispositivo(TVxCaptureDevice& disp) { Gestor().FecharDispositivo(disp); }

platform::Text PegNumSerieLeitor(TAcessoLeitores& leitores, int32_t indice) {
  std::vector<platform::Text> lista;
  leitores.PegNumerosSerie(lista);
  if (indice < 0 || static_cast<size_t>(indice) >= lista.size()) return {};
  return lista[static_cast<size_t>(indice)];
}

}  // namespace dactyra
