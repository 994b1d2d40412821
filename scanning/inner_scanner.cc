#include "scanning/inner_scanner.h"

#include <utility>

#include "scanning/scanners_lock.h"
#include "support/generic_thread.h"

namespace dactyra {

using platform::Text;

void TCorridaEventos::Depositar(GrayImagePtr imagem) {
  GrayImagePtr anterior;
  {
    std::lock_guard held(FImagemLock);
    anterior = std::exchange(FGrayImage, std::move(imagem));
  }
  // The replaced image goes outside the lock; the event thread never reads
  // an image it has not taken out of the slot.
  FCondHasImage.Set();
}

GrayImagePtr TCorridaEventos::Retirar() {
  std::lock_guard held(FImagemLock);
  return std::move(FGrayImage);
}

TInnerScanner::TInnerScanner(const Text& readerName, TAcessoLeitores& leitores,
                             platform::Env& env)
    : FNumSerie(readerName), FVelmoraFP(std::make_unique<TVelmoraFP>(leitores, env)) {
  FVelmoraFP->SetIndiceLeitor(-1);
  FVelmoraFP->SetNumSerieLeitor(readerName);
  FVelmoraFP->OnCapturou = [this](TVelmoraFP&, int32_t) { HandleCapture(); };
}

TInnerScanner::~TInnerScanner() {
  try {
    StopCapturing();
  } catch (...) {
    // The component's destructor deactivates it anyway.
  }
}

std::shared_ptr<TCorridaEventos> TInnerScanner::Corrida() {
  std::lock_guard held(FCorridaLock);
  return FCorrida;
}

bool TInnerScanner::StartCapturing(std::shared_ptr<TEntregaEventos> entrega) {
  if (FCapturing.load()) return false;
  // The run exists before the reader is active, so that no image of this
  // run finds the slot of an earlier one.
  auto corrida = std::make_shared<TCorridaEventos>();
  {
    std::lock_guard held(FCorridaLock);
    FCorrida = corrida;
  }
  auto esquecer = [this] {
    std::lock_guard held(FCorridaLock);
    FCorrida.reset();
  };
  try {
    FVelmoraFP->SetModoOperacao(TModoOperacao::moDesenvolvimento);
    const Text& nome = FVelmoraFP->NumSerieLeitor();
    if (nome.size() >= 4 && platform::SameTextNoCase(Text(nome.substr(0, 4)), u"cis\\")) {
      FVelmoraFP->EnviarComandoStr(u"LFD", u"2,3", false);
    }
  } catch (...) {
    esquecer();
    throw;
  }
  FCapturing.store(true);
  try {
    TThreadGenerica::CreateSelfFreeing(
        [corrida, entrega](TThreadGenerica&) { RunEvents(corrida, entrega); }, nullptr);
  } catch (...) {
    // No event thread: the run did not start, the reader goes back.
    FCapturing.store(false);
    esquecer();
    try {
      FVelmoraFP->SetModoOperacao(TModoOperacao::moInativo);
    } catch (...) {
    }
    throw;
  }
  return true;
}

void TInnerScanner::StopCapturing(uint32_t esperaMs) {
  std::shared_ptr<TCorridaEventos> corrida;
  {
    std::lock_guard held(FCorridaLock);
    corrida = std::move(FCorrida);
  }
  FCapturing.store(false);
  if (corrida) {
    corrida->FCapturing.store(false);
    corrida->FParada.Set();
    corrida->FCondHasImage.Set();
    // On the event thread itself nothing is waited for: it ends when the
    // delivery that called us returns.
    if (corrida->FIdThread.load() != platform::CurrentThreadId()) {
      corrida->FTerminou.Wait(esperaMs);
    }
  }
  FVelmoraFP->SetModoOperacao(TModoOperacao::moInativo);
}

void TInnerScanner::PedirParada() {
  std::shared_ptr<TCorridaEventos> corrida = Corrida();
  if (!corrida) return;
  corrida->FCapturing.store(false);
  corrida->FParada.Set();
  corrida->FCondHasImage.Set();
}

void TInnerScanner::HandleCapture() {
  std::shared_ptr<TCorridaEventos> corrida = Corrida();
  if (!corrida) return;
  corrida->Depositar(CopyGrayImage(FVelmoraFP->ImagemAtual()));
}

void TInnerScanner::RunEvents(const std::shared_ptr<TCorridaEventos>& corrida,
                              const std::shared_ptr<TEntregaEventos>& entrega) {
  corrida->FIdThread.store(platform::CurrentThreadId());
  TMarcaThreadEventos marca(corrida->FParada);
  try {
    entrega->Executar([&] {
      for (;;) {
        corrida->FCondHasImage.Wait();
        if (!corrida->FCapturing.load()) break;
        GrayImagePtr imagem = corrida->Retirar();
        // A wake-up whose image an earlier round took already.
        if (!imagem) continue;
        entrega->Entregar(*imagem);
        corrida->FEntregues.fetch_add(1);
      }
    });
  } catch (...) {
    // The thread ends without a report; the scanner stays capturing.
  }
  corrida->FTerminou.Set();
}

}  // namespace dactyra
