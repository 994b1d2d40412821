#include "capture/reader_manager.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <string>
#include <utility>

#include "capture/capture_device.h"
#include "capture/capture_module.h"
#include "capture/fpsmm/fpsmm_capture_module.h"
#include "capture/vxr/vxr_capture_module.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "support/exception.h"
#include "support/folders.h"
#include "support/tokens.h"

namespace dactyra {

using platform::Text;
using platform::TextView;

namespace {

// Any address inside this library serves to find the module that holds it.
const char kDentroDaBiblioteca = 0;

// Further module folders, searched after the two of the system; separated
// as the platform's search paths are.
constexpr char16_t kVariavelPastas[] = u"DACTYRA_MODULE_PATH";
char16_t SeparadorPastas() { return platform::PathDelimiter() == u'\\' ? u';' : u':'; }

Text SemExtensao(const Text& arquivo) {
  const auto ponto = arquivo.find_last_of(u'.');
  return ponto == Text::npos ? arquivo : arquivo.substr(0, ponto);
}

Text ComDelimitador(Text pasta) {
  if (pasta.empty() || PathDelimiters().find(pasta.back()) == Text::npos) {
    pasta += platform::PathDelimiter();
  }
  return pasta;
}

// The files of one pass, in the order Windows' file systems list them
// (letter case ignored), so that modules and their readers come in the same
// order on every platform and at every search.
std::vector<Text> ArquivosEmOrdem(platform::Env& env, const Text& pasta, const Text& mascara) {
  std::vector<Text> arquivos = env.ListFiles(pasta, mascara);
  std::sort(arquivos.begin(), arquivos.end(), [](const Text& a, const Text& b) {
    const int ordem = platform::CompareTextAsciiNoCase(a, b);
    return ordem != 0 ? ordem < 0 : a < b;
  });
  return arquivos;
}

Text Decimal(int64_t valor) { return platform::FromUtf8(std::to_string(valor)); }

std::mutex g_criacao;
// The library's manager: never destroyed while the library is loaded.
TVxGestorLeitores* g_gestor = nullptr;

}  // namespace

TVxGestorLeitores::TVxGestorLeitores(bool preCarregar, platform::Env& env,
                                     const TLeitoresUareU& uareU)
    : FEnv(env), FFolderGate(env), FModuloUareU(uareU, env) {
  if (preCarregar) CarregarModulos();
}

TVxGestorLeitores::~TVxGestorLeitores() = default;

int32_t TVxGestorLeitores::NumLeitores() {
  int64_t soma = 0;
  {
    std::lock_guard lock(FBloqueio);
    for (const auto& modulo : FListaModulos) soma += modulo->DeviceCount();
  }
  {
    std::lock_guard lock(FBloqueioUareU);
    soma += FModuloUareU.DeviceCount();
  }
  return static_cast<int32_t>(std::clamp<int64_t>(soma, INT32_MIN, INT32_MAX));
}

int32_t TVxGestorLeitores::PegNumerosSerie(std::vector<Text>& lista) {
  int64_t soma = 0;
  {
    std::lock_guard lock(FBloqueio);
    for (const auto& modulo : FListaModulos) soma += modulo->GetDeviceList(lista);
  }
  {
    std::lock_guard lock(FBloqueioUareU);
    soma += FModuloUareU.GetDeviceList(lista);
  }
  return static_cast<int32_t>(std::clamp<int64_t>(soma, INT32_MIN, INT32_MAX));
}

Text TVxGestorLeitores::PegNumSerieLeitor(int32_t indice) {
  std::vector<Text> lista;
  PegNumerosSerie(lista);
  if (indice < 0) throw Exception(u"List index out of bounds (" + Decimal(indice) + u")");
  if (static_cast<size_t>(indice) >= lista.size()) return Text();
  return lista[static_cast<size_t>(indice)];
}

void TVxGestorLeitores::Adicionar(TComponenteLeitor* componente) {
  if (!componente) return;
  std::lock_guard lock(FBloqueio);
  FListaComponentes.push_back(componente);
}

void TVxGestorLeitores::Remover(TComponenteLeitor* componente) {
  // The DigitalPersona lock first: an activation that loads the library
  // again cannot slip between the last removal and its unload.
  std::lock_guard uareU(FBloqueioUareU);
  bool vazia;
  {
    std::lock_guard lock(FBloqueio);
    const auto it = std::find(FListaComponentes.begin(), FListaComponentes.end(), componente);
    if (it != FListaComponentes.end()) FListaComponentes.erase(it);
    vazia = FListaComponentes.empty();
  }
  if (vazia) FModuloUareU.Descarregar();
}

void TVxGestorLeitores::IniciouConexao(const TComponenteLeitor& componente) {
  const Text nome = componente.NumSerieLeitor();
  if (!EhLeitorSemLista(nome) && !ComecaComBioI(nome)) {
    std::lock_guard lock(FBloqueioUareU);
    FModuloUareU.Carregar();
  }
  std::lock_guard lock(FBloqueio);
  if (componente.IndiceLeitor() == -1 && !FListaModulos.empty()) return;
  CarregarModulos();
}

std::unique_ptr<TVxCaptureDevice> TVxGestorLeitores::AbrirDispositivo(const Text& readerName) {
  // The serial is what follows the first backslash; modules see it alone.
  Text serial = readerName;
  const Text prefixo = PegarToken(serial, u"\\");
  std::unique_ptr<TVxCaptureDevice> resultado;
  // Only the last module's answer is kept; what an earlier one opened is
  // closed rather than left open and lost.
  auto fecharEmSilencio = [this](TVxCaptureDevice& disp) {
    try {
      FecharDispositivo(disp);
    } catch (...) {
    }
  };
  auto guardar = [&](std::unique_ptr<TVxCaptureDevice> disp) {
    if (resultado) fecharEmSilencio(*resultado);
    resultado = std::move(disp);
  };
  try {
    {
      std::lock_guard lock(FBloqueio);
      for (const auto& modulo : FListaModulos) {
        if (platform::SameTextAsciiNoCase(modulo->Prefix(), prefixo)) {
          guardar(modulo->OpenDevice(serial));
        }
      }
    }
    if (platform::SameTextAsciiNoCase(FModuloUareU.Prefix(), prefixo)) {
      std::unique_ptr<TVxCaptureDevice> disp;
      {
        std::lock_guard lock(FBloqueioUareU);
        disp = FModuloUareU.OpenDevice(serial);
      }
      guardar(std::move(disp));
    }
  } catch (...) {
    if (resultado) fecharEmSilencio(*resultado);
    throw;
  }
  return resultado;
}

void TVxGestorLeitores::FecharDispositivo(TVxCaptureDevice& disp) {
  if (dynamic_cast<TUareUCaptureDevice*>(&disp) != nullptr) {
    std::lock_guard lock(FBloqueioUareU);
    disp.Close();
    return;
  }
  std::lock_guard lock(FBloqueio);
  disp.Close();
}

std::vector<const TCaptureModule*> TVxGestorLeitores::Modulos() {
  std::lock_guard lock(FBloqueio);
  std::vector<const TCaptureModule*> modulos;
  for (const auto& modulo : FListaModulos) modulos.push_back(modulo.get());
  return modulos;
}

void TVxGestorLeitores::CarregarModulos() {
  std::lock_guard lock(FBloqueio);
  std::vector<Text> buscadas;
  auto buscar = [&](const Text& pasta) {
    // No folder at all is not the root folder; and a folder is searched once
    // per run however it is spelt in letter case or trailing delimiter.
    if (pasta.empty()) return;
    const Text normal = ComDelimitador(pasta);
    for (const Text& feita : buscadas) {
      if (platform::SameTextAsciiNoCase(feita, normal)) return;
    }
    buscadas.push_back(normal);
    if (FFolderGate.Admit(normal)) BuscarModulos(normal);
  };

  // A program whose path cannot be read has no folder to search: the
  // current folder is whatever the user stood in, not the program's.
  const Text executavel = FolderPart(FEnv.ExecutablePath(), PathDelimiters());
  if (!executavel.empty()) buscar(platform::FullPath(executavel));
  buscar(FolderOfModuleName(FEnv.ModuleFileNameOf(&kDentroDaBiblioteca), PathDelimiters()));

  if (auto ambiente = FEnv.OpenRegistryKey(platform::RegistryRoot::kCurrentUser, u"Environment")) {
    if (auto pastas = ambiente->ReadText(kVariavelPastas)) {
      Text resto = *pastas;
      while (!resto.empty()) {
        const auto fim = resto.find(SeparadorPastas());
        buscar(resto.substr(0, fim));
        resto = fim == Text::npos ? Text() : resto.substr(fim + 1);
      }
    }
  }
}

void TVxGestorLeitores::BuscarModulos(Text pasta) {
  pasta = ComDelimitador(std::move(pasta));
  const Text sufixo = platform::ModuleSuffix();

  // Reader plug-ins. A name ending in "_64" is the 64-bit build of a
  // plug-in, whatever its extension's letter case.
  for (const Text& arquivo : ArquivosEmOrdem(FEnv, pasta, u"vxr_*" + sufixo)) {
    const Text base = SemExtensao(arquivo);
    if (base.ends_with(u"_64")) continue;
    const Text nome = platform::AsciiLowerCase(TextView(base).substr(4));
    if (!TemModulo(nome)) AdicionarModuloVxr(nome, pasta + arquivo);
  }

  // FPSmm modules, but for the families the system reaches otherwise.
  for (const Text& arquivo : ArquivosEmOrdem(FEnv, pasta, u"FPSmm*" + sufixo)) {
    const Text nome = platform::AsciiLowerCase(TextView(SemExtensao(arquivo)).substr(5));
    if (nome == u"cyte" || nome == u"lumidigm" || nome == u"uareu") continue;
    if (!TemModulo(nome)) AdicionarModuloFPSmm(nome, pasta + arquivo);
  }
}

bool TVxGestorLeitores::TemModulo(const Text& nome) const {
  return std::any_of(FListaModulos.begin(), FListaModulos.end(), [&](const auto& modulo) {
    return platform::SameTextNoCase(modulo->Name(), nome);
  });
}

void TVxGestorLeitores::AdicionarModuloVxr(const Text& nome, const Text& caminho) {
  // A file that does not load or is refused is left out silently, and
  // tried again by the next search.
  try {
    FListaModulos.push_back(std::make_unique<TVxrCaptureModule>(nome, caminho, FEnv));
  } catch (...) {
  }
}

void TVxGestorLeitores::AdicionarModuloFPSmm(const Text& nome, const Text& caminho) {
  try {
    FListaModulos.push_back(std::make_unique<TFPSmmCaptureModule>(nome, caminho, FEnv));
  } catch (...) {
  }
}

TVxGestorLeitores& GarantirGestor(bool preCarregar) {
  return GarantirGestor(preCarregar, platform::Env::Default());
}

TVxGestorLeitores& GarantirGestor(bool preCarregar, platform::Env& env) {
  std::lock_guard lock(g_criacao);
  if (!g_gestor) g_gestor = new TVxGestorLeitores(preCarregar, env);
  return *g_gestor;
}

int32_t ContarLeitores() { return GarantirGestor(true).ContarLeitores(); }

Text PegNumSerieLeitor(int32_t indice) { return GarantirGestor(true).PegNumSerieLeitor(indice); }

bool EhLeitorSemLista(TextView readerName) {
  const TextView inicio = readerName.substr(0, 3);
  return inicio == u"VX:" || inicio == u"ZK\\";
}

bool ComecaComBioI(TextView readerName) {
  return readerName.size() >= 5 &&
         platform::SameTextNoCase(readerName.substr(0, 5), u"bio-i");
}

Text NomeGuidParaUareU(TextView nome) {
  if (!nome.starts_with(u'{')) return Text(nome);
  // Without its first and last characters; "{" alone leaves nothing.
  return u"UareU\\" + Text(nome.substr(1, nome.size() >= 2 ? nome.size() - 2 : 0));
}

}  // namespace dactyra
