// What the scanner component needs from the world of readers: the reader
// manager (the one reader list, opening and closing readers, the register
// of live components), DigitalPersona's readers among them. One narrow
// interface, so that the component is tested over a set of readers of the
// test's making and the library plugs in the real manager.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "capture/capture_device.h"
#include "capture/reader_manager.h"
#include "platform/text.h"

namespace dactyra {

class TVelmoraFP;

class TAcessoLeitores {
 public:
  virtual ~TAcessoLeitores() = default;

  // The register of live components (the manager unloads the DigitalPersona
  // library when the last one goes).
  virtual void Adicionar(TVelmoraFP& velmoraFP) = 0;
  virtual void Remover(TVelmoraFP& velmoraFP) = 0;
  // At the start of every activation: may load the DigitalPersona library
  // and search again for module files.
  virtual void IniciouConexao(TVelmoraFP& velmoraFP) = 0;
  // The sum of every module's own device count; a module's failure to
  // name its readers does not touch it.
  virtual int32_t NumLeitores() = 0;
  // The one reader list: appends the names of the readers of every module;
  // returns how many the modules answered.
  virtual int32_t PegNumerosSerie(std::vector<platform::Text>& lista) = 0;
  // The device of that reader name, open; null when no module carries its
  // prefix. Module errors pass through.
  virtual std::unique_ptr<TVxCaptureDevice> AbrirDispositivo(const platform::Text& numSerie) = 0;
  // Closes the device (it stays with the caller).
  virtual void FecharDispositivo(TVxCaptureDevice& disp) = 0;
};

// The readers of one reader manager: the library's own access, and the
// access of a program (or test) that keeps a manager of its own.
class TAcessoGestor : public TAcessoLeitores {
 public:
  explicit TAcessoGestor(TVxGestorLeitores& gestor) : FGestor(&gestor) {}

  void Adicionar(TVelmoraFP& velmoraFP) override;
  void Remover(TVelmoraFP& velmoraFP) override;
  void IniciouConexao(TVelmoraFP& velmoraFP) override;
  int32_t NumLeitores() override;
  int32_t PegNumerosSerie(std::vector<platform::Text>& lista) override;
  std::unique_ptr<TVxCaptureDevice> AbrirDispositivo(const platform::Text& numSerie) override;
  void FecharDispositivo(TVxCaptureDevice& disp) override;

 protected:
  // Without a manager: Gestor() says which, at each use.
  TAcessoGestor() = default;
  virtual TVxGestorLeitores& Gestor() { return *FGestor; }

 private:
  TVxGestorLeitores* FGestor = nullptr;
};

// Name `indice` of the access's reader list; empty at or beyond its end.
platform::Text PegNumSerieLeitor(TAcessoLeitores& leitores, int32_t indice);

// The library's own: the process-wide reader manager.
TAcessoLeitores& AcessoLeitoresPadrao();

}  // namespace dactyra
