#include "scanning/tests/readers_fixture.h"

#include "capture/velmora_error.h"

namespace dactyra::testing {

void TLeitoresTeste::CarregarPlugin(const std::string& stem) {
  modulos.push_back(std::make_unique<TVxrCaptureModule>(T(stem), T(PluginPath(stem))));
}

void TLeitoresTeste::Adicionar(TVelmoraFP&) { ++componentes; }
void TLeitoresTeste::Remover(TVelmoraFP&) { --componentes; }

int32_t TLeitoresTeste::NumLeitores() {
  int32_t n = 0;
  for (auto& m : modulos) n += m->DeviceCount();
  return n;
}

int32_t TLeitoresTeste::PegNumerosSerie(std::vector<platform::Text>& lista) {
  int32_t n = 0;
  for (auto& m : modulos) n += m->GetDeviceList(lista);
  return n;
}

std::unique_ptr<TVxCaptureDevice> TLeitoresTeste::AbrirDispositivo(const platform::Text& numSerie) {
  const size_t barra = numSerie.find(u'\\');
  const platform::Text prefixo = numSerie.substr(0, barra);
  const platform::Text serie = barra == platform::Text::npos ? u"" : numSerie.substr(barra + 1);
  std::unique_ptr<TVxCaptureDevice> device;
  for (auto& m : modulos) {
    if (platform::SameTextAsciiNoCase(m->Prefix(), prefixo)) device = m->OpenDevice(serie);
  }
  return device;
}

void TLeitoresTeste::FecharDispositivo(TVxCaptureDevice& disp) { disp.Close(); }

platform::Text TLeitoresTeste::SMGetScannerId(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= dpLeitores.size()) {
    throw Exception(u"Can not retrieve scanner id");
  }
  return dpLeitores[static_cast<size_t>(index)];
}

int32_t TLeitoresTeste::SMStartCapture(const platform::Text& name, TSMImageProc imageProc, int32_t,
                                       void* param) {
  dpChamadas.push_back("start " + platform::ToUtf8(name));
  if (dpStatusInicio < 0) return dpStatusInicio;
  dpProc = imageProc;
  dpParam = param;
  return 0;
}

int32_t TLeitoresTeste::SMStopCapture(const platform::Text& name) {
  dpChamadas.push_back("stop " + platform::ToUtf8(name));
  dpProc = nullptr;
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
