// The lock of the scanner family of entry points and the Java exception
// class they report with.
//
// Entry points made from a scanner's event thread (a listener calling back
// into the library) take the lock through TTravaScanners: while another
// thread holds it, they give up as soon as their own scanner is being
// stopped, so that a stop waiting for the event thread never waits for a
// call that waits for the stop.
#pragma once

#include "platform/threads.h"

namespace dactyra {

inline constexpr char16_t kScanManException[] = u"br/com/tessiva/scanners/ScanManException";

// Recursive; exists from the moment the library is loaded until it is
// unloaded. Serialises the ScannerMan and Scanner entry points, the scanner
// list and, through them, the reader manager.
platform::CriticalSection& ScannersLock();

// The message of a call refused on a scanner's event thread.
inline constexpr char16_t kChamadaRecusada[] =
    u"Chamada recusada: a captura deste leitor está sendo encerrada.";

// ScannersLock as the entry-point frames take it. On a Java thread: Enter.
// On an event thread whose scanner is being stopped (its stop signal is
// set), lock() raises EVelmoraFP kChamadaRecusada instead of waiting.
class TTravaScanners {
 public:
  void lock();
  // Never waits, on any thread.
  bool try_lock() { return ScannersLock().TryEnter(); }
  void unlock() { ScannersLock().Leave(); }
};

// Marks the calling thread as the event thread whose scanner's stop is
// signalled by `parada` (a manual-reset event), for the life of the guard.
class TMarcaThreadEventos {
 public:
  explicit TMarcaThreadEventos(platform::Event& parada);
  ~TMarcaThreadEventos();
  TMarcaThreadEventos(const TMarcaThreadEventos&) = delete;
  TMarcaThreadEventos& operator=(const TMarcaThreadEventos&) = delete;

 private:
  platform::Event* FAnterior;
};

}  // namespace dactyra
