#include "scanning/tests/readers_fixture.h"

#include "capture/velmora_error.h"

namespace dactyra::testing {

void TLeitoresTeste::CarregarPlugin(const std::string& stem) {
  modulos.push_back(std::make_unique<TVxrCaptureModule>(T(stem), T(PluginPath(stem))));
}

void TLeitoresTeste::Adicionar(TVelmoraFP&) { ++componentes; }
void TLeitoresTeste::Remover(TVelmoraFP&) { --componentes; }

std::vector<TCaptureModule*> TLeitoresTeste::Todos() {
  std::vector<TCaptureModule*> todos;
  for (auto& m : modulos) todos.push_back(m.get());
  todos.push_back(&FModuloUareU);
  return todos;
}

int32_t TLeitoresTeste::NumLeitores() {
  int32_t n = 0;
  for (TCaptureModule* m : Todos()) n += m->DeviceCount();
  return n;
}

int32_t TLeitoresTeste::PegNumerosSerie(std::vector<platform::Text>& lista) {
  int32_t n = 0;
  for (TCaptureModule* m : Todos()) n += m->GetDeviceList(lista);
  return n;
}

std::unique_ptr<TVxCaptureDevice> TLeitoresTeste::AbrirDispositivo(const platform::Text& numSerie) {
  const size_t barra = numSerie.find(u'\\');
  const platform::Text prefixo = numSerie.substr(0, barra);
  const platform::Text serie = barra == platform::Text::npos ? u"" : numSerie.substr(barra + 1);
  std::unique_ptr<TVxCaptureDevice> device;
  for (TCaptureModule* m : Todos()) {
    if (platform::SameTextAsciiNoCase(m->Prefix(), prefixo)) device = m->OpenDevice(serie);
  }
  return device;
}

void TLeitoresTeste::FecharDispositivo(TVxCaptureDevice& disp) { disp.Close(); }

platform::Text TLeitoresTeste::TBindingTeste::NomeLeitor(int indice) const {
  if (indice < 0 || static_cast<size_t>(indice) >= t_.dpLeitores.size()) {
    throw Exception(u"Can not retrieve scanner id");
  }
  return t_.dpLeitores[static_cast<size_t>(indice)];
}

int TLeitoresTeste::TBindingTeste::IniciarCaptura(const platform::Text& nome, TSMImageProc proc,
                                                  void* param) const {
  t_.dpChamadas.push_back("start " + platform::ToUtf8(nome));
  if (t_.dpStatusInicio < 0) return t_.dpStatusInicio;
  t_.dpProc = proc;
  t_.dpParam = param;
  return 0;
}

int TLeitoresTeste::TBindingTeste::PararCaptura(const platform::Text& nome) const {
  t_.dpChamadas.push_back("stop " + platform::ToUtf8(nome));
  t_.dpProc = nullptr;
  return 0;
}

void TLeitoresTeste::ImagemDP(int32_t w, int32_t h, const uint8_t* pixels) {
  if (dpProc != nullptr) dpProc("UareU", w, h, pixels, 500, dpParam);
}

int32_t TBaseTeste::PesquisarImagem2(const TGrayImage* img, platform::Text& codigo,
                                     int32_t& indDedo, TVerificadorFPBase*) {
  pesquisando = true;
  if (segurar) {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return solto; });
  }
  pesquisando = false;
  if (falhar) throw EVelmoraFP(u"Base indisponível");
  std::lock_guard lock(mutex);
  for (const Entrada& e : entradas) {
    if (img->Height > 0 && img->Width > 0 && img->Bits[0][0] == e.chave) {
      codigo = e.codigo;
      indDedo = e.dedo;
      return e.id;
    }
  }
  return 0;
}

bool TBaseTeste::PegInformacao(int32_t id, platform::Text& codigo, int32_t& indDedo) {
  std::lock_guard lock(mutex);
  for (const Entrada& e : entradas) {
    if (e.id == id) {
      codigo = e.codigo;
      indDedo = e.dedo;
      return true;
    }
  }
  return false;
}

bool TBaseTeste::AdicionarImagemCadastroP6(const TGrayImage* imagem, int32_t& limiarUniu,
                                           int32_t& limiar1paraN) {
  if (imagem->Width > 0 && imagem->Height > 0 && imagem->Bits[0][0] == 0) cadastroOk = false;
  ++cadastroImagens;
  limiarUniu = 50;
  limiar1paraN = 40;
  const bool ok = cadastroOk;
  if (cadastroImagens == 3) {
    cadastroImagens = 0;
    cadastroOk = true;
  }
  return ok;
}

bool TBaseTeste::PesquisarImpressaoUnida(int32_t& id, platform::Text& codigo, int32_t& indDedo) {
  if (!existente) return false;
  id = 9;
  codigo = u"Maria";
  indDedo = 2;
  return true;
}

bool TBaseTeste::LeitorValido(const platform::Text& idLeitor) {
  for (const auto& l : leitoresRegistrados) {
    if (l == idLeitor) return true;
  }
  return false;
}

void TBaseTeste::Soltar() {
  {
    std::lock_guard lock(mutex);
    solto = true;
  }
  cv.notify_all();
}

}  // namespace dactyra::testing
