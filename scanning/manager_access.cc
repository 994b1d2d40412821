// The reader access over one reader manager (each call passes to it), and
// the count and the naming of all readers over any access.
#include <algorithm>
#include <climits>
#include <vector>

#include "platform/text.h"
#include "scanning/reader_access.h"
#include "scanning/velmora_fp.h"
#include "support/exception.h"

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

int32_t ContarLeitores(TAcessoLeitores& leitores) {
  int64_t n = leitores.NumLeitores();
  if (leitores.SMLoad()) n += leitores.SMDeviceCount();
  return static_cast<int32_t>(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX));
}

platform::Text PegNumSerieLeitor(TAcessoLeitores& leitores, int32_t indice) {
  std::vector<platform::Text> lista;
  leitores.PegNumerosSerie(lista);
  if (leitores.SMLoad()) {
    const int32_t n = leitores.SMDeviceCount();
    for (int32_t i = 0; i < n; ++i) lista.push_back(leitores.SMGetScannerId(i));
  }
  if (indice < 0 || static_cast<size_t>(indice) >= lista.size()) return {};
  return lista[static_cast<size_t>(indice)];
}

platform::Text TAcessoGestor::SMGetScannerId(int32_t) {
  throw Exception(u"Can not retrieve scanner id");
}

}  // namespace dactyra
