#include "scanning/scanner_list.h"

#include <atomic>

#include "capture/velmora_error.h"
#include "platform/env.h"
#include "scanning/scanners_lock.h"

namespace dactyra {

namespace {

// Process-wide, so that no two lists (tests make several) ever give out
// the same number.
std::atomic<int64_t> gProximoHandle{1};

}  // namespace

TListaScanners::TListaScanners(TAcessoLeitores& leitores, platform::Env& env)
    : FLeitores(leitores), FEnv(env) {}

TListaScanners::~TListaScanners() { Descarregar(); }

void TListaScanners::Descarregar() {
  // At unload a Java thread may sit in an entry point for ever (the VM is
  // going): the lock is waited for a bounded time only.
  bool travado = false;
  for (int i = 0; i < 200 && !(travado = ScannersLock().TryEnter()); ++i) platform::Env::Default().Sleep(5);
  Esvaziar(kEsperaDescarga);
  if (travado) ScannersLock().Leave();
}

int32_t TListaScanners::ContarLeitores() { return FLeitores.NumLeitores(); }

int64_t TListaScanners::PegScanner(int32_t index) {
  if (index < 0) throw EVelmoraFP(u"List index out of bounds (" + TextoInteiro(index) + u")");
  // The count says which positions exist; the listing names them. A module
  // may count more readers than it names: those positions have no scanner.
  if (index >= ContarLeitores()) return 0;
  const platform::Text nome = PegNumSerieLeitor(FLeitores, index);
  if (nome.empty()) return 0;
  for (const Entrada& e : FScanners) {
    if (e.scanner->NumSerie() == nome) return e.handle;
  }
  auto scanner = std::make_unique<TInnerScanner>(nome, FLeitores, FEnv);
  const int64_t handle = gProximoHandle.fetch_add(1);
  FScanners.push_back({handle, std::move(scanner)});
  return handle;
}

TInnerScanner& TListaScanners::Scanner(int64_t handle) {
  for (const Entrada& e : FScanners) {
    if (e.handle == handle) return *e.scanner;
  }
  throw EVelmoraFP(u"Invalid scanner handle");
}

void TListaScanners::Esvaziar(uint32_t esperaMs) {
  // Taken out first: a listener's call arriving meanwhile finds no scanner.
  std::vector<Entrada> scanners = std::move(FScanners);
  FScanners.clear();
  const bool limitado = esperaMs != platform::kInfinite;
  if (limitado) {
    for (Entrada& e : scanners) e.scanner->PedirParada();
  }
  const uint32_t inicio = platform::Env::Default().TickCount();
  for (Entrada& e : scanners) {
    uint32_t espera = esperaMs;
    if (limitado) {
      const uint32_t passado = platform::Env::Default().TickCount() - inicio;
      espera = passado >= esperaMs ? 0 : esperaMs - passado;
    }
    try {
      e.scanner->StopCapturing(espera);
    } catch (...) {
      // Freed all the same; its component deactivates on destruction.
    }
    e.scanner.reset();
  }
}

}  // namespace dactyra
