#include "scanning/scanners_lock.h"

#include "capture/velmora_error.h"

namespace dactyra {

namespace {

thread_local platform::Event* tlParada = nullptr;

// Made when the library is loaded, before any Java thread can enter.
[[maybe_unused]] const bool kLockCreated = (ScannersLock(), true);

}  // namespace

platform::CriticalSection& ScannersLock() {
  static platform::CriticalSection lock;
  return lock;
}

void TTravaScanners::lock() {
  platform::Event* parada = tlParada;
  if (parada == nullptr) {
    ScannersLock().Enter();
    return;
  }
  // A short poll, only on an event thread and only while another thread
  // holds the lock: the stop that holds it sets `parada` and then waits for
  // this thread.
  while (!ScannersLock().TryEnter()) {
    if (parada->Wait(1)) throw EVelmoraFP(kChamadaRecusada);
  }
}

TMarcaThreadEventos::TMarcaThreadEventos(platform::Event& parada) : FAnterior(tlParada) {
  tlParada = &parada;
}

TMarcaThreadEventos::~TMarcaThreadEventos() { tlParada = FAnterior; }

}  // namespace dactyra
