// The reader manager: the one place that knows which capture modules exist
// and owns the one reader list. It finds module files beside the host
// program and beside the library, loads each as a reader plug-in or an
// FPSmm module, and keeps DigitalPersona's binding as one more module (the
// "UareU" module, always last); it counts and names the readers of all
// modules, opens a reader by name through the module whose prefix the name
// carries, and keeps the scanner components alive so that DigitalPersona is
// unloaded after the last one.
//
// Reader names are "<module prefix>\<serial>"; the part before the first
// backslash selects the module. A folder another user could plant a module
// in, or a relative one, is not searched (support/module_folders.h); nor is
// the current folder when the host program's own folder is unknown.
//
// Every operation takes the manager lock, module searches and the component
// list included, so the manager is safe to enter from any thread. The lock
// is held across the calls into the file modules (counting, listing,
// opening, closing), so a module sees them one at a time.
//
// The UareU module is never called under the manager lock: closing one of
// its devices waits for the binding's delivery thread. Its calls, the
// Close of its devices included, run one at a time under the DigitalPersona
// lock alone, as the binding asks. An image handler of a UareU device must
// not call the manager (a Close under way holds that lock while it waits
// for the handler).
// Lock order: DigitalPersona lock, then manager lock, then a device's lock;
// the first two are never held together across a module call.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/digitalpersona/uareu_capture_module.h"
#include "platform/env.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "support/module_folders.h"

namespace dactyra {

class TCaptureModule;
class TVxCaptureDevice;

// What the manager needs to know of a scanner component.
class TComponenteLeitor {
 public:
  virtual ~TComponenteLeitor() = default;
  // The reader name the component is addressed by.
  virtual platform::Text NumSerieLeitor() const = 0;
  // The reader's index when the component was created by index; -1 when it
  // is addressed by name.
  virtual int32_t IndiceLeitor() const = 0;
};

class TVxGestorLeitores {
 public:
  // Creates the lists and, when `preCarregar` is true, runs the first
  // module search at once. `env` does every module, file and folder step;
  // both `env` and `uareU` outlive the manager.
  explicit TVxGestorLeitores(bool preCarregar, platform::Env& env = platform::Env::Default(),
                             const TLeitoresUareU& uareU = TLeitoresUareU::Padrao());
  // Releases the modules (the library's manager is never destroyed; tests'
  // managers are, after every device they opened is closed).
  ~TVxGestorLeitores();
  TVxGestorLeitores(const TVxGestorLeitores&) = delete;
  TVxGestorLeitores& operator=(const TVxGestorLeitores&) = delete;

  // The sum of the modules' device counts, in module order, the UareU
  // module's last. A module's error fails the whole count.
  int32_t NumLeitores();
  // The one reader list: appends every module's reader names to `lista`
  // (not cleared first), the UareU module's last, and returns the sum of
  // the modules' answers.
  int32_t PegNumerosSerie(std::vector<platform::Text>& lista);

  // NumLeitores (the library-wide name).
  int32_t ContarLeitores() { return NumLeitores(); }
  // Name `indice` of PegNumerosSerie's list; empty at or beyond its end. A
  // negative index raises the list's index error.
  platform::Text PegNumSerieLeitor(int32_t indice);

  // The scanner components alive now (not owned). Removing the last one
  // unloads DigitalPersona.
  void Adicionar(TComponenteLeitor* componente);
  void Remover(TComponenteLeitor* componente);

  // At the start of every activation of `componente`: loads DigitalPersona
  // for readers that may be its own, and searches the folders again for
  // module files that appeared, unless the component is addressed by name
  // and some module is loaded already.
  void IniciouConexao(const TComponenteLeitor& componente);

  // Opens the reader `readerName` through every module whose prefix (compared
  // ignoring ASCII case) is the part before the first backslash, passing the
  // rest as serial. The last module's device is returned; devices opened by
  // earlier ones are closed. Null when no module carries the prefix. A
  // module's error ends the search and is raised (earlier devices closed).
  std::unique_ptr<TVxCaptureDevice> AbrirDispositivo(const platform::Text& readerName);
  // Closes the device (the caller keeps the object): a UareU device under
  // the DigitalPersona lock, any other under the manager lock.
  void FecharDispositivo(TVxCaptureDevice& disp);

  // The module files loaded so far, in load order (for inspection; the
  // UareU module is not one).
  std::vector<const TCaptureModule*> Modulos();

 private:
  void CarregarModulos();
  void BuscarModulos(platform::Text pasta);
  bool TemModulo(const platform::Text& nome) const;
  void AdicionarModuloVxr(const platform::Text& nome, const platform::Text& caminho);
  void AdicionarModuloFPSmm(const platform::Text& nome, const platform::Text& caminho);

  platform::Env& FEnv;
  // Lets in the folders searched; reports each refused one once.
  ModuleFolderGate FFolderGate;
  // The manager lock (re-entrant, as a critical section is).
  platform::CriticalSection FBloqueio;
  // Runs the UareU module's calls one at a time (the binding asks its
  // callers to). Taken before the manager lock when both are held.
  std::mutex FBloqueioUareU;
  // DigitalPersona, after every module file.
  TUareUCaptureModule FModuloUareU;
  std::vector<TComponenteLeitor*> FListaComponentes;
  // In load order; names unique ignoring case. Never shrinks.
  std::vector<std::unique_ptr<TCaptureModule>> FListaModulos;
};

// The library's single manager, created (with Create(preCarregar)) by the
// first call. The Env overload chooses the Env of that creation only.
TVxGestorLeitores& GarantirGestor(bool preCarregar = true);
TVxGestorLeitores& GarantirGestor(bool preCarregar, platform::Env& env);

// The single manager's ContarLeitores and PegNumSerieLeitor, creating it
// first when needed.
int32_t ContarLeitores();
platform::Text PegNumSerieLeitor(int32_t indice);

// Reader names that are never in the reader list: the first three
// characters are "VX:" or "ZK\" (letter case counts).
bool EhLeitorSemLista(platform::TextView readerName);
// The first five characters are "bio-i", ignoring letter case.
bool ComecaComBioI(platform::TextView readerName);
// "{guid}" becomes "UareU\guid"; any other name stays as it is.
platform::Text NomeGuidParaUareU(platform::TextView nome);

}  // namespace dactyra
